#pragma once

#include "base/error.h"
#include "net/inet.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <cstdint>

namespace zandrel::net {

// Where a download's body goes: our temporary file, which a try appends to or starts over.
class PartSink {
public:
    virtual ~PartSink() = default;
    virtual std::int64_t size() const = 0;  // bytes held
    virtual void restart() = 0;             // drops what is held
    virtual void append(QByteArrayView chunk) = 0;
    // Before a reply's first chunk: the whole resource's length as that reply announces it (-1
    // when it does not). Throwing here ends the transfer before any of its body is taken.
    virtual void announced(std::int64_t resourceLength) { (void)resourceLength; }
};

// A failure the same address may recover from on another try: the connection was reset or
// closed before the announced length, fell silent, or a reply broke off in its headers. A
// refused status, a certificate, a downgrade, a trickle, a cancel or a local write failure are
// not: trying the same address again would end the same way.
bool isBreak(const Error& e);

// A failure after which the next source of the same file is worth trying: a refused status, a
// time-out (silence, a trickle, no connection), a certificate failure, no connection, a reply
// that cannot be the file (an impossible length, an unasked coding, a web page), or a break that
// its tries did not mend.
bool isSourceFailure(const Error& e);

// A time-out: no byte within the stall time-out (or no connection within the connect
// time-out), or a trickle under the minimum rate.
bool isTimeOut(const Error& e);

// No server answered at the address: its name or its proxy's was not found, the connection
// was refused or not made in time. A stall after a reply began ends the same way: whether one
// began is for LastFetch() to tell.
bool isUnreachable(const Error& e);

// Fetches url into part with inet, trying again after a break when bytes had arrived, up to
// inet.Retries().retries times with a pause that doubles each time; the stage's retry number
// tells the window. When the server said Accept-Ranges: bytes and gave a validator (a strong
// ETag, else Last-Modified), a try continues from the bytes held with Range and If-Range; a
// whole reply instead (the file changed, or the server ignores ranges) starts the part over.
// A try that brings no new byte ends the retries. conditions go with the first try only.
// Throws the last try's failure; returns with inet.LastFetch() describing the last try.
// resumed is set when the part held bytes of an earlier try at the end.
void fetchWithRetries(Inet& inet, const QString& url, PartSink& part,
                      const FetchConditions& conditions, bool* resumed = nullptr);

}  // namespace zandrel::net
