// The web view: which addresses it shows, which it refuses, and mail links handed to the
// desktop's mail program, with a real Qt WebEngine view and the loopback server.
#include "windows/web_view.h"
#include "base/error.h"
#include "frame/frame_fixture.h"
#include "http/test_http_server.h"

#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace zandrel::windows {
namespace {

constexpr int kLoadTimeoutMs = 60000;

const QByteArray kPage =
    "<html><head><title>Server page</title></head><body style='margin:0'>"
    "<a id='mail' href='mailto:admin@example.org?subject=Hi&amp;attach=/etc/passwd' "
    "style='display:block;width:300px;height:100px'>Mail the admin</a>"
    "</body></html>";

class WebViewTest : public ::testing::Test {
protected:
    WebViewTest() {
        http.route(QStringLiteral("/info.html"), pageReply(kPage));
        view = std::make_unique<WebView>(nullptr, mail);
        view->resize(400, 300);
    }
    static test::HttpReply pageReply(const QByteArray& html) {
        test::HttpReply r = test::HttpReply::ok(html);
        r.contentType = "text/html";
        return r;
    }
    // Loads the test page and waits for it.
    void loadPage() {
        QSignalSpy finished(view.get(), &WebView::loadFinished);
        view->Navigate2(http.url(QStringLiteral("/info.html")));
        ASSERT_TRUE(finished.wait(kLoadTimeoutMs));
        ASSERT_TRUE(finished.first().first().toBool());
    }

    test::RecordingMail mail;
    test::TestHttpServer http;
    std::unique_ptr<WebView> view;
};

TEST(WebViewAddresses, PageAddressesItShowsAndRefuses) {
    struct Case {
        const char* name;
        QString address;
        QString expected;  // empty: refused with an Error
    };
    const Case cases[] = {
        {"http", "http://127.0.0.1:8080/info.html", "http://127.0.0.1:8080/info.html"},
        {"https", "https://example.org/x", "https://example.org/x"},
        {"scheme in capitals", "HTTP://example.org/", "http://example.org/"},
        {"blank page", "about:blank", "about:blank"},
        {"spaces around", "  http://example.org/a  ", "http://example.org/a"},
        {"host and page without a scheme", "example.org/info.html", "http://example.org/info.html"},
        {"host and port without a scheme", "localhost:8080/info", "http://localhost:8080/info"},
        {"empty", "", ""},
        {"only spaces", "   ", ""},
        {"local file", "file:///etc/passwd", ""},
        {"script", "javascript:alert(1)", ""},
        {"inline data", "data:text/html,<b>x</b>", ""},
        {"windows path", "C:\\halo\\info.html", ""},
        {"ftp", "ftp://example.org/x", ""},
        {"http without a host", "http:///info.html", ""},
        {"other about page", "about:config", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.expected.isEmpty()) {
            try {
                WebView::pageAddress(c.address);
                ADD_FAILURE() << "accepted " << c.address.toStdString();
            } catch (const Error& e) {
                EXPECT_TRUE(e.is(ErrorNumber::InvalidArgument)) << e.number();
                EXPECT_FALSE(e.description().isEmpty());
            }
        } else {
            EXPECT_EQ(WebView::pageAddress(c.address), QUrl(c.expected));
        }
    }
}

TEST(WebViewAddresses, MailLinks) {
    struct Case {
        const char* name;
        QString address;
        QString expected;  // empty: not a mail link
    };
    const Case cases[] = {
        {"no space", "mailto:admin@example.org", "mailto:admin@example.org"},
        {"space after the colon", "mailto: admin@example.org", "mailto:admin@example.org"},
        {"capitals", "MAILTO: admin@example.org", "mailto:admin@example.org"},
        {"no address", "mailto: ", "mailto:"},
        {"subject kept", "mailto: a@example.org?subject=Hello",
         "mailto:a@example.org?subject=Hello"},
        {"attachment dropped", "mailto:a@example.org?attach=/etc/passwd", "mailto:a@example.org"},
        {"mixed", "mailto:a@example.org?Attachment=x&cc=b@example.org",
         "mailto:a@example.org?cc=b@example.org"},
        {"a page", "http://example.org/", ""},
        {"mailto inside an address", "http://example.org/mailto:x", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(WebView::mailLink(c.address), QUrl(c.expected));
    }
}

TEST_F(WebViewTest, RefusedAddressLeavesTheViewAsItWas) {
    view->Navigate2(QStringLiteral("about:blank"));
    EXPECT_THROW(view->Navigate2(QString()), Error);
    EXPECT_THROW(view->Navigate2(QStringLiteral("file:///etc/passwd")), Error);
    EXPECT_EQ(view->requestedUrl(), QUrl(QStringLiteral("about:blank")));
    EXPECT_TRUE(mail.links.empty());
}

TEST_F(WebViewTest, LoadsAPageFromTheServerAfterTheCallReturns) {
    EXPECT_TRUE(view->requestedUrl().isEmpty());
    QSignalSpy finished(view.get(), &WebView::loadFinished);
    view->Navigate2(http.url(QStringLiteral("/info.html")));
    EXPECT_EQ(finished.count(), 0);  // the call does not wait for the page
    EXPECT_EQ(view->requestedUrl(), QUrl(http.url(QStringLiteral("/info.html"))));
    ASSERT_TRUE(finished.wait(kLoadTimeoutMs));
    EXPECT_TRUE(finished.first().first().toBool());
    EXPECT_EQ(view->title(), QStringLiteral("Server page"));
    EXPECT_TRUE(http.requestedPaths().contains(QStringLiteral("/info.html")));
}

TEST_F(WebViewTest, MailAddressGoesToTheMailProgramAndThePageStays) {
    loadPage();
    const QUrl page = view->url();
    view->Navigate2(QStringLiteral("mailto: admin@example.org"));
    ASSERT_EQ(mail.links.size(), 1u);
    EXPECT_EQ(mail.links[0], QUrl(QStringLiteral("mailto:admin@example.org")));
    QTest::qWait(200);  // a navigation, had one started, would have begun by now
    EXPECT_EQ(view->url(), page);
    EXPECT_EQ(view->requestedUrl(), page);
    EXPECT_EQ(view->title(), QStringLiteral("Server page"));
}

TEST_F(WebViewTest, MailLinkClickedInThePageGoesToTheMailProgram) {
    view->show();
    loadPage();
    const QUrl page = view->url();
    view->runJavaScript(QStringLiteral("document.getElementById('mail').click();"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !mail.links.empty(); }, kLoadTimeoutMs));
    ASSERT_EQ(mail.links.size(), 1u);
    EXPECT_EQ(mail.links[0], QUrl(QStringLiteral("mailto:admin@example.org?subject=Hi")));
    EXPECT_EQ(view->url(), page);
}

}  // namespace
}  // namespace zandrel::windows
