#pragma once

#include "base/platform.h"
#include "frame/screen_fit.h"
#include "server/page_address.h"
#include "webengine/engine_view_interface.h"

#include <QString>
#include <QUrl>
#include <QWidget>

#include <cstdint>

namespace zandrel::windows {

// The web view a window holds, with the one operation the windows use. The page itself is a
// Qt WebEngine view from the module zandrel_webengine, loaded on the first page shown (see
// web_view.cpp); until then the control is an empty black area.
//
// Navigate2 takes:
//  - "http://..." and "https://..." addresses with a host, and "about:blank": the page loads
//    on its own after the call has returned;
//  - an address without a scheme ("host/page", "host:port/page"), taken as http, as a
//    browser's address box does;
//  - "mailto:" (any case, spaces after the colon allowed): a new message in the desktop's mail
//    program, through the mail seam; the view keeps its page. Of the link's header fields only
//    to, cc, bcc, subject and body are passed on, so a page cannot make the mail program
//    attach local files.
// It raises Error (ErrorNumber::InvalidArgument, as the Windows web control reports a bad
// argument) for an empty address and for any other scheme (file:,
// javascript:, data:, ...), which would show local files or run code from a server's text.
// A mailto: link clicked inside a page goes to the mail seam the same way.
class WebView : public QWidget, public frame::Zoomable {
    Q_OBJECT
public:
    WebView(QWidget* parent, platform::MailClient& mail);

    // The page follows its window's zoom.
    void setZoom(double zoom) override;

    void Navigate2(const QString& address);  // throws Error

    // What the page shows now (empty before the first page).
    QUrl url() const;
    QString title() const;
    void runJavaScript(const QString& script);

    // The last page address given to Navigate2 (empty if none); mail links do not count.
    QUrl requestedUrl() const { return requested_; }

    // The link Navigate2 hands to the mail program for a "mailto:" address, or an empty URL
    // when the address is not a mail link.
    static QUrl mailLink(const QString& address);
    // The page address Navigate2 loads for address; throws Error when it shows none.
    static QUrl pageAddress(const QString& address);

signals:
    void loadFinished(bool ok);

private:
    webengine::EngineView&
    engine();  // loads the module and creates the page on first use; throws Error

    platform::MailClient& mail_;
    QUrl requested_;
    webengine::EngineView* engine_ = nullptr;  // a child widget of this view
    double zoom_ = 1.0;
};

}  // namespace zandrel::windows
