#include "windows/web_view.h"

#include "base/error.h"

#include <QCoreApplication>
#include <QLibrary>
#include <QPalette>
#include <QVBoxLayout>

namespace zandrel {

namespace {

const QString kSource = QStringLiteral("WebView.Navigate2");
using CreateEngineView = QWidget* (*)(QWidget* parent);

// The web engine module: beside the program (installed, or in the build's application folder),
// else where this build put it.
CreateEngineView loadEngineModule() {
    static CreateEngineView create = nullptr;
    if (create) return create;
    QString why;
    for (const QString& path :
         {QCoreApplication::applicationDirPath() + QStringLiteral("/zandrel_webengine"),
          QStringLiteral(ZANDREL_WEBENGINE_MODULE)}) {
        QLibrary module(path);
        create = reinterpret_cast<CreateEngineView>(module.resolve("zandrelCreateWebEngineView"));
        if (create) return create;
        why = module.errorString();
    }
    throw Error(48, QStringLiteral("The web view component cannot be loaded: ") + why, kSource);
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

QWidget* WebView::engine() {
    if (engine_) return engine_;
    engine_ = loadEngineModule()(this);
    layout()->addWidget(engine_);
    setFocusProxy(engine_);
    connect(engine_, SIGNAL(loadFinished(bool)), this, SIGNAL(loadFinished(bool)));
    connect(engine_, SIGNAL(mailLinkRequested(QUrl)), this, SLOT(onMailLinkRequested(QUrl)));
    return engine_;
}

void WebView::onMailLinkRequested(const QUrl& link) {
    mail_.compose(server::safeMailLink(link));
}

QUrl WebView::url() const {
    return engine_ ? engine_->property("url").toUrl() : QUrl();
}

QString WebView::title() const {
    return engine_ ? engine_->property("title").toString() : QString();
}

void WebView::runJavaScript(const QString& script) {
    QMetaObject::invokeMethod(engine(), "runScript", Q_ARG(QString, script));
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
    QWidget* view = engine();
    requested_ = url;
    QMetaObject::invokeMethod(view, "open", Q_ARG(QUrl, url));  // loads after this returns
}

}  // namespace zandrel
