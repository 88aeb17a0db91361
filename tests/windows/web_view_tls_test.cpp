// The web view and certificates: a page whose certificate the engine refuses shows the engine's
// error page, never a blank view and never the page itself.
#include "frame/frame_fixture.h"
#include "http/test_http_server.h"
#include "http/test_tls.h"
#include "windows/web_view.h"

#include <QImage>
#include <QSet>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace zandrel::windows {
namespace {

constexpr int kLoadTimeoutMs = 60000;

TEST(WebViewTls, RefusedCertificateShowsTheEngineErrorPage) {
    // An authority the engine has never heard of: its store is the system's, not ours.
    test::TestCertificateAuthority stranger(QStringLiteral("Nobody's CA"));
    test::TestHttpServer https(QString(), stranger.issue({"127.0.0.1"}));
    test::HttpReply page = test::HttpReply::ok(
        "<html><head><title>Secret server page</title></head><body>hello</body></html>");
    page.contentType = "text/html";
    https.route(QStringLiteral("/info.html"), page);

    test::RecordingMail mail;
    WebView view(nullptr, mail);
    view.resize(600, 400);
    view.show();
    QSignalSpy finished(&view, &WebView::loadFinished);
    view.Navigate2(https.url(QStringLiteral("/info.html")));
    ASSERT_TRUE(finished.wait(kLoadTimeoutMs));
    EXPECT_FALSE(finished.first().first().toBool());
    QTest::qWait(500);  // the error page is drawn after the failed load is reported

    EXPECT_NE(view.title(), QStringLiteral("Secret server page"));
    EXPECT_TRUE(https.requestedPaths().isEmpty());  // nothing was asked over that connection
    // A blank view is one colour; the error page has a message on it.
    const QImage shot = view.grab().toImage();
    QSet<QRgb> colours;
    for (int y = 0; y < shot.height(); y += 4)
        for (int x = 0; x < shot.width(); x += 4) colours.insert(shot.pixel(x, y));
    EXPECT_GT(colours.size(), 2) << "the view is blank";
}

}  // namespace
}  // namespace zandrel::windows
