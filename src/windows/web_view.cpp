#include "windows/web_view.h"

#include "base/error.h"

#include <QCoreApplication>
#include <QLibrary>
#include <QOpenGLContext>
#include <QPalette>
#include <QRegularExpression>
#include <QUrlQuery>
#include <QVBoxLayout>

// Qt's setter of the context that every OpenGL context of the program shares (exported by
// QtGui, not declared in its public headers).
QT_BEGIN_NAMESPACE
Q_GUI_EXPORT void qt_gl_set_global_share_context(QOpenGLContext* context);
QT_END_NAMESPACE

namespace zandrel {

namespace {

const QString kSource = QStringLiteral("WebView.Navigate2");
const QString kMailto = QStringLiteral("mailto:");

Error badAddress(const QString& why) {
    return Error(ErrorNumber::InvalidArgument, why, kSource);
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

// Chromium draws through an OpenGL context shared with Qt's. Qt makes that context in the
// QApplication's constructor when Qt::AA_ShareOpenGLContexts is set beforehand, and on X that
// loads the GL driver (some 100 ms and 60 MiB with Mesa) while the start window waits; so the
// context is made here instead, before the web engine is loaded, which looks for it then.
// Without one (no GL at all) the engine draws in software.
void shareGlContexts() {
    if (QOpenGLContext::globalShareContext()) return;
    // Owned by the application: it goes after the web engine's own shutdown (a post routine).
    auto* context = new QOpenGLContext(QCoreApplication::instance());
    if (context->create()) {
        qt_gl_set_global_share_context(context);
        QObject::connect(context, &QObject::destroyed,
                         [] { qt_gl_set_global_share_context(nullptr); });
    } else {
        delete context;
    }
}

// The web engine module, from the program's own folder only.
CreateEngineView loadEngineModule() {
    static CreateEngineView create = nullptr;
    if (create) return create;
    shareGlContexts();
    QLibrary module(QCoreApplication::applicationDirPath() + QLatin1Char('/') +
                    QLatin1String(kEngineModuleName));
    create = reinterpret_cast<CreateEngineView>(module.resolve(kCreateEngineViewSymbol));
    if (create) return create;
    throw Error(ErrorNumber::ComponentNotLoaded,
                QStringLiteral("The web view component cannot be loaded: ") + module.errorString(),
                kSource);
}

}  // namespace

WebView::WebView(QWidget* parent, platform::MailClient& mail) : QWidget(parent), mail_(mail) {
    setFocusPolicy(Qt::StrongFocus);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::black);
    setPalette(pal);
    setAutoFillBackground(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
}

EngineView& WebView::engine() {
    if (engine_) return *engine_;
    engine_ = loadEngineModule()(this);
    layout()->addWidget(engine_->widget());
    setFocusProxy(engine_->widget());
    engine_->setLoadFinished([this](bool ok) { emit loadFinished(ok); });
    engine_->setMailLinkRequested([this](const QUrl& link) { mail_.compose(safeMailLink(link)); });
    return *engine_;
}

QUrl WebView::url() const {
    return engine_ ? engine_->url() : QUrl();
}

QString WebView::title() const {
    return engine_ ? engine_->title() : QString();
}

void WebView::runJavaScript(const QString& script) {
    engine().runScript(script);
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
    EngineView& view = engine();
    requested_ = url;
    view.open(url);  // loads after this returns
}

}  // namespace zandrel
