#pragma once

#include "base/messages.h"
#include "net/inet.h"

#include <QString>

namespace zandrel {

// Fetches url with the caller's transfer component and stores the body as
// folder + separator + the text after the URL's last "/". Returns true when the whole body is
// stored. A busy component gives false at once, silently, touching nothing, and so does a
// request the caller cancelled (Inet::cancel) once it has dropped what arrived; any other failure
// shows one message box and gives false, leaving an earlier file of that name as it was.
// Never throws.
//
// The stored file takes the server's Last-Modified as its modification time and keeps where it
// came from and the server's ETag (see fetch_record.h). When the file there came from the same
// URL and is unchanged since, the request asks whether the server's copy changed
// (If-None-Match / If-Modified-Since); a 304 leaves the file as it is and gives true.
bool DownloadFile(Inet& Inet1, const QString& url, const QString& folder, MessageBoxes& boxes);

}  // namespace zandrel
