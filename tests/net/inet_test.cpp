// The transfer component on its own: what reaches the sink, what is raised, and that the idle
// hook keeps running while a slow transfer holds the calling thread.
#include "net/inet.h"
#include "base/error.h"
#include "folders/folder_helpers.h"
#include "test_http_server.h"

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>

#include <chrono>
#include <optional>
#include <vector>

namespace zandrel::test {

using namespace zandrel::net;

namespace {

struct Fetched {
    QByteArray body;
    int chunks = 0;
    std::optional<Error> error;
};

Fetched fetch(Inet& inet, const QString& url) {
    Fetched f;
    try {
        inet.OpenURL(url, [&f](QByteArrayView chunk) {
            f.body.append(chunk);
            ++f.chunks;
        });
    } catch (const Error& e) {
        f.error = e;
    }
    return f;
}

HttpReply trickled(QByteArray body, qsizetype piece, int pauseMs) {
    HttpReply r = HttpReply::ok(std::move(body));
    r.pieceSize = piece;
    r.pauseMs = pauseMs;
    return r;
}

// A listening socket whose accept queue is full: the system drops further connection requests,
// so a client's connect hangs as with an unreachable host.
class FullListener {
public:
    FullListener() {
        listener_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        bind(listener_, reinterpret_cast<sockaddr*>(&addr), len);
        listen(listener_, 0);
        getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
        for (int i = 0; i < 4; ++i) {
            const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            connect(fd, reinterpret_cast<sockaddr*>(&addr), len);
            fillers_.push_back(fd);
        }
    }
    ~FullListener() {
        for (int fd : fillers_) close(fd);
        close(listener_);
    }
    int port() const { return port_; }

private:
    int listener_ = -1;
    int port_ = 0;
    std::vector<int> fillers_;
};

TEST(Inet, HandsTheWholeBodyToTheSinkInOrder) {
    TestHttpServer server;
    const QByteArray body = randomBytes(3 * 1024 * 1024 + 17);
    server.route("/big.bin", HttpReply::ok(body));
    Inet inet;
    const Fetched f = fetch(inet, server.url("/big.bin"));
    ASSERT_FALSE(f.error) << f.error->what();
    EXPECT_EQ(f.body, body);
    EXPECT_GT(f.chunks, 1);  // streamed, not handed over whole
    EXPECT_FALSE(inet.StillExecuting());
}

TEST(Inet, IdleHookRunsWhileTheTransferWaits) {
    TestHttpServer server;
    server.route("/slow", trickled("abcdef", 2, 200));
    Inet inet;
    int calls = 0;
    bool busyInHook = true;
    inet.setIdleHook([&] {
        ++calls;
        busyInHook = busyInHook && inet.StillExecuting();
    });
    const Fetched f = fetch(inet, server.url("/slow"));
    ASSERT_FALSE(f.error) << f.error->what();
    EXPECT_EQ(f.body, "abcdef");
    EXPECT_GE(calls, 5);  // ~400 ms of waiting at one call per ~40 ms
    EXPECT_TRUE(busyInHook);
    EXPECT_FALSE(inet.StillExecuting());
}

TEST(Inet, StallTimeoutLimitsSilenceNotTheWholeTransfer) {
    TestHttpServer server;
    // Eight pieces 150 ms apart: over a second in all, never silent for 400 ms.
    server.route("/trickle", trickled("0123456789abcdef", 2, 150));
    Inet inet;
    inet.setStallTimeoutMs(400);
    const auto start = std::chrono::steady_clock::now();
    const Fetched f = fetch(inet, server.url("/trickle"));
    ASSERT_FALSE(f.error) << f.error->what();
    EXPECT_EQ(f.body, "0123456789abcdef");
    EXPECT_GT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(400));
}

TEST(Inet, RaisesOnFailures) {
    TestHttpServer server;
    server.route("/missing", HttpReply::error(404, "<html>Not Found</html>"));
    server.route("/broken", HttpReply::error(500, "<html>Internal Server Error</html>"));
    server.route("/nothing", HttpReply::error(503, ""));
    HttpReply cut = HttpReply::ok(QByteArray(40, 'x'));
    cut.announcedLength = 100;
    server.route("/cut", cut);
    HttpReply silent = HttpReply::ok("late");
    silent.delayMs = 5000;
    server.route("/silent", silent);
    server.route("/stalls", trickled("first half, second half", 11, 5000));
    server.route("/to-ftp", HttpReply::redirect("ftp://127.0.0.1/file"));
    server.route("/loop", HttpReply::redirect("/loop"));
    server.route("/no-location", HttpReply::error(302, "moved somewhere"));

    int refusedPort = 0;
    {
        TestHttpServer gone;
        refusedPort = gone.port();
    }

    struct Case {
        const char* name;
        QString url;
        TransferFailure kind;
        std::int32_t detail;  // the status, or the library's code
    };
    constexpr TransferFailure kStatus = TransferFailure::RefusedStatus;
    constexpr TransferFailure kTransport = TransferFailure::Transport;
    const Case cases[] = {
        {"404 with a page", server.url("/missing"), kStatus, 404},
        {"500 with a page", server.url("/broken"), kStatus, 500},
        {"503 without a body", server.url("/nothing"), kStatus, 503},
        {"body shorter than announced", server.url("/cut"), kTransport, CURLE_PARTIAL_FILE},
        {"no reply at all", server.url("/silent"), kTransport, CURLE_OPERATION_TIMEDOUT},
        {"stall mid-body", server.url("/stalls"), kTransport, CURLE_OPERATION_TIMEDOUT},
        {"redirect away from http", server.url("/to-ftp"), kTransport, CURLE_UNSUPPORTED_PROTOCOL},
        {"endless redirects", server.url("/loop"), kTransport, CURLE_TOO_MANY_REDIRECTS},
        {"3xx without a target", server.url("/no-location"), kStatus, 302},
        {"connection refused", QStringLiteral("http://127.0.0.1:%1/x").arg(refusedPort), kTransport,
         CURLE_COULDNT_CONNECT},
        {"not http", QStringLiteral("ftp://%1/x").arg(server.address()), kTransport,
         CURLE_UNSUPPORTED_PROTOCOL},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Inet inet;
        inet.setStallTimeoutMs(300);
        const Fetched f = fetch(inet, c.url);
        ASSERT_TRUE(f.error);
        EXPECT_EQ(f.error->kind<TransferFailure>(), c.kind) << f.error->what();
        EXPECT_EQ(f.error->detail(), c.detail) << f.error->what();
        EXPECT_FALSE(inet.StillExecuting());
        if (c.kind == kStatus) {
            EXPECT_TRUE(f.body.isEmpty());  // an error page never reaches the sink
        }
    }
}

TEST(Inet, ConnectTimeoutEndsAConnectThatHangs) {
    FullListener listener;
    Inet inet;
    inet.setConnectTimeoutMs(300);
    const Fetched f = fetch(inet, QStringLiteral("http://127.0.0.1:%1/x").arg(listener.port()));
    ASSERT_TRUE(f.error);
    EXPECT_TRUE(f.error->is(TransferFailure::Transport)) << f.error->what();
    EXPECT_EQ(f.error->detail(), CURLE_OPERATION_TIMEDOUT) << f.error->what();
    // The connect phase ran out, not the stall clock (60 s here).
    EXPECT_FALSE(f.error->description().startsWith("No data received")) << f.error->what();
}

TEST(Inet, FollowsRedirectsToHttp) {
    TestHttpServer server;
    server.route("/old/connect.ini", HttpReply::redirect("/hop"));
    server.route("/hop", HttpReply::redirect(server.url("/new/connect.ini"), 301));
    server.route("/new/connect.ini", HttpReply::ok("[Main]\r\n"));
    Inet inet;
    const Fetched f = fetch(inet, server.url("/old/connect.ini"));
    ASSERT_FALSE(f.error) << f.error->what();
    EXPECT_EQ(f.body, "[Main]\r\n");
}

TEST(Inet, SecondRequestWhileBusyIsRefused) {
    TestHttpServer server;
    server.route("/slow", trickled("abcd", 2, 200));
    server.route("/other", HttpReply::ok("other"));
    Inet inet;
    std::optional<Fetched> inner;
    inet.setIdleHook([&] {
        if (!inner) inner = fetch(inet, server.url("/other"));
    });
    const Fetched outer = fetch(inet, server.url("/slow"));
    ASSERT_FALSE(outer.error) << outer.error->what();
    EXPECT_EQ(outer.body, "abcd");
    ASSERT_TRUE(inner && inner->error);
    EXPECT_TRUE(inner->error->is(TransferFailure::Busy));
    EXPECT_EQ(server.requestedPaths(), QStringList{"/slow"});
}

TEST(Inet, SinkErrorEndsTheTransferAndReachesTheCaller) {
    TestHttpServer server;
    server.route("/big", HttpReply::ok(randomBytes(2 * 1024 * 1024)));
    server.route("/small", HttpReply::ok("small"));
    Inet inet;
    int chunks = 0;
    try {
        inet.OpenURL(server.url("/big"), [&](QByteArrayView) {
            if (++chunks == 2) throw Error::fromErrnoDescribed(ENOSPC, "disk full", "test");
        });
        FAIL() << "no error raised";
    } catch (const Error& e) {
        EXPECT_EQ(e.description(), "disk full");
    }
    EXPECT_EQ(chunks, 2);
    // The component is free again and works.
    const Fetched f = fetch(inet, server.url("/small"));
    ASSERT_FALSE(f.error) << f.error->what();
    EXPECT_EQ(f.body, "small");
}

}  // namespace
}  // namespace zandrel::test
