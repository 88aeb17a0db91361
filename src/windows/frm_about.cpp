#include "frm_about.h"

#include <QShortcut>

namespace zandrel::windows {

using namespace frame;

namespace {

Design aboutDesign() {
    Design d;
    d.title = QStringLiteral("About Zandrel");
    d.clientWidth = 3360;
    d.clientHeight = 4035;
    d.border = Border::FixedDialog;
    d.inTaskBar = false;
    d.position = FirstPosition::SystemDefault;
    d.background = kBlack;
    d.programIcon = false;
    return d;
}

}  // namespace

QString FrmAbout::maintainerEmail() {
    return QStringLiteral(ZANDREL_MAINTAINER_EMAIL);
}

QString FrmAbout::communityUrl() {
    return QStringLiteral(ZANDREL_COMMUNITY_URL);
}

QString FrmAbout::communityName() {
    return QStringLiteral(ZANDREL_COMMUNITY_NAME);
}

QString FrmAbout::creditLine() {
    return QStringLiteral(ZANDREL_CREDIT_LINE);
}

FrmAbout::FrmAbout(Registry& registry) : Form(registry, kKind, aboutDesign()) {
    // Controls front to back.
    Command1 = addButton("Command1", maintainerEmail(), {330, 1935, 2715, 285}, 2);
    Command2 = addButton("Command2", QStringLiteral("OK"), {2310, 3690, 1035, 330}, 0);
    // Its left edge is the designed area's right edge: out of sight until the window widens.
    browser = place(new WebView(this, reg().mail()), "browser", {3360, 0, 6645, 4035}, 1);
    Label4 = addLabel("Label4",
                      QStringLiteral("If you think you have found a bug, or would be kind enough "
                                     "to mirror this program, please email me:"),
                      {135, 1260, 3120, 645});
    Label5 = addLabel("Label5", QStringLiteral("Major thanks to:"), {30, 2340, 1365, 240});
    Image1 = addImage("Image1", QStringLiteral(":/banner.png"), {0, 2565, 3360, 630},
                      /*stretch=*/true);
    Label6 = addLabel(
        "Label6",
        QStringLiteral("Everyone at %1 for all their help and support").arg(communityName()),
        {-15, 3240, 3240, 510});
    Label1 = addLabel("Label1", QStringLiteral("Zandrel"), {30, 0, 3075, 510});
    Label2 = addLabel("Label2", creditLine(), {30, 465, 3075, 375});
    Label3 = addLabel("Label3", QStringLiteral("Version 1.1 BETA2"), {795, 825, 1410, 195});

    for (Label* l : {Label4, Label5, Label6, Label1, Label2, Label3}) {
        l->setColours(kWhite, kBlack, /*transparent=*/false);
        l->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    }
    Label5->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Label1->setFont(designFont(QStringLiteral("MS Sans Serif"), 18, true));
    Label2->setFont(designFont(QStringLiteral("MS Sans Serif"), 12, true));

    // "OK" is the window's keyboard-activated button: Esc presses it wherever the focus is
    // (Enter presses whichever button has the focus).
    Command2->setDefault(true);
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    escape->setContext(Qt::WindowShortcut);
    connect(escape, &QShortcut::activated, Command2, &Button::click);

    connect(Command1, &Button::clicked, this, handler([this] { Command1_Click(); }));
    connect(Image1, &Image::clicked, this, handler([this] { Image1_Click(); }));
    connect(Command2, &Button::clicked, this, handler([this] { Command2_Click(); }));
}

void FrmAbout::Command1_Click() {
    setOuterWidthTwips(kNarrowTwips);
    browser->Navigate2(QStringLiteral("mailto:") + maintainerEmail());
}

// The page loads on its own; nothing waits for it or looks at how it went.
void FrmAbout::Image1_Click() {
    browser->Navigate2(communityUrl());
    setOuterWidthTwips(kWideTwips);
}

void FrmAbout::Command2_Click() {
    reg().unload<FrmAbout>();
}

}  // namespace zandrel::windows
