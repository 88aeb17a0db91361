#include "frame/desktop_mail.h"

#include <QDesktopServices>

namespace zandrel::frame {

// The desktop's handler for mailto: links, started as every program of ours is; Qt's own
// hand-off, where the desktop has none of those, passes our descriptors on to what it starts.
void DesktopMailClient::compose(const QUrl& mailto) {
    if (!platform::openWithDesktop(mailto)) QDesktopServices::openUrl(mailto);
}

}  // namespace zandrel::frame
