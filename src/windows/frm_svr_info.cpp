#include "windows/frm_svr_info.h"

#include "base/error.h"
#include "base/platform.h"
#include "frame/busy_cursor.h"
#include "frame/shown_text.h"
#include "game/launch_plans.h"
#include "net/download_file.h"
#include "net/server_url.h"
#include "server/settings.h"
#include "server/settings_origin.h"
#include "server/settings_reader.h"
#include "windows/frm_backup.h"
#include "windows/frm_ppf_download.h"
#include "windows/frm_rar_download.h"
#include "windows/frm_splash.h"

#include <new>

namespace zandrel::windows {

using namespace frame;

namespace {

Design svrInfoDesign() {
    Design d;
    d.title = QStringLiteral("Server Info");
    d.clientWidth = 11880;
    d.clientHeight = 8595;
    d.border = Border::FixedDialog;
    d.inTaskBar = false;
    d.position = FirstPosition::CentreScreen;
    d.background = kBlack;
    return d;
}

void paintWhiteOnBlack(QWidget* w) {
    QPalette pal = w->palette();
    for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        pal.setColor(group, QPalette::Base, kBlack);
        pal.setColor(group, QPalette::Window, kBlack);
        pal.setColor(group, QPalette::Text, kWhite);
        pal.setColor(group, QPalette::WindowText, kWhite);
    }
    w->setPalette(pal);
}

}  // namespace

FrmSvrInfo::FrmSvrInfo(Registry& registry) : Form(registry, kKind, svrInfoDesign()) {
    // Controls front to back.
    cmdEmail = addButton("cmdEmail", QStringLiteral("Email Admin"), {8190, 7680, 3345, 345}, 7);
    txtMap = addTextBox("txtMap", QStringLiteral("SCRIPT FILE ERROR!"), {3930, 8190, 1815, 285}, 6);
    cmdCancel = addButton("cmdCancel", QStringLiteral("Cancel"), {5790, 8130, 1965, 435}, 2);
    cmdBackups = addButton("cmdBackups", QStringLiteral("Map Backups"), {7830, 8130, 1965, 435}, 1);
    browser = place(new WebView(this, reg().mail()), "browser", {60, 60, 11775, 7995}, 3);
    cmdDownload =
        addButton("cmdDownload", QStringLiteral("Download and Apply"), {9870, 8130, 1965, 435}, 0);
    lblFormat = addLabel("lblFormat", QStringLiteral("SCRIPT FILE ERROR!"), {90, 8220, 3405, 225});
    lblWait = addLabel("lblWait", QStringLiteral("Loading Info Page. Please Wait"),
                       {60, 4260, 11775, 615});

    // The target map is the server's to name: the box is disabled, so the player reads it but
    // cannot change the map that the PPF path patches. It keeps its white-on-black look.
    txtMap->setEnabled(false);
    txtMap->setAlignment(Qt::AlignCenter);
    paintWhiteOnBlack(txtMap);

    lblFormat->setColours(kWhite, kBlack, /*transparent=*/false);
    lblFormat->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    lblWait->setFont(designFont(QStringLiteral("MS Sans Serif"), 24, true));
    lblWait->setColours(QColor(0xFF, 0x00, 0x00), kBlack, /*transparent=*/true);
    lblWait->setAlignment(Qt::AlignHCenter | Qt::AlignTop);

    // The window stays painted while the load's fetch holds the GUI thread.
    Inet1.setIdleHook([this] { reg().keepPainted(); });

    connect(cmdEmail, &Button::clicked, this, handler([this] { cmdEmail_Click(); }));
    connect(cmdDownload, &Button::clicked, this, handler([this] { cmdDownload_Click(); }));
    connect(cmdBackups, &Button::clicked, this, handler([this] { cmdBackups_Click(); }));
    connect(cmdCancel, &Button::clicked, this, handler([this] { cmdCancel_Click(); }));
}

QString FrmSvrInfo::gameServerAddress() const {
    return shownTitle(*this);
}

QString FrmSvrInfo::typedAddress() {
    return reg().form<FrmSplash>().address();
}

void FrmSvrInfo::load() {
    const QString url = net::serverFileUrl(typedAddress(), server::kSettingsFile);
    const StopAsked asked = fetchSettings(url);
    if (asked != StopAsked::Nothing) return leaveAsAsked(asked);
    // A copy an earlier visit left stands in for a failed fetch only when it is this server's.
    settingsFile_ =
        server::settingsToRead(server::settingsFilePath(reg().appFolder()), url, settingsFetched_);
    // From here on an error means the settings could not be used: report it and start the game
    // straight away with the typed address.
    try {
        readSettings();
    } catch (const Error& e) {
        launchDirectly(e.number(), e.description());
    } catch (const std::bad_alloc&) {
        const Error e = Error::outOfMemory(QString::fromLatin1(kKind));
        launchDirectly(e.number(), e.description());
    } catch (const std::exception& e) {
        launchDirectly(static_cast<std::int32_t>(ErrorNumber::Internal),
                       QString::fromLocal8Bit(e.what()));
    }
}

