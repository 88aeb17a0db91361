#include "windows/web_view.h"

#include "base/error.h"

#include <QCoreApplication>
#include <QLibrary>
#include <QPalette>
#include <QVBoxLayout>

namespace zandrel {

namespace {

const QString kSource = QStringLiteral("WebView.Navigate2");

// The web engine module, from the program's own folder only.
CreateEngineView loadEngineModule() {
    static CreateEngineView create = nullptr;
    if (create) return create;
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
    engine_->setMailLinkRequested(
        [this](const QUrl& link) { mail_.compose(server::safeMailLink(link)); });
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
    return server::mailLink(address);
}

QUrl WebView::pageAddress(const QString& address) {
    return server::pageAddress(address, kSource);
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
