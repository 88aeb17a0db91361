#pragma once

#include "frame/form.h"
#include "windows/connecting.h"

namespace zandrel::windows {

// The start window: the logo, the address box and the four commands.
class FrmSplash : public frame::Form {
    Q_OBJECT
public:
    static constexpr const char* kKind = "frmSplash";
    static inline const QString kPrompt = QStringLiteral("Type a Zandrel address here");

    explicit FrmSplash(frame::Registry& registry);

    // The server address as typed in Text1, read by the windows that fetch from the server.
    QString address() const { return Text1->text(); }

    frame::Button* cmdExit;
    frame::Button* cmdAbout;
    frame::Button* cmdBackup;
    frame::TextBox* Text1;
    frame::Label* cmdConnect;
    frame::Image* imgLogo;
    frame::Image* imgConnect;
    // Not in the design: the line that says which address Connect is reaching.
    frame::Label* lblConnecting;

    // The window while Connect's fetch holds the GUI thread (see Connecting).
    Connecting& connecting() { return *connecting_; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void clearPrompt();
    void cmdConnect_Click();

    Connecting* connecting_;
};

}  // namespace zandrel::windows
