#pragma once

#include "base/messages.h"
#include "net/inet.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>

namespace zandrel::net {

// Fetches url with the caller's transfer component and stores the body as
// folder + separator + the text after the URL's last "/". Returns true when the whole body is
// stored. A busy component gives false at once, silently, touching nothing, and so does a
// request the caller cancelled (Inet::cancel) once it has dropped what arrived; any other failure
// shows one message box and gives false, leaving an earlier file of that name as it was.
// Never throws.
//
// The stored file takes the server's Last-Modified as its modification time and keeps where it
// came from and the server's ETag (see fetch_record.h). A transfer cut after bytes arrived is
// tried again, continuing from those bytes where the server allows it (see fetchWithRetries);
// they stay in a temporary file until the whole body is in. When the file there came from the same
// URL and is unchanged since, the request asks whether the server's copy changed
// (If-None-Match / If-Modified-Since); a 304 leaves the file as it is and gives true.
bool DownloadFile(Inet& Inet1, const QString& url, const QString& folder, MessageBoxes& boxes);

// What a server's settings announce about its update; either may be absent.
struct AnnouncedUpdate {
    QByteArray sha256;       // its SHA-256, 32 bytes; empty when not announced
    std::int64_t size = -1;  // its size in bytes; -1 when not announced
};

// The update file, as DownloadFile stores it, from the first of sources that gives the announced
// bytes: the server's own address first, then its mirrors in order. The hash is taken as the
// bytes arrive (a continued transfer adds only the rest), and the size bounds every transfer: a
// reply that announces more, or brings more, is ended at once. A source is left for the next
// one after a refused status, a time-out, a trickle, a certificate failure, a cut its tries did
// not mend, or other bytes; inet's stage says which source is being fetched. Stored under the
// name the first address gives; other bytes are never stored. Without a hash the mirrors cannot
// be trusted and only the first address is fetched. One box when no source gave it, naming what
// was expected and what arrived when a source gave other bytes; none for a cancel.
bool DownloadUpdate(Inet& inet, const QStringList& sources, const AnnouncedUpdate& announced,
                    const QString& folder, MessageBoxes& boxes);

}  // namespace zandrel::net
