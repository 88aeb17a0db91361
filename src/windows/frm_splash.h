#pragma once

#include "frame/form.h"

namespace zandrel {

// The start window: the logo, the address box and the four commands.
class FrmSplash : public Form {
    Q_OBJECT
public:
    static constexpr const char* kKind = "frmSplash";
    static inline const QString kPrompt = QStringLiteral("Type a Zandrel address here");

    explicit FrmSplash(Registry& registry);

    // The server address as typed in Text1, read by the windows that fetch from the server.
    QString address() const { return Text1->text(); }

    Button* cmdExit;
    Button* cmdAbout;
    Button* cmdBackup;
    TextBox* Text1;
    Label* cmdConnect;
    Image* imgLogo;
    Image* imgConnect;

private:
    void clearPrompt();
    void cmdConnect_Click();
};

}  // namespace zandrel