// The start window says it is connecting, and the player may stop it, while the fetch holds the
// GUI thread; the busy cursor and that line go before a failure box.
StopAsked FrmSvrInfo::fetchSettings(const QString& url) {
    Connecting& connecting = reg().form<FrmSplash>().connecting();
    BusyCursor busy;
    BusyCursorBoxes busyBoxes(reg().boxes(), busy);
    ConnectingSign boxes(connecting, busyBoxes, [this] { Inet1.cancel(); });
    // Asked while the line was painted: the fetch does not begin.
    if (connecting.asked() == StopAsked::Nothing)
        settingsFetched_ = net::DownloadFile(Inet1, url, reg().appFolder(), boxes);
    return connecting.asked();
}

// Stopped while connecting: nothing was stored and no box shown. This window goes without being
// displayed; the start window stays with the address as typed, closes, or the program ends.
void FrmSvrInfo::leaveAsAsked(StopAsked asked) {
    if (asked == StopAsked::Exit) reg().end();
    reg().unload<FrmSvrInfo>();
    if (asked == StopAsked::CloseBox) reg().unload<FrmSplash>();
}

void FrmSvrInfo::readSettings() {
    const server::Settings settings = server::readSettings(settingsFile_);
    // Each key's box, if any, comes as the window reaches the key, so an information page the
    // view refuses ends the load before the later keys' boxes.
    const auto told = [this](const server::KeyValue& key) {
        key.tellPlayer(reg().boxes());
        return key.text;
    };

    InfoPageUrl = told(settings.html);
    browser->Navigate2(InfoPageUrl);

    GameServerAddress = told(settings.haloIP);
    // What the windows show of the server's values is what is used: the launch reads the
    // address back from the title, the patch the map from txtMap, the mail the caption's text.
    setShownTitle(*this, GameServerAddress);

    TargetMap = told(settings.target);
    txtMap->setText(shownText(TargetMap));
    txtMap->setCursorPosition(0);

    settings.ppf.tellPlayer(reg().boxes());
    IsPpfUpdate = settings.ppfUpdate();
    lblFormat->setText(IsPpfUpdate ? QStringLiteral("Format of update is PPF")
                                   : QStringLiteral("Format of update is RAR"));

    AdminEmail = told(settings.adminEmail);
    setShownCaption(*cmdEmail, AdminEmail);

    // One box for all the optional keys this program cannot use; they count as absent.
    settings.tellPlayerAboutProblems(reg().boxes());
    if (settingsFetched_) {
        UpdateSha256 = settings.updateSha256;
        UpdateSize = settings.updateSize;
        Mirrors = settings.mirrors;
    }
}

QString FrmSvrInfo::failurePrompt(std::int32_t number, const QString& description) {
    const QStringList lines{
        QStringLiteral("Error Number: ") + QString::number(number),
        QStringLiteral("Error Description: ") + description,
        QString(),
        QStringLiteral("Cause: Server settings file not found. This might be because:"),
        QStringLiteral("        >  The server does not have a Zandrel configuration file"),
        QStringLiteral("        >  The Server is offline"),
        QStringLiteral("         or"),
        QStringLiteral("        >  Your firewall is blocking Zandrel packets (port 80)"),
        QString(),
        QStringLiteral("If you think this is a bug, report it to ") +
            QStringLiteral(ZANDREL_MAINTAINER_EMAIL),
    };
    return lines.join(QStringLiteral("\r\n"));
}

// The trap's handling: a launch that fails here is not trapped again; its error leaves the
// load and the dispatcher reports it.
void FrmSvrInfo::launchDirectly(std::int32_t number, const QString& description) {
    reg().msgBox(failurePrompt(number, description), MsgIcon::None, QStringLiteral("Error!"));
    const QString address = typedAddress();
    reg().msgBox(QStringLiteral("Launching Halo and connecting to ") + address);
    platform::launch(game::fallbackGamePlan(reg().appFolder(), address));
    reg().end();
}

void FrmSvrInfo::cmdEmail_Click() {
    browser->Navigate2(QStringLiteral("mailto: ") + shownText(AdminEmail));
}

// A download window whose fetch did not give the server's current update unloads itself; this
// window, still on screen, then stays, so the player can try again, write to the administrator
// or leave.
void FrmSvrInfo::cmdDownload_Click() {
    const bool underWay =
        IsPpfUpdate ? startUpdate<FrmPPFDownload>() : startUpdate<FrmRarDownload>();
    if (underWay) {
        reg().hide<FrmSvrInfo>();
    } else {
        reg().show<FrmSvrInfo>();  // in front again, and active
    }
}

template <class F>
bool FrmSvrInfo::startUpdate() {
    reg().show<F>();
    return reg().isLoaded<F>();
}

void FrmSvrInfo::cmdBackups_Click() {
    reg().show<FrmBackup>();
    reg().hide<FrmSvrInfo>();
}

void FrmSvrInfo::cmdCancel_Click() {
    reg().end();
}

}  // namespace zandrel::windows
