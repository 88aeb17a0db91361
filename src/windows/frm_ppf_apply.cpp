#include "frm_ppf_apply.h"

#include "base/error.h"
#include "base/platform.h"
#include "windows/frm_svr_info.h"

namespace zandrel {

namespace {

ProgressLook ppfApplyLook() {
    ProgressLook look;
    look.clientWidth = 4710;
    look.clientHeight = 2325;
    look.position = FirstPosition::SystemDefault;
    look.logoLeft = 0;
    look.logoTop = 0;
    look.status = QStringLiteral("Applying PPF...");
    look.statusTop = 1920;
    return look;
}

// The target map comes from the server. It is patched in place, so it must name a file in the
// map folder itself: no separators, no drive, nothing that Windows resolves to the folder or
// its parent (names of dots and blanks only), no quote that would end the quoted argument.
bool isPlainFileName(const QString& name) {
    bool onlyDotsAndBlanks = true;
    for (const QChar c : name) {
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c == QLatin1Char(':') ||
            c == QLatin1Char('"') || c.category() == QChar::Other_Control) {
            return false;
        }
        if (c != QLatin1Char('.') && c != QLatin1Char(' ')) onlyDotsAndBlanks = false;
    }
    return !onlyDotsAndBlanks;  // also refuses the empty name
}

// A control character shown as \xNN, so the report stays on one readable line.
QString printable(const QString& text) {
    QString out;
    for (const QChar c : text) {
        out += c.category() == QChar::Other_Control
                   ? QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'))
                   : QString(c);
    }
    return out;
}

}  // namespace

FrmPPFApply::FrmPPFApply(Registry& registry) : ProgressWindow(registry, kKind, ppfApplyLook()) {
    // Controls front to back.
    Label1 = addLabel("Label1", QStringLiteral("\""), {0, 2370, 975, 165});
    Label1->setAutoFillBackground(true);
    shpProg = addShape("shpProg", {1290, 2040, 45, 165}, kWhite, kWhite, /*solid=*/true);
    shpProgBack = addShape("shpProgBack", {1290, 2040, 1125, 165}, kWhite, kBlack, /*solid=*/true);
    addPleaseWait();
    addLogo();

    tmrCheck = addTimer("tmrCheck", 50, true, [this] { tmrCheck_Timer(); });
}

void FrmPPFApply::load() {
    const QString target = reg().form<FrmSvrInfo>().targetMap();
    if (!isPlainFileName(target)) {
        throw Error(
            kErrorBadFileName,
            QStringLiteral("Bad file name: the target map \"%1\" is not a file of the maps folder")
                .arg(printable(target)),
            QString::fromLatin1(kKind));
    }
    const QString q = Label1->text();
    const QString app = reg().appFolder();
    const QChar sep = platform::kSep;
    // The tool's path unquoted, then "a", the map to patch and the patch, each quoted.
    platform::launch(app + sep + QStringLiteral("ppf.exe a ") + q + app + sep +
                         QStringLiteral("maps") + sep + target + q + QStringLiteral(" ") + q +
                         QStringLiteral("c:\\zandrel.ppf") + q,
                     3);
}

void FrmPPFApply::tmrCheck_Timer() {
    shpProg->setWidthTwips(shpProg->widthTwips() + 20);
    if (shpProg->widthTwips() > 1120) {
        tmrCheck->setEnabled(false);
        reg().show(QStringLiteral("frmFinish"));
        reg().hide(QString::fromLatin1(kKind));
    }
}

}  // namespace zandrel
