#include "net/inet.h"

#include "base/error.h"

#include <QList>
#include <QScopeGuard>

#include "net/curl_api.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <deque>
#include <exception>
#include <memory>
#include <optional>
#include <thread>

namespace zandrel::net {
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
struct ListCleanup {
    void operator()(curl_slist* l) const { curlApi().slist_free_all(l); }
};
using EasyHandle = std::unique_ptr<CURL, EasyCleanup>;
using MultiHandle = std::unique_ptr<CURLM, MultiCleanup>;
using HeaderList = std::unique_ptr<curl_slist, ListCleanup>;

// The replies whose body is the resource itself. 206 (a part), 204/205 (nothing) are not.
bool isStoredStatus(long status) {
    return status == 200 || status == 203;
}

bool startsWithNoCase(QByteArrayView text, QByteArrayView prefix) {
    return text.size() >= prefix.size() &&
           text.first(prefix.size()).compare(prefix, Qt::CaseInsensitive) == 0;
}

// One request's state, shared with the transfer library's callbacks.
struct Transfer {
    CURL* easy = nullptr;
    const BodySink* sink = nullptr;
    std::int64_t askedFrom = -1;             // the Range start asked for, -1 for the whole resource
    std::int64_t* bodyOffset = nullptr;      // the Inet's, told where the reply's body begins
    std::int64_t* resourceLength = nullptr;  // the Inet's, told the length the reply announces
    bool connected = false;                  // the stall clock runs only once a connection is up
    Clock::time_point lastActivity = Clock::now();
    bool wentHttps = false;   // some hop so far was https
    bool downgraded = false;  // ...and a later one was not
    // The current response's header block, reset by each status line (redirects, 1xx).
    bool sawStatusLine = false;
    bool headerEnded = false;
    QByteArray etag;
    QByteArray lastModified;
    bool acceptRanges = false;
    std::int64_t rangeStart = -1;  // from the current response's Content-Range
    std::int64_t rangeEnd = -1;
    std::int64_t rangeTotal = -1;
    QByteArray contentEncoding;
    QByteArray contentType;
    bool lengthImpossible = false;  // a Content-Length no reply can have (past 2^63 - 1...)
    QByteArray contentLength;       // ...as it was sent
    bool markupChecked = false;     // the body's first byte past white space has been seen
    std::optional<Error> refusal;   // why a reply that could be the file was refused
    std::int64_t bodyBytes = 0;
    long refusedStatus = 0;  // a status whose body is not the resource, seen when its body began
    std::exception_ptr sinkError;
    char errorText[CURL_ERROR_SIZE] = {};
};

// Called before each request is sent, on a fresh or reused connection: the first one and every
// redirect. Once a hop was https, every later one must be too.
int onConnected(void* user, char*, char*, int, int) {
    auto* t = static_cast<Transfer*>(user);
    t->connected = true;
    t->lastActivity = Clock::now();
    const char* url = nullptr;
    curlApi().easy_getinfo(t->easy, CURLINFO_EFFECTIVE_URL, &url);
    const bool https = url && startsWithNoCase(url, "https://");
    if (t->wentHttps && !https) {
        t->downgraded = true;
        return CURL_PREREQFUNC_ABORT;
    }
    t->wentHttps = t->wentHttps || https;
    return CURL_PREREQFUNC_OK;
}

// "bytes N-M/T" (T may be "*"); anything else leaves the range unknown, so no 206 is taken.
void parseContentRange(QByteArrayView value, Transfer& t) {
    if (!startsWithNoCase(value, "bytes ")) return;
    const QByteArray range = value.sliced(6).toByteArray().trimmed();
    const qsizetype dash = range.indexOf('-'), slash = range.indexOf('/');
    if (dash <= 0 || slash <= dash) return;
    bool startOk = false, endOk = false, totalOk = false;
    const std::int64_t start = range.first(dash).toLongLong(&startOk);
    const std::int64_t end = range.mid(dash + 1, slash - dash - 1).toLongLong(&endOk);
    const QByteArray totalText = range.mid(slash + 1);
    const std::int64_t total = totalText == "*" ? -1 : totalText.toLongLong(&totalOk);
    if (!startOk || !endOk || start < 0 || end < start || (totalText != "*" && !totalOk) ||
        (total >= 0 && end >= total))
        return;
    t.rangeStart = start;
    t.rangeEnd = end;
    t.rangeTotal = total;
}

// A 206 is the resource's body only when it answers our range request from where we asked to
// the end of a resource of known length: anything else could not be told complete.
bool isAskedPart(long status, const Transfer& t) {
    return status == 206 && t.askedFrom >= 0 && t.rangeStart == t.askedFrom && t.rangeTotal > 0 &&
           t.rangeEnd == t.rangeTotal - 1;
}

// A Content-Length that a reply can have: digits that fit a 64-bit count, the same in every
// Content-Length line. The transfer library drops one past 2^63 - 1 and reads to the close,
// which would take whatever arrives as the whole file.
void noteContentLength(const QByteArray& value, Transfer& t) {
    bool ok = !value.isEmpty();
    for (const char c : value) ok = ok && c >= '0' && c <= '9';
    if (ok) value.toLongLong(&ok);
    if (!ok || (!t.contentLength.isEmpty() && t.contentLength != value)) t.lengthImpossible = true;
    t.contentLength = value;
}

// We send no Accept-Encoding: a body with a coding is not the file's own bytes.
bool isUnaskedEncoding(const QByteArray& encoding) {
    return !encoding.isEmpty() && encoding.compare("identity", Qt::CaseInsensitive) != 0;
}

// At the end of a header block: a reply whose body would be the file, but that cannot be.
bool refuseReply(Transfer& t) {
    long status = 0;
    curlApi().easy_getinfo(t.easy, CURLINFO_RESPONSE_CODE, &status);
    if (!isStoredStatus(status) && !isAskedPart(status, t)) return false;
    if (t.lengthImpossible) {
        t.refusal = Error(TransferFailure::ImpossibleLength,
                          QStringLiteral("The server announced a length of \"%1\" bytes, which no "
                                         "reply can have")
                              .arg(QString::fromLatin1(t.contentLength)),
                          kSource);
    } else if (isUnaskedEncoding(t.contentEncoding)) {
        t.refusal = Error(TransferFailure::UnaskedEncoding,
                          QStringLiteral("The server sent the file with \"Content-Encoding: %1\", "
                                         "which was not asked for")
                              .arg(QString::fromLatin1(t.contentEncoding)),
                          kSource);
    }
    return t.refusal.has_value();
}

bool isHtmlType(const QByteArray& contentType) {
    const QByteArray type = contentType.split(';').first().trimmed().toLower();
    return type == "text/html" || type == "application/xhtml+xml";
}

// A web page where a file was asked for (a captive portal, an error page sent with a 200): an
// HTML type and a body whose first byte past white space (and a byte order mark) is markup.
bool isWebPage(QByteArrayView chunk, Transfer& t) {
    if (t.markupChecked || !isHtmlType(t.contentType)) return false;
    qsizetype at = 0;
    if (t.bodyBytes == 0 && chunk.startsWith("\xEF\xBB\xBF")) at = 3;
    while (at < chunk.size() && QByteArrayView(" \t\r\n").contains(chunk[at])) ++at;
    if (at == chunk.size()) return false;  // all white space so far
    t.markupChecked = true;
    if (chunk[at] != '<') return false;
    t.refusal = Error(TransferFailure::WebPage,
                      QStringLiteral("The server sent a web page (%1) instead of the file")
                          .arg(QString::fromLatin1(t.contentType)),
                      kSource);
    return true;
}

size_t onHeader(char* data, size_t, size_t n, void* user) {
    auto* t = static_cast<Transfer*>(user);
    t->lastActivity = Clock::now();
    const QByteArrayView line(data, static_cast<qsizetype>(n));
    if (startsWithNoCase(line, "HTTP/")) {
        t->sawStatusLine = true;
        t->headerEnded = false;
        t->etag.clear();
        t->lastModified.clear();
        t->acceptRanges = false;
        t->rangeStart = t->rangeEnd = t->rangeTotal = -1;
        t->contentEncoding.clear();
        t->contentType.clear();
        t->lengthImpossible = false;
        t->contentLength.clear();
        t->markupChecked = false;
    } else if (line == "\r\n" || line == "\n") {
        t->headerEnded = true;
        if (refuseReply(*t)) return 0;
    } else if (startsWithNoCase(line, "content-length:")) {
        noteContentLength(line.sliced(15).toByteArray().trimmed(), *t);
    } else if (startsWithNoCase(line, "content-type:")) {
        t->contentType = line.sliced(13).toByteArray().trimmed();
    } else if (startsWithNoCase(line, "etag:")) {
        t->etag = line.sliced(5).toByteArray().trimmed();
    } else if (startsWithNoCase(line, "last-modified:")) {
        t->lastModified = line.sliced(14).toByteArray().trimmed();
    } else if (startsWithNoCase(line, "accept-ranges:")) {
        t->acceptRanges = line.sliced(14).trimmed().compare("bytes", Qt::CaseInsensitive) == 0;
    } else if (startsWithNoCase(line, "content-range:")) {
        parseContentRange(line.sliced(14).trimmed(), *t);
    } else if (startsWithNoCase(line, "content-encoding:")) {
        t->contentEncoding = line.sliced(17).toByteArray().trimmed();
    }
    return n;
}

// The whole resource's length as the reply announces it, -1 when it does not.
std::int64_t announcedLength(bool part, const Transfer& t) {
    if (part) return t.rangeTotal;
    curl_off_t length = -1;
    curlApi().easy_getinfo(t.easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    return length;
}

size_t onBody(char* data, size_t, size_t n, void* user) {
    auto* t = static_cast<Transfer*>(user);
    t->lastActivity = Clock::now();
    long status = 0;
    curlApi().easy_getinfo(t->easy, CURLINFO_RESPONSE_CODE, &status);
    const bool part = isAskedPart(status, *t);
    if (!isStoredStatus(status) && !part) {
        // An error page, a part or anything else that is not the file never reaches the sink.
        t->refusedStatus = status;
        return 0;
    }
    if (t->bodyOffset) *t->bodyOffset = part ? t->rangeStart : 0;
    if (t->resourceLength && t->bodyBytes == 0) *t->resourceLength = announcedLength(part, *t);
    const QByteArrayView chunk(data, static_cast<qsizetype>(n));
    if (isWebPage(chunk, *t)) return 0;
    try {
        (*t->sink)(chunk);
    } catch (...) {
        // Exceptions cannot cross the C library; carry it out and rethrow after clean-up.
        t->sinkError = std::current_exception();
        return 0;
    }
    t->bodyBytes += static_cast<std::int64_t>(n);
    return n;
}

QString libraryText(CURLcode code, const char* detail) {
    return *detail ? QString::fromUtf8(detail) : QString::fromUtf8(curlApi().easy_strerror(code));
}

Error transferError(CURLcode code, const char* detail) {
    return Error(TransferFailure::Transport, libraryText(code, detail), kSource, code);
}

Error transferError(CURLcode code, const QString& description) {
    return Error(TransferFailure::Transport, description, kSource, code);
}

Error statusError(long status) {
    return Error(TransferFailure::RefusedStatus,
                 QStringLiteral("The server answered with HTTP status %1").arg(status), kSource,
                 static_cast<std::int32_t>(status));
}

bool isCertificateFailure(CURLcode code) {
    return code == CURLE_PEER_FAILED_VERIFICATION || code == CURLE_SSL_CACERT_BADFILE ||
           code == CURLE_SSL_ISSUER_ERROR || code == CURLE_SSL_PINNEDPUBKEYNOTMATCH;
}

// An HTTP date (RFC 9110, IMF-fixdate), written without the locale's names.
QByteArray httpDate(std::int64_t seconds) {
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char text[40];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d GMT", kDays[tm.tm_wday],
                  tm.tm_mday, kMonths[tm.tm_mon], tm.tm_year + 1900, tm.tm_hour, tm.tm_min,
                  tm.tm_sec);
    return text;
}

template <typename T>
void setOption(CURL* easy, CURLoption option, T value) {
    const CURLcode code = curlApi().easy_setopt(easy, option, value);
    if (code != CURLE_OK) throw transferError(code, "");
}

// The certificate bundle to trust instead of the system's, as the curl command line finds it.
void setTrustFromEnvironment(CURL* h) {
    const QByteArray bundle = qgetenv("CURL_CA_BUNDLE");
    if (!bundle.isEmpty()) {
        setOption(h, CURLOPT_CAINFO, bundle.constData());
        return;
    }
    const QByteArray dir = qgetenv("SSL_CERT_DIR");
    if (!dir.isEmpty()) setOption(h, CURLOPT_CAPATH, dir.constData());
    const QByteArray file = qgetenv("SSL_CERT_FILE");
    if (!file.isEmpty()) setOption(h, CURLOPT_CAINFO, file.constData());
}

HeaderList conditionHeaders(const FetchConditions& conditions) {
    HeaderList list;
    auto add = [&list](const QByteArray& line) {
        curl_slist* grown = curlApi().slist_append(list.get(), line.constData());
        if (!grown)
            throw transferError(CURLE_OUT_OF_MEMORY, QStringLiteral("Cannot start a request"));
        (void)list.release();
        list.reset(grown);
    };
    if (!conditions.etag.isEmpty()) add("If-None-Match: " + conditions.etag);
    if (conditions.lastModified >= 0)
        add("If-Modified-Since: " + httpDate(conditions.lastModified));
    if (conditions.from >= 0) {
        add("Range: bytes=" + QByteArray::number(conditions.from) + "-");
        if (!conditions.ifRange.isEmpty()) add("If-Range: " + conditions.ifRange);
    }
    return list;
}

EasyHandle newRequest(const QByteArray& url, Transfer& t, int connectTimeoutMs,
                      curl_slist* headers) {
    EasyHandle easy(curlApi().easy_init());
    if (!easy) throw transferError(CURLE_FAILED_INIT, QStringLiteral("Cannot start a request"));
    CURL* h = easy.get();
    t.easy = h;
    setOption(h, CURLOPT_URL, url.constData());
    setOption(h, CURLOPT_DEFAULT_PROTOCOL, "http");
    setOption(h, CURLOPT_PROTOCOLS_STR, "http,https");
    // Other schemes are refused here; https -> http is refused per hop in onConnected.
    setOption(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    setOption(h, CURLOPT_FOLLOWLOCATION, 1L);
    setOption(h, CURLOPT_MAXREDIRS, kMaxRedirects);
    setOption(h, CURLOPT_SSL_VERIFYPEER, 1L);
    setOption(h, CURLOPT_SSL_VERIFYHOST, 2L);
    setTrustFromEnvironment(h);
    setOption(h, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);  // a proxy's CONNECT reply is not ours
    setOption(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(connectTimeoutMs));
    setOption(h, CURLOPT_NOSIGNAL, 1L);
    setOption(h, CURLOPT_BUFFERSIZE, kBufferSize);
    setOption(h, CURLOPT_USERAGENT, "Zandrel");
    if (headers) setOption(h, CURLOPT_HTTPHEADER, headers);
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
        throw transferError(CURLE_OK, QString::fromUtf8(curlApi().multi_strerror(code)));
}

CURLcode finishedResult(CURLM* multi) {
    int left = 0;
    while (CURLMsg* msg = curlApi().multi_info_read(multi, &left))
        if (msg->msg == CURLMSG_DONE) return msg->data.result;
    return CURLE_OK;
}

// Fills in what the request got as far as it went.
void record(FetchInfo& info, CURL* easy, const Transfer& t) {
    const char* url = nullptr;
    if (curlApi().easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &url) == CURLE_OK && url)
        info.finalUrl = QString::fromUtf8(url);
    long redirects = 0;
    curlApi().easy_getinfo(easy, CURLINFO_REDIRECT_COUNT, &redirects);
    info.redirects = static_cast<int>(redirects);
    curlApi().easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &info.status);
    info.bodyBytes = t.bodyBytes;
    info.etag = t.etag;
    info.lastModifiedText = t.lastModified;
    info.contentEncoding = t.contentEncoding;
    info.contentType = t.contentType;
    info.lastModified = -1;
    if (!t.lastModified.isEmpty()) {
        const std::time_t when = curlApi().getdate(t.lastModified.constData(), nullptr);
        if (when >= 0) info.lastModified = when;
    }
    info.acceptRanges = t.acceptRanges;
    info.offset = isAskedPart(info.status, t) ? t.rangeStart : 0;
    if (info.offset > 0 || info.status == 206) {
        info.totalLength = t.rangeTotal;
    } else {
        curl_off_t length = -1;
        curlApi().easy_getinfo(easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
        info.totalLength = length;
    }
    info.tls = info.finalUrl.startsWith(QLatin1String("https://"), Qt::CaseInsensitive);
    long verify = -1;
    curlApi().easy_getinfo(easy, CURLINFO_SSL_VERIFYRESULT, &verify);
    info.tlsVerified = info.tls && t.headerEnded && verify == 0;
}

// The body's arrival over the last rate window, to tell a trickle from a slow start: the first
// window is counted from the connection on, then it slides.
class RateFloor {
public:
    RateFloor(int bytesPerSecond, int windowMs)
        : floor_(static_cast<std::int64_t>(bytesPerSecond) * windowMs / 1000), window_(windowMs) {}

