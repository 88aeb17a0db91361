#pragma once

#include "base/platform.h"

namespace zandrel::frame {

// Opens a mailto: link with the desktop's handler (xdg-open on Linux). Needs QtGui, so it lives
// in the frame, not in the QtCore-only platform unit.
class DesktopMailClient : public platform::MailClient {
public:
    void compose(const QUrl& mailto) override;
};

}  // namespace zandrel::frame
