#pragma once

#include "base/messages.h"
#include "net/inet.h"

#include <QString>

namespace zandrel {

// Fetches url with the caller's transfer component and stores the body as
// folder + separator + the text after the URL's last "/". Returns true when the whole body is
// stored. A busy component gives false at once, silently, touching nothing; any other failure
// shows one message box and gives false, leaving an earlier file of that name as it was.
// Never throws.
bool DownloadFile(Inet& Inet1, const QString& url, const QString& folder, MessageBoxes& boxes);

}  // namespace zandrel
