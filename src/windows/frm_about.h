#pragma once

#include "frame/form.h"
#include "windows/web_view.h"

namespace zandrel::windows {

// The About window: name, version and credits, the maintainer's e-mail address on a button,
// and the community's banner, which reveals the community's web site in a web view to the right
// of the designed area by widening the window.
class FrmAbout : public frame::Form {
    Q_OBJECT
public:
    static constexpr const char* kKind = "frmAbout";
    // Outer widths in twips, frame included: the designed area alone, and with the web view.
    static constexpr int kNarrowTwips = 3480;
    static constexpr int kWideTwips = 10125;

    explicit FrmAbout(frame::Registry& registry);

    // Settings fixed when the program is built.
    static QString maintainerEmail();
    static QString communityUrl();
    static QString communityName();
    static QString creditLine();

    frame::Button* Command1;
    frame::Button* Command2;
    WebView* browser;
    frame::Label* Label4;
    frame::Label* Label5;
    frame::Image* Image1;
    frame::Label* Label6;
    frame::Label* Label1;
    frame::Label* Label2;
    frame::Label* Label3;

private:
    void Command1_Click();
    void Image1_Click();
    void Command2_Click();
};

}  // namespace zandrel::windows