    bool tooSlow(Clock::time_point now, std::int64_t bytes) {
        if (floor_ <= 0) return false;
        if (samples_.empty() || now - samples_.back().at >= kSampleEvery)
            samples_.push_back({now, bytes});
        while (samples_.size() >= 2 && samples_[1].at <= now - window_) samples_.pop_front();
        return now - samples_.front().at >= window_ && bytes - samples_.front().bytes < floor_;
    }

private:
    static constexpr auto kSampleEvery = std::chrono::milliseconds(100);
    struct Sample {
        Clock::time_point at;
        std::int64_t bytes;
    };
    std::int64_t floor_;  // bytes a window must bring
    std::chrono::milliseconds window_;
    std::deque<Sample> samples_;
};

std::int64_t bytesDownloaded(CURL* easy) {
    curl_off_t received = 0;
    curlApi().easy_getinfo(easy, CURLINFO_SIZE_DOWNLOAD_T, &received);
    return received;
}

}  // namespace

Inet::Inet() = default;

// A part's figures count from the resource's start, so a resumed download's bar goes on from
// where the cut left it.
void Inet::updateProgress(void* easy, std::int64_t offset, std::int64_t wholeLength) {
    curl_off_t total = -1;
    curlApi().easy_getinfo(easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &total);
    bytesReceived_ = offset + bytesDownloaded(easy);
    bytesTotal_ = offset > 0 ? wholeLength : total;
}

