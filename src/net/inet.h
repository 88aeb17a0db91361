#pragma once

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

// The HTTP transfer component a fetching window holds. One request at a time; the request runs
// on the calling thread, which stays in OpenURL until the body has arrived, so an idle hook
// lets the window keep itself painted meanwhile.
//
// Only http is fetched (port 80 unless the URL names one); redirects are followed a few times,
// to http only. A status other than 2xx, a body shorter than its announced length, a connect
// time-out and a stall (no byte within the stall time-out once connected) are failures.
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

    void setConnectTimeoutMs(int ms) { connectTimeoutMs_ = ms; }
    void setStallTimeoutMs(int ms) { stallTimeoutMs_ = ms; }
    // Called on the calling thread about every 40 ms while a request runs.
    void setIdleHook(std::function<void()> hook) { idleHook_ = std::move(hook); }

    // Fetches url and hands its body to sink. Throws Error on any failure; a failure may come
    // after part of the body has already reached the sink.
    void OpenURL(const QString& url, const BodySink& sink);

private:
    void updateProgress(void* easy);

    int connectTimeoutMs_ = 60000;
    int stallTimeoutMs_ = 60000;
    std::function<void()> idleHook_;
    bool executing_ = false;
    std::int64_t bytesReceived_ = 0;
    std::int64_t bytesTotal_ = -1;
};

}  // namespace zandrel
