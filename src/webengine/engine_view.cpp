// The Qt WebEngine side of the web view, built as a module of its own that the program loads
// the first time a page is shown: Chromium's libraries are large, and linking them into the
// program would make every start wait for them.
#include "webengine/engine_view_interface.h"

#include <QUrl>
#include <QWebEnginePage>
#include <QWebEngineSettings>
#include <QWebEngineView>

namespace zandrel::webengine {
namespace {

// Mail links, typed or clicked inside a page, go to the program; the page stays as it is.
class Page : public QWebEnginePage {
public:
    Page(QObject* parent, std::function<void(const QUrl&)>& onMailLink)
        : QWebEnginePage(parent), onMailLink_(onMailLink) {
        // Without this, WebEngine never offers mailto: to acceptNavigationRequest.
        settings()->setUnknownUrlSchemePolicy(QWebEngineSettings::AllowAllUnknownUrlSchemes);
    }

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType, bool) override {
        if (url.scheme().compare(QStringLiteral("mailto"), Qt::CaseInsensitive) == 0) {
            if (onMailLink_) onMailLink_(url);
            return false;
        }
        return true;
    }

private:
    std::function<void(const QUrl&)>& onMailLink_;
};

class View : public QWebEngineView, public EngineView {
public:
    explicit View(QWidget* parent) : QWebEngineView(parent) {
        setPage(new Page(this, onMailLink_));
        connect(this, &QWebEngineView::loadFinished, this, [this](bool ok) {
            if (onLoadFinished_) onLoadFinished_(ok);
        });
    }

    QWidget* widget() override { return this; }
    void open(const QUrl& url) override { load(url); }
    void runScript(const QString& script) override { page()->runJavaScript(script); }
    void setPageZoom(double zoom) override { setZoomFactor(zoom); }
    QUrl url() const override { return QWebEngineView::url(); }
    QString title() const override { return QWebEngineView::title(); }
    void setLoadFinished(std::function<void(bool)> callback) override {
        onLoadFinished_ = std::move(callback);
    }
    void setMailLinkRequested(std::function<void(const QUrl&)> callback) override {
        onMailLink_ = std::move(callback);
    }

private:
    std::function<void(bool)> onLoadFinished_;
    std::function<void(const QUrl&)> onMailLink_;
};

}  // namespace
}  // namespace zandrel::webengine

extern "C" Q_DECL_EXPORT zandrel::webengine::EngineView* zandrelCreateWebEngineView(
    QWidget* parent) {
    return new zandrel::webengine::View(parent);
}