void Inet::Wait(int ms) {
    if (executing_)
        throw Error(TransferFailure::Busy, QStringLiteral("Still executing the last request"),
                    kSource);
    executing_ = true;
    waiting_ = true;
    cancelled_ = false;
    const auto done = qScopeGuard([this] { executing_ = waiting_ = false; });
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    auto lastIdle = Clock::now();
    for (auto now = Clock::now(); now < end; now = Clock::now()) {
        std::this_thread::sleep_for(std::min<Clock::duration>(end - now, kIdleInterval));
        if (idleHook_ && Clock::now() - lastIdle >= kIdleInterval) {
            idleHook_();
            lastIdle = Clock::now();
        }
        if (cancelled_)
            throw Error(TransferFailure::Cancelled, QStringLiteral("The transfer was cancelled"),
                        kSource);
    }
}

void Inet::OpenURL(const QString& url, const BodySink& sink, const FetchConditions& conditions) {
    if (executing_)
        throw Error(TransferFailure::Busy, QStringLiteral("Still executing the last request"),
                    kSource);
    try {
        request(url, sink, conditions);
    } catch (const Error& e) {
        last_.failure = e;
        throw;
    }
}

void Inet::request(const QString& url, const BodySink& sink, const FetchConditions& conditions) {
    executing_ = true;
    cancelled_ = false;
    const auto done = qScopeGuard([this] { executing_ = false; });

    bytesReceived_ = 0;
    bytesTotal_ = -1;
    bodyOffset_ = 0;
    resourceLength_ = -1;
    last_ = FetchInfo{};
    last_.url = url;
    last_.conditional = conditions.any();
    Transfer t;
    t.sink = &sink;
    t.askedFrom = conditions.from;
    t.bodyOffset = &bodyOffset_;
    t.resourceLength = &resourceLength_;
    const HeaderList headers = conditionHeaders(conditions);
    EasyHandle easy = newRequest(url.toUtf8(), t, connectTimeoutMs_, headers.get());
    MultiHandle multi(curlApi().multi_init());
    if (!multi) throw transferError(CURLE_FAILED_INIT, QStringLiteral("Cannot start a request"));
    checkMulti(curlApi().multi_add_handle(multi.get(), easy.get()));
    const auto detach =
        qScopeGuard([&] { curlApi().multi_remove_handle(multi.get(), easy.get()); });
    const auto recorded = qScopeGuard([&] { record(last_, easy.get(), t); });

    const auto stallLimit = std::chrono::milliseconds(stallTimeoutMs_);
    std::optional<RateFloor> rateFloor;
    auto lastIdle = Clock::now();
    for (;;) {
        int running = 0;
        checkMulti(curlApi().multi_perform(multi.get(), &running));
        if (running == 0) break;
        if (t.connected && Clock::now() - t.lastActivity > stallLimit)
            throw transferError(CURLE_OPERATION_TIMEDOUT,
                                QStringLiteral("No data received for %1 ms").arg(stallTimeoutMs_));
        if (t.connected && !rateFloor) rateFloor.emplace(minimumRate_, rateWindowMs_);
        if (rateFloor && rateFloor->tooSlow(Clock::now(), bytesDownloaded(easy.get())))
            throw Error(TransferFailure::TooSlow,
                        QStringLiteral("Fewer than %1 bytes a second arrived over %2 s")
                            .arg(minimumRate_)
                            .arg(rateWindowMs_ / 1000.0),
                        kSource);
        checkMulti(curlApi().multi_poll(multi.get(), nullptr, 0, kPollMs, nullptr));
        if (idleHook_ && Clock::now() - lastIdle >= kIdleInterval) {
            updateProgress(easy.get(), bodyOffset_, t.rangeTotal);
            idleHook_();
            lastIdle = Clock::now();
        }
        if (cancelled_)
            throw Error(TransferFailure::Cancelled, QStringLiteral("The transfer was cancelled"),
                        kSource);
    }

    updateProgress(easy.get(), bodyOffset_, t.rangeTotal);
    const CURLcode result = finishedResult(multi.get());
    if (t.sinkError) std::rethrow_exception(t.sinkError);
    if (t.downgraded)
        throw Error(TransferFailure::Downgrade,
                    QStringLiteral("The server redirected from https to plain http"), kSource);
    if (isCertificateFailure(result))
        throw Error(TransferFailure::Certificate,
                    QStringLiteral("The server's certificate could not be verified: ") +
                        libraryText(result, t.errorText),
                    kSource);
    if (t.refusedStatus) throw statusError(t.refusedStatus);
    if (t.refusal) throw *t.refusal;
    const Error incomplete(TransferFailure::IncompleteReply,
                           QStringLiteral("The server's reply ended before its headers did"),
                           kSource);
    if (t.sawStatusLine && !t.headerEnded) throw incomplete;
    if (result != CURLE_OK) throw transferError(result, t.errorText);
    if (!t.sawStatusLine) throw incomplete;
    long status = 0;
    curlApi().easy_getinfo(easy.get(), CURLINFO_RESPONSE_CODE, &status);
    if (status == 304 && conditions.any()) {
        last_.notModified = true;
        last_.complete = true;
        return;
    }
    if (!isStoredStatus(status) && !isAskedPart(status, t)) throw statusError(status);
    last_.complete = true;
}

}  // namespace zandrel::net
