// The Qt WebEngine side of the web view, built as a module of its own that the program loads
// the first time a page is shown: Chromium's libraries are large, and linking them into the
// program would make every start wait for them.
#include <QUrl>
#include <QWebEnginePage>
#include <QWebEngineSettings>
#include <QWebEngineView>

namespace {

// Mail links, typed or clicked inside a page, go to the program; the page stays as it is.
class Page : public QWebEnginePage {
    Q_OBJECT
public:
    explicit Page(QObject* parent) : QWebEnginePage(parent) {
        // Without this, WebEngine never offers mailto: to acceptNavigationRequest.
        settings()->setUnknownUrlSchemePolicy(QWebEngineSettings::AllowAllUnknownUrlSchemes);
    }

signals:
    void mailLinkRequested(const QUrl& link);

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType, bool) override {
        if (url.scheme().compare(QStringLiteral("mailto"), Qt::CaseInsensitive) == 0) {
            emit mailLinkRequested(url);
            return false;
        }
        return true;
    }
};

class EngineView : public QWebEngineView {
    Q_OBJECT
public:
    explicit EngineView(QWidget* parent) : QWebEngineView(parent) {
        auto* page = new Page(this);
        setPage(page);
        connect(page, &Page::mailLinkRequested, this, &EngineView::mailLinkRequested);
    }
    Q_INVOKABLE void open(const QUrl& url) { load(url); }
    Q_INVOKABLE void runScript(const QString& script) { page()->runJavaScript(script); }

signals:
    void mailLinkRequested(const QUrl& link);
};

}  // namespace

// The module's one entry point: a web engine view with the signals loadFinished(bool) and
// mailLinkRequested(QUrl), the invokables open(QUrl) and runScript(QString), and the
// properties url and title.
extern "C" Q_DECL_EXPORT QWidget* zandrelCreateWebEngineView(QWidget* parent) {
    return new EngineView(parent);
}

#include "engine_view.moc"
