#include "windows/web_view.h"

#include "app/error.h"

#include <QRegularExpression>
#include <QUrlQuery>
#include <QWebEnginePage>
#include <QWebEngineSettings>

namespace zandrel {

namespace {

const QString kSource = QStringLiteral("WebView.Navigate2");
const QString kMailto = QStringLiteral("mailto:");

Error badAddress(const QString& why) {
    return Error(kWebViewBadAddress, why, kSource);
}

// Keeps the recipients, subject and body of a mail link and drops every other header field
// (attach=, attachment=, ...), which some mail programs act on.
QUrl safeMailLink(QUrl link) {
    const QUrlQuery query(link);
    QUrlQuery kept;
    for (const auto& [key, value] : query.queryItems(QUrl::FullyEncoded)) {
        static const QStringList allowed{QStringLiteral("to"), QStringLiteral("cc"),
                                         QStringLiteral("bcc"), QStringLiteral("subject"),
                                         QStringLiteral("body")};
        if (allowed.contains(key.toLower())) kept.addQueryItem(key, value);
    }
    if (kept.isEmpty()) {
        link.setQuery(QString());  // a null query removes the "?" as well
    } else {
        link.setQuery(kept);
    }
    return link;
}

// Hands mail links, typed or clicked inside a page, to the desktop's mail program; the page
// stays as it is.
class Page : public QWebEnginePage {
public:
    Page(QObject* parent, platform::MailClient& mail) : QWebEnginePage(parent), mail_(mail) {
        // Without this, WebEngine never offers mailto: to acceptNavigationRequest.
        settings()->setUnknownUrlSchemePolicy(QWebEngineSettings::AllowAllUnknownUrlSchemes);
    }

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType, bool) override {
        if (url.scheme().compare(QStringLiteral("mailto"), Qt::CaseInsensitive) == 0) {
            mail_.compose(safeMailLink(url));
            return false;
        }
        return true;
    }

private:
    platform::MailClient& mail_;
};

}  // namespace

WebView::WebView(QWidget* parent, platform::MailClient& mail)
    : QWebEngineView(parent), mail_(mail) {
    setPage(new Page(this, mail_));
}

QUrl WebView::mailLink(const QString& address) {
    const QString text = address.trimmed();
    if (!text.startsWith(kMailto, Qt::CaseInsensitive)) return {};
    // "mailto: someone@example.org": the space after the colon is not part of the address.
    const QString rest = text.mid(kMailto.size()).trimmed();
    return safeMailLink(QUrl(kMailto + rest, QUrl::TolerantMode));
}

QUrl WebView::pageAddress(const QString& address) {
    const QString text = address.trimmed();
    if (text.isEmpty()) throw badAddress(QStringLiteral("The web view was given no address"));
    if (text.compare(QStringLiteral("about:blank"), Qt::CaseInsensitive) == 0) {
        return QUrl(QStringLiteral("about:blank"));
    }
    // A scheme is letters before a colon; "host:8080/page" names a port, not a scheme.
    static const QRegularExpression scheme(QStringLiteral("^([A-Za-z][A-Za-z0-9+.\\-]*):(?!\\d)"));
    const auto match = scheme.match(text);
    QUrl url;
    if (match.hasMatch()) {
        const QString name = match.captured(1).toLower();
        if (name != QLatin1String("http") && name != QLatin1String("https")) {
            throw badAddress(
                QStringLiteral("The web view shows only http and https pages, not \"%1\"")
                    .arg(text));
        }
        url = QUrl(text, QUrl::TolerantMode);
    } else {
        url = QUrl(QStringLiteral("http://") + text, QUrl::TolerantMode);
    }
    if (!url.isValid() || url.host().isEmpty()) {
        throw badAddress(QStringLiteral("The web view cannot use the address \"%1\"").arg(text));
    }
    return url;
}

void WebView::Navigate2(const QString& address) {
    const QUrl mail = mailLink(address);
    if (!mail.isEmpty()) {
        mail_.compose(mail);
        return;
    }
    const QUrl url = pageAddress(address);
    requested_ = url;
    load(url);  // loads after this returns
}

}  // namespace zandrel
