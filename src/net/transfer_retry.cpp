#include "net/transfer_retry.h"

#include <curl/curl.h>

#include <initializer_list>

namespace zandrel::net {
namespace {

// The validator If-Range may carry: a strong ETag (a weak one never matches there), else the
// Last-Modified date as the server wrote it.
QByteArray rangeValidator(const FetchInfo& got) {
    if (!got.etag.isEmpty() && !got.etag.startsWith("W/")) return got.etag;
    return got.lastModifiedText;
}

bool isTransferCode(const Error& e, std::initializer_list<CURLcode> codes) {
    if (!e.is(TransferFailure::Transport)) return false;
    for (const CURLcode code : codes)
        if (e.detail() == code) return true;
    return false;
}

bool isRefusedStatus(const Error& e, long status) {
    return e.is(TransferFailure::RefusedStatus) && e.detail() == status;
}

}  // namespace

bool isBreak(const Error& e) {
    return e.is(TransferFailure::IncompleteReply) ||
           isTransferCode(e, {CURLE_PARTIAL_FILE, CURLE_RECV_ERROR, CURLE_SEND_ERROR,
                              CURLE_GOT_NOTHING, CURLE_OPERATION_TIMEDOUT, CURLE_COULDNT_CONNECT,
                              CURLE_HTTP2, CURLE_HTTP2_STREAM});
}

bool isSourceFailure(const Error& e) {
    return e.is(TransferFailure::RefusedStatus) || isBreak(e) || e.is(TransferFailure::TooSlow) ||
           e.is(TransferFailure::Certificate) || e.is(TransferFailure::Downgrade) ||
           e.is(TransferFailure::ImpossibleLength) || e.is(TransferFailure::UnaskedEncoding) ||
           e.is(TransferFailure::WebPage) ||
           isTransferCode(
               e, {CURLE_COULDNT_RESOLVE_HOST, CURLE_COULDNT_RESOLVE_PROXY, CURLE_SSL_CONNECT_ERROR,
                   CURLE_TOO_MANY_REDIRECTS, CURLE_WEIRD_SERVER_REPLY, CURLE_UNSUPPORTED_PROTOCOL});
}

bool isTimeOut(const Error& e) {
    return e.is(TransferFailure::TooSlow) || isTransferCode(e, {CURLE_OPERATION_TIMEDOUT});
}

bool isUnreachable(const Error& e) {
    return isTransferCode(e, {CURLE_COULDNT_RESOLVE_PROXY, CURLE_COULDNT_RESOLVE_HOST,
                              CURLE_COULDNT_CONNECT, CURLE_OPERATION_TIMEDOUT});
}

void fetchWithRetries(Inet& inet, const QString& url, PartSink& part,
                      const FetchConditions& conditions, bool* resumed) {
    const RetryPolicy policy = inet.Retries();
    Inet::Stage stage = inet.CurrentStage();
    stage.retry = 0;
    stage.retries = policy.retries;
    stage.url = url;
    inet.setStage(stage);

    FetchConditions ask = conditions;
    QByteArray validator;  // what If-Range sends; empty: the server cannot continue a part
    int pauseMs = policy.firstPauseMs;
    bool arrived = false;  // some try brought body bytes
    for (;;) {
        std::int64_t thisTry = 0;
        try {
            inet.OpenURL(
                url,
                [&](QByteArrayView chunk) {
                    if (thisTry == 0) {
                        // A whole reply to a range request: the resource again, from its start.
                        if (inet.BodyOffset() == 0 && part.size() > 0) part.restart();
                        part.announced(inet.ResourceLength());
                    }
                    part.append(chunk);
                    thisTry += chunk.size();
                },
                ask);
            if (resumed) *resumed = inet.BodyOffset() > 0;
            return;
        } catch (const Error& e) {
            const FetchInfo& got = inet.LastFetch();
            // A whole reply's headers say whether its remainder can be asked for later.
            if (got.status == 200 || got.status == 203)
                validator = got.acceptRanges ? rangeValidator(got) : QByteArray();
            const bool badPart = isRefusedStatus(e, 206);  // not the part we asked for
            if (badPart) validator.clear();
            arrived = arrived || thisTry > 0;
            const bool progress = thisTry > 0 || badPart;
            if (!(isBreak(e) || badPart) || !arrived || !progress || stage.retry >= policy.retries)
                throw;
        }
        ++stage.retry;
        inet.setStage(stage);
        inet.Wait(pauseMs);
        pauseMs *= 2;
        ask = FetchConditions{};
        if (!validator.isEmpty() && part.size() > 0) {
            ask.from = part.size();
            ask.ifRange = validator;
        } else {
            part.restart();
        }
    }
}

}  // namespace zandrel::net
