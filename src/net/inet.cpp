#include "net/inet.h"

#include "base/error.h"

#include <QScopeGuard>

#include "net/curl_api.h"

#include <chrono>
#include <exception>
#include <memory>

namespace zandrel {
namespace {

using Clock = std::chrono::steady_clock;

const QString kSource = QStringLiteral("Inet");
constexpr long kMaxRedirects = 5;
constexpr long kBufferSize = 256 * 1024;  // fewer, larger writes for big files
constexpr int kPollMs = 20;
constexpr auto kIdleInterval = std::chrono::milliseconds(40);

struct EasyCleanup {
    void operator()(CURL* h) const { curlApi().easy_cleanup(h); }
};
struct MultiCleanup {
    void operator()(CURLM* h) const { curlApi().multi_cleanup(h); }
};
using EasyHandle = std::unique_ptr<CURL, EasyCleanup>;
using MultiHandle = std::unique_ptr<CURLM, MultiCleanup>;

bool isSuccessStatus(long status) {
    return status >= 200 && status <= 299;
}

// One request's state, shared with the transfer library's callbacks.
struct Transfer {
    CURL* easy = nullptr;
    const BodySink* sink = nullptr;
    bool connected = false;  // the stall clock runs only once a connection is up
    Clock::time_point lastActivity = Clock::now();
    long refusedStatus = 0;  // a non-2xx status seen when its body began
    std::exception_ptr sinkError;
    char errorText[CURL_ERROR_SIZE] = {};
};

int onConnected(void* user, char*, char*, int, int) {
    auto* t = static_cast<Transfer*>(user);
    t->connected = true;
    t->lastActivity = Clock::now();
    return CURL_PREREQFUNC_OK;
}

size_t onHeader(char*, size_t, size_t n, void* user) {
    static_cast<Transfer*>(user)->lastActivity = Clock::now();
    return n;
}

size_t onBody(char* data, size_t, size_t n, void* user) {
    auto* t = static_cast<Transfer*>(user);
    t->lastActivity = Clock::now();
    long status = 0;
    curlApi().easy_getinfo(t->easy, CURLINFO_RESPONSE_CODE, &status);
    if (!isSuccessStatus(status)) {
        // An error page is never handed on as the body.
        t->refusedStatus = status;
        return 0;
    }
    try {
        (*t->sink)(QByteArrayView(data, static_cast<qsizetype>(n)));
    } catch (...) {
        // Exceptions cannot cross the C library; carry it out and rethrow after clean-up.
        t->sinkError = std::current_exception();
        return 0;
    }
    return n;
}

Error transferError(CURLcode code, const char* detail) {
    const QString text =
        *detail ? QString::fromUtf8(detail) : QString::fromUtf8(curlApi().easy_strerror(code));
    return Error(kInetTransferError + code, text, kSource);
}

Error statusError(long status) {
    return Error(static_cast<std::int32_t>(status),
                 QStringLiteral("The server answered with HTTP status %1").arg(status), kSource);
}

template <typename T>
void setOption(CURL* easy, CURLoption option, T value) {
    const CURLcode code = curlApi().easy_setopt(easy, option, value);
    if (code != CURLE_OK) throw transferError(code, "");
}

EasyHandle newRequest(const QByteArray& url, Transfer& t, int connectTimeoutMs) {
    EasyHandle easy(curlApi().easy_init());
    if (!easy)
        throw Error(kInetTransferError + CURLE_FAILED_INIT, "Cannot start a request", kSource);
    CURL* h = easy.get();
    t.easy = h;
    setOption(h, CURLOPT_URL, url.constData());
    setOption(h, CURLOPT_DEFAULT_PROTOCOL, "http");
    setOption(h, CURLOPT_PROTOCOLS_STR, "http");
    setOption(h, CURLOPT_REDIR_PROTOCOLS_STR, "http");
    setOption(h, CURLOPT_FOLLOWLOCATION, 1L);
    setOption(h, CURLOPT_MAXREDIRS, kMaxRedirects);
    setOption(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(connectTimeoutMs));
    setOption(h, CURLOPT_NOSIGNAL, 1L);
    setOption(h, CURLOPT_BUFFERSIZE, kBufferSize);
    setOption(h, CURLOPT_USERAGENT, "Zandrel");
    setOption(h, CURLOPT_ERRORBUFFER, t.errorText);
    setOption(h, CURLOPT_PREREQFUNCTION, &onConnected);
    setOption(h, CURLOPT_PREREQDATA, &t);
    setOption(h, CURLOPT_HEADERFUNCTION, &onHeader);
    setOption(h, CURLOPT_HEADERDATA, &t);
    setOption(h, CURLOPT_WRITEFUNCTION, &onBody);
    setOption(h, CURLOPT_WRITEDATA, &t);
    return easy;
}

void checkMulti(CURLMcode code) {
    if (code != CURLM_OK)
        throw Error(kInetTransferError, QString::fromUtf8(curlApi().multi_strerror(code)), kSource);
}

CURLcode finishedResult(CURLM* multi) {
    int left = 0;
    while (CURLMsg* msg = curlApi().multi_info_read(multi, &left))
        if (msg->msg == CURLMSG_DONE) return msg->data.result;
    return CURLE_OK;
}

}  // namespace

Inet::Inet() = default;

void Inet::updateProgress(void* easy) {
    curl_off_t received = 0;
    curl_off_t total = -1;
    curlApi().easy_getinfo(easy, CURLINFO_SIZE_DOWNLOAD_T, &received);
    curlApi().easy_getinfo(easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &total);
    bytesReceived_ = received;
    bytesTotal_ = total;
}

void Inet::OpenURL(const QString& url, const BodySink& sink) {
    if (executing_)
        throw Error(kInetBusy, QStringLiteral("Still executing the last request"), kSource);
    executing_ = true;
    const auto done = qScopeGuard([this] { executing_ = false; });

    bytesReceived_ = 0;
    bytesTotal_ = -1;
    Transfer t;
    t.sink = &sink;
    EasyHandle easy = newRequest(url.toUtf8(), t, connectTimeoutMs_);
    MultiHandle multi(curlApi().multi_init());
    if (!multi)
        throw Error(kInetTransferError + CURLE_FAILED_INIT, "Cannot start a request", kSource);
    checkMulti(curlApi().multi_add_handle(multi.get(), easy.get()));
    const auto detach =
        qScopeGuard([&] { curlApi().multi_remove_handle(multi.get(), easy.get()); });

    const auto stallLimit = std::chrono::milliseconds(stallTimeoutMs_);
    auto lastIdle = Clock::now();
    for (;;) {
        int running = 0;
        checkMulti(curlApi().multi_perform(multi.get(), &running));
        if (running == 0) break;
        if (t.connected && Clock::now() - t.lastActivity > stallLimit)
            throw Error(kInetTransferError + CURLE_OPERATION_TIMEDOUT,
                        QStringLiteral("No data received for %1 ms").arg(stallTimeoutMs_), kSource);
        checkMulti(curlApi().multi_poll(multi.get(), nullptr, 0, kPollMs, nullptr));
        if (idleHook_ && Clock::now() - lastIdle >= kIdleInterval) {
            updateProgress(easy.get());
            idleHook_();
            lastIdle = Clock::now();
        }
    }

    updateProgress(easy.get());
    const CURLcode result = finishedResult(multi.get());
    if (t.sinkError) std::rethrow_exception(t.sinkError);
    if (t.refusedStatus) throw statusError(t.refusedStatus);
    if (result != CURLE_OK) throw transferError(result, t.errorText);
    long status = 0;
    curlApi().easy_getinfo(easy.get(), CURLINFO_RESPONSE_CODE, &status);
    if (!isSuccessStatus(status)) throw statusError(status);
}

}  // namespace zandrel
