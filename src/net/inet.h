#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <cstdint>
#include <functional>

namespace zandrel {

// Receives a response body piece by piece, in order. It may throw to abandon the transfer;
// OpenURL then rethrows what it threw.
using BodySink = std::function<void(QByteArrayView chunk)>;

// Error numbers that OpenURL raises besides the HTTP status of a refused request (4xx, 5xx...).
inline constexpr std::int32_t kInetTransferError = 20000;  // + the transfer library's code
inline constexpr std::int32_t kInetBusy = 30000;           // a request is already running
// The server's certificate (authority, host name, dates) could not be verified.
inline constexpr std::int32_t kInetCertificateError = 30001;
// A redirect from https to http, which would hand the rest of the fetch to anyone on the way.
inline constexpr std::int32_t kInetDowngrade = 30002;
// The reply ended before its header block did (a status line, or part of a header, then close).
inline constexpr std::int32_t kInetIncompleteReply = 30003;
// The request was cancelled (Inet::cancel): the player's own choice, not a failure to report.
inline constexpr std::int32_t kInetCancelled = 30004;

// What the caller already holds of the resource, for a conditional request. Empty values are
// not sent; with neither set the request is plain and a 304 is a failure like any other status.
struct FetchConditions {
    QByteArray etag;                 // sent as If-None-Match
    std::int64_t lastModified = -1;  // seconds since the epoch, sent as If-Modified-Since

    bool any() const { return !etag.isEmpty() || lastModified >= 0; }
};

// What happened on the last request of an Inet, filled in as far as it got, also on failure.
struct FetchInfo {
    QString url;       // as asked for
    QString finalUrl;  // after redirects: the address that gave the final response
    int redirects = 0;
    long status = 0;                 // of the final response; 0 when none arrived
    std::int64_t bodyBytes = 0;      // of the final response's body, as received
    QByteArray etag;                 // the final response's ETag, empty when not sent
    QByteArray lastModifiedText;     // its Last-Modified as sent, empty when not sent
    std::int64_t lastModified = -1;  // the same in seconds since the epoch; -1 if absent or bad
    QByteArray contentEncoding;      // its Content-Encoding as sent, empty when not sent
    bool conditional = false;        // If-None-Match / If-Modified-Since went with the request
    bool notModified = false;        // a 304 answered that conditional request: nothing to store
    bool tls = false;                // the final response came over https
    bool tlsVerified = false;        // ...with its certificate and host name verified
    bool complete = false;           // the request succeeded (OpenURL returned)
};

// The HTTP transfer component a fetching window holds. One request at a time; the request runs
// on the calling thread, which stays in OpenURL until the body has arrived, so an idle hook
// lets the window keep itself painted meanwhile.
//
// http and https are fetched (port 80 or 443 unless the URL names one). Up to five redirects are
// followed, from http to http or https and from https to https only. Certificates and host
// names are always verified, against the system's store or the bundle that CURL_CA_BUNDLE or
// else SSL_CERT_FILE / SSL_CERT_DIR name, as the curl command line does; proxies come from the
// environment (http_proxy, https_proxy, no_proxy). Only a complete 200 or 203 reply reaches the
// sink: any other status, a reply cut short in its headers or its body, a connect time-out and a
// stall (no byte within the stall time-out once connected) are failures. The one exception is a
// 304 in answer to a conditional request, which is success with nothing sent to the sink.
class Inet {
public:
    Inet();
    Inet(const Inet&) = delete;
    Inet& operator=(const Inet&) = delete;

    // True while a request on this instance has not finished (e.g. seen from the idle hook).
    bool StillExecuting() const { return executing_; }

    // What has arrived of the current (or last) request's body, and its announced length (-1 while
    // the server has not sent one). Meant for the idle hook, to show progress.
    std::int64_t BytesReceived() const { return bytesReceived_; }
    std::int64_t BytesTotal() const { return bytesTotal_; }

    // The last request's outcome; see FetchInfo.
    const FetchInfo& LastFetch() const { return last_; }

    void setConnectTimeoutMs(int ms) { connectTimeoutMs_ = ms; }
    void setStallTimeoutMs(int ms) { stallTimeoutMs_ = ms; }
    // Called on the calling thread about every 40 ms while a request runs.
    void setIdleHook(std::function<void()> hook) { idleHook_ = std::move(hook); }
    // Ends the running request (e.g. from the idle hook) as soon as the hook has returned:
    // OpenURL throws kInetCancelled. Does nothing when no request runs.
    void cancel() {
        if (executing_) cancelled_ = true;
    }

    // Fetches url and hands its body to sink. Throws Error on any failure; a failure may come
    // after part of the body has already reached the sink. With conditions, a 304 reply returns
    // normally with LastFetch().notModified set and nothing handed to the sink.
    void OpenURL(const QString& url, const BodySink& sink, const FetchConditions& conditions = {});

private:
    void updateProgress(void* easy);

    int connectTimeoutMs_ = 60000;
    int stallTimeoutMs_ = 60000;
    std::function<void()> idleHook_;
    bool executing_ = false;
    bool cancelled_ = false;
    std::int64_t bytesReceived_ = 0;
    std::int64_t bytesTotal_ = -1;
    FetchInfo last_;
};

}  // namespace zandrel
