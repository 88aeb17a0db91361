#pragma once

#include "base/error.h"
#include "net/transfer_failure.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>

namespace zandrel::net {

// Receives a response body piece by piece, in order. It may throw to abandon the transfer;
// OpenURL then rethrows what it threw.
using BodySink = std::function<void(QByteArrayView chunk)>;

// What the caller already holds of the resource, for a conditional request. Empty values are
// not sent; with neither set the request is plain and a 304 is a failure like any other status.
struct FetchConditions {
    QByteArray etag;                 // sent as If-None-Match
    std::int64_t lastModified = -1;  // seconds since the epoch, sent as If-Modified-Since

    // Continuing a cut transfer: ask for the body from this byte on (Range: bytes=N-), provided
    // the resource still is the one whose validator ifRange gives (If-Range). A 206 answering
    // from exactly there reaches the sink like a 200; a 200 is the whole resource again.
    std::int64_t from = -1;
    QByteArray ifRange;

    bool any() const { return !etag.isEmpty() || lastModified >= 0; }
};

// How a download cut after bytes arrived is tried again (see fetchWithRetries).
struct RetryPolicy {
    int retries = 5;          // tries after the first, at most
    int firstPauseMs = 1000;  // before the first of them; each next pause is twice as long
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
    QByteArray contentType;          // its Content-Type as sent, empty when not sent
    bool conditional = false;        // If-None-Match / If-Modified-Since went with the request
    bool notModified = false;        // a 304 answered that conditional request: nothing to store
    bool tls = false;                // the final response came over https
    bool tlsVerified = false;        // ...with its certificate and host name verified
    bool complete = false;           // the request succeeded (OpenURL returned)
    bool acceptRanges = false;       // the final response said Accept-Ranges: bytes
    std::int64_t offset = 0;         // where in the resource its body began (a 206's start)
    std::int64_t totalLength = -1;   // the whole resource's length, when the server told it
    std::optional<Error> failure;    // what the request failed with
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
// stall (no byte within the stall time-out once connected) and a trickle (under the minimum rate)
// are failures. The exceptions: a 304 in answer to a conditional request, which is success with
// nothing sent to the sink, and a 206 that answers a range request from the byte it asked for.
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

    // Where in the resource the current reply's body begins: 0 for a whole reply, the asked
    // start for a 206. Valid from the first chunk handed to the sink on.
    std::int64_t BodyOffset() const { return bodyOffset_; }
    // The whole resource's length as the current reply announces it (a whole reply's
    // Content-Length, the total of a 206's Content-Range); -1 when it announces none. Valid from
    // the first chunk handed to the sink on.
    std::int64_t ResourceLength() const { return resourceLength_; }

    // The last request's outcome; see FetchInfo.
    const FetchInfo& LastFetch() const { return last_; }

    void setConnectTimeoutMs(int ms) { connectTimeoutMs_ = ms; }
    void setStallTimeoutMs(int ms) { stallTimeoutMs_ = ms; }
    // A transfer whose body arrives at fewer than bytesPerSecond on average over windowMs fails
    // with TransferFailure::TooSlow (the first window starts when the connection is up). 0 turns it
    // off.
    void setMinimumRate(int bytesPerSecond, int windowMs) {
        minimumRate_ = bytesPerSecond;
        rateWindowMs_ = windowMs;
    }
    // Called on the calling thread about every 40 ms while a request runs.
    void setIdleHook(std::function<void()> hook) { idleHook_ = std::move(hook); }
    // Ends the running request (e.g. from the idle hook) as soon as the hook has returned:
    // OpenURL throws TransferFailure::Cancelled. Does nothing when no request runs.
    void cancel() {
        if (executing_) cancelled_ = true;
    }

    const RetryPolicy& Retries() const { return retryPolicy_; }
    void setRetryPolicy(RetryPolicy policy) { retryPolicy_ = policy; }

    // Waits ms milliseconds as a request would (between two tries of a download): the idle hook
    // keeps being called and cancel() ends the wait with TransferFailure::Cancelled.
    void Wait(int ms);

    // What the download going on through this instance is doing besides receiving, for the
    // window to show: set by whoever retries or changes sources, read from the idle hook.
    struct Stage {
        int retry = 0;    // 1.. while a try after a cut runs or is waited for; 0 on the first
        int retries = 0;  // how many tries after a cut there may be
        int source = 0;   // 0: the server's own address; 1..: the mirrors in order
        QString url;      // the address being fetched
    };
    const Stage& CurrentStage() const { return stage_; }
    // True during Wait: the pause between two tries.
    bool Waiting() const { return waiting_; }
    void setStage(Stage stage) { stage_ = std::move(stage); }

    // Fetches url and hands its body to sink. Throws Error on any failure; a failure may come
    // after part of the body has already reached the sink. With conditions, a 304 reply returns
    // normally with LastFetch().notModified set and nothing handed to the sink.
    void OpenURL(const QString& url, const BodySink& sink, const FetchConditions& conditions = {});

private:
    void request(const QString& url, const BodySink& sink, const FetchConditions& conditions);
    void updateProgress(void* easy, std::int64_t offset, std::int64_t wholeLength);

    int connectTimeoutMs_ = 60000;
    int stallTimeoutMs_ = 60000;
    std::function<void()> idleHook_;
    bool executing_ = false;
    bool cancelled_ = false;
    bool waiting_ = false;
    std::int64_t bytesReceived_ = 0;
    std::int64_t bytesTotal_ = -1;
    std::int64_t bodyOffset_ = 0;
    std::int64_t resourceLength_ = -1;
    int minimumRate_ = 1024;
    int rateWindowMs_ = 30000;
    Stage stage_;
    RetryPolicy retryPolicy_;
    FetchInfo last_;
};

}  // namespace zandrel::net
