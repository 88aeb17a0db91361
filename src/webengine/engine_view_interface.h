#pragma once

// The boundary between the program and the web engine module (zandrel_webengine), included
// by both sides. The module is loaded at run time from the program's own folder; its one
// entry point makes a view, a widget that the caller places and that lives as long as its
// parent. Nothing crosses the boundary by name but the entry point.
#include <QString>
#include <QUrl>

#include <functional>

class QWidget;

namespace zandrel::webengine {

class EngineView {
public:
    virtual ~EngineView() = default;

    virtual QWidget* widget() = 0;  // the view itself, a child of the parent it was made with
    virtual void open(const QUrl& url) = 0;  // loads after the call has returned
    virtual void runScript(const QString& script) = 0;
    // The page drawn at this factor (1: as designed), as a smaller window draws its controls.
    virtual void setPageZoom(double zoom) = 0;
    virtual QUrl url() const = 0;
    virtual QString title() const = 0;

    // Called when a page has loaded (or failed to), and for every mailto: link the page
    // follows, typed or clicked; the page then stays as it is.
    virtual void setLoadFinished(std::function<void(bool ok)> callback) = 0;
    virtual void setMailLinkRequested(std::function<void(const QUrl& link)> callback) = 0;
};

// The module's entry point, looked up by this name.
using CreateEngineView = EngineView* (*)(QWidget* parent);
inline constexpr const char* kCreateEngineViewSymbol = "zandrelCreateWebEngineView";
// The module's file name, beside the program.
inline constexpr const char* kEngineModuleName = "zandrel_webengine";

}  // namespace zandrel::webengine
