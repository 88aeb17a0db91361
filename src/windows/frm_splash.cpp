#include "frm_splash.h"

#include "windows/frm_about.h"
#include "windows/frm_backup.h"
#include "windows/frm_svr_info.h"

#include <QCloseEvent>

namespace zandrel::windows {

using namespace frame;

namespace {

Design splashDesign() {
    Design d;
    d.title = QStringLiteral("Welcome to Zandrel 1.1Final");
    d.clientWidth = 8850;
    d.clientHeight = 2325;
    d.border = Border::FixedDialog;
    d.inTaskBar = false;
    d.position = FirstPosition::CentreScreen;
    d.background = kBlack;
    d.programIcon = true;
    return d;
}

}  // namespace

FrmSplash::FrmSplash(Registry& registry) : Form(registry, kKind, splashDesign()) {
    // Controls front to back.
    cmdExit = addButton("cmdExit", QStringLiteral("Exit Zandrel"), {7260, 30, 1575, 315}, 4);
    cmdAbout = addButton("cmdAbout", QStringLiteral("About Zandrel"), {5670, 30, 1575, 315}, 3);
    cmdBackup = addButton("cmdBackup", QStringLiteral("Map Backups"), {4080, 30, 1575, 315}, 2);
    Text1 = addTextBox("Text1", kPrompt, {1350, 1620, 4575, 435}, 1);
    cmdConnect = addLabel("cmdConnect", QStringLiteral("Connect"), {6315, 1710, 2220, 465});
    imgLogo = addImage("imgLogo", QStringLiteral(":/logo.png"), {0, 30, 4740, 2355});
    imgConnect = addImage("imgConnect", QStringLiteral(":/plate.png"), {6090, 1440, 2745, 900});
    // Right of the flag, between the row of buttons and the Connect plate.
    lblConnecting = addLabel("lblConnecting", QString(), {4800, 450, 3960, 960});

    Text1->setFont(designFont(QStringLiteral("MS Sans Serif"), 13.5));
    Text1->setAlignment(Qt::AlignCenter);
    Text1->setMaxLength(std::numeric_limits<int>::max());
    QPalette pal = Text1->palette();
    pal.setColor(QPalette::Base, kBlack);
    pal.setColor(QPalette::Text, kWhite);
    Text1->setPalette(pal);

    cmdConnect->setFont(designFont(QStringLiteral("Arial"), 12, true));
    cmdConnect->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    cmdConnect->setColours(kWhite, kBlack, /*transparent=*/true);

    lblConnecting->setFont(designFont(QStringLiteral("MS Sans Serif"), 9.75));
    lblConnecting->setAlignment(Qt::AlignRight | Qt::AlignBottom);
    lblConnecting->setColours(kWhite, kBlack, /*transparent=*/true);
    connecting_ = new Connecting(*this, *lblConnecting, *Text1);

    connect(Text1, &TextBox::clicked, this, handler([this] { clearPrompt(); }));
    connect(Text1, &TextBox::mouseMoved, this, handler([this] { clearPrompt(); }));
    connect(cmdConnect, &Label::clicked, this, handler([this] { cmdConnect_Click(); }));
    connect(cmdBackup, &Button::clicked, this, handler([this] { reg().show<FrmBackup>(); }));
    connect(cmdAbout, &Button::clicked, this, handler([this] { reg().show<FrmAbout>(); }));
    connect(cmdExit, &Button::clicked, this, handler([this] { reg().end(); }));
    // While Connect's fetch holds the GUI thread the dispatcher refuses the handler above.
    connect(cmdExit, &Button::clicked, this, [this] { connecting_->ask(StopAsked::Exit); });
}

void FrmSplash::closeEvent(QCloseEvent* event) {
    if (!connecting_->active()) return Form::closeEvent(event);
    event->ignore();
    connecting_->ask(StopAsked::CloseBox);
}

// Empties the box only while it holds the prompt exactly; nothing ever puts the prompt back.
void FrmSplash::clearPrompt() {
    if (Text1->text() == kPrompt) Text1->setText(QString());
}

void FrmSplash::cmdConnect_Click() {
    reg().show<FrmSvrInfo>();
    // Stopped while connecting: the server window is gone, and this one stays (or has closed).
    if (!reg().isLoaded<FrmSvrInfo>()) return;
    reg().hide<FrmSplash>();
}

}  // namespace zandrel::windows
