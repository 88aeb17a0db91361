#include "windows/web_view.h"

#include "base/error.h"

#include <QCoreApplication>
#include <QFile>
#include <QOpenGLContext>
#include <QPalette>
#include <QVBoxLayout>

// Qt's setter of the context that every OpenGL context of the program shares (exported by
// QtGui, not declared in its public headers).
QT_BEGIN_NAMESPACE
Q_GUI_EXPORT void qt_gl_set_global_share_context(QOpenGLContext* context);
QT_END_NAMESPACE

namespace zandrel::windows {

namespace {

const QString kSource = QStringLiteral("WebView.Navigate2");

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

// The web engine module, from the program's own folder only, loaded as the program's other
// libraries are. Made once: a failed load throws and is tried again next time.
webengine::CreateEngineView loadEngineModule() {
    shareGlContexts();
    static const platform::LoadedLibrary module(
        QFile::encodeName(platform::programModule(webengine::kEngineModuleName)).constData(),
        QStringLiteral("The web view component"), kSource);
    return module.function<webengine::CreateEngineView>(webengine::kCreateEngineViewSymbol);
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

webengine::EngineView& WebView::engine() {
    if (engine_) return *engine_;
    engine_ = loadEngineModule()(this);
    layout()->addWidget(engine_->widget());
    setFocusProxy(engine_->widget());
    engine_->setPageZoom(zoom_);
    engine_->setLoadFinished([this](bool ok) { emit loadFinished(ok); });
    engine_->setMailLinkRequested(
        [this](const QUrl& link) { mail_.compose(server::safeMailLink(link)); });
    return *engine_;
}

void WebView::setZoom(double zoom) {
    zoom_ = zoom;
    if (engine_) engine_->setPageZoom(zoom);
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
    webengine::EngineView& view = engine();
    requested_ = url;
    view.open(url);  // loads after this returns
}

}  // namespace zandrel::windows
