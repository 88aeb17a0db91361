#include "frame/desktop_mail.h"

#include <QDesktopServices>

namespace zandrel::frame {

// The desktop's handler for mailto: links (xdg-open on Linux).
void DesktopMailClient::compose(const QUrl& mailto) {
    QDesktopServices::openUrl(mailto);
}

}  // namespace zandrel::frame
