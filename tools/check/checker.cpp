#include "checker.h"

#include "archive/header_pass.h"
#include "archive/unrar.h"
#include "base/error.h"
#include "base/messages.h"
#include "base/platform.h"
#include "net/download_file.h"
#include "net/inet.h"
#include "net/server_url.h"
#include "net/transfer_retry.h"
#include "patch/ppf.h"
#include "server/page_address.h"
#include "server/settings.h"
#include "server/settings_reader.h"
#include "update_digest.h"
#include "value_checks.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <optional>
#include <utility>

namespace zandrel::check {

namespace {

namespace server = zandrel::server;
using net::DownloadFile;
using net::FetchInfo;
using net::Inet;
using net::serverFileUrl;

const QString kSettings = QStringLiteral("settings");
const QString kKeys = QStringLiteral("keys");
const QString kUpdate = QStringLiteral("update");
const QString kMirrors = QStringLiteral("mirrors");

// Message boxes as one text: "Title": prompt; ...
QString boxesText(const QList<server::ReaderBox>& boxes) {
    QStringList parts;
    for (const server::ReaderBox& b : boxes)
        parts.append(
            QStringLiteral("\"%1\": %2").arg(b.title.isEmpty() ? kAppTitle : b.title, b.prompt));
    return parts.join(QStringLiteral("; "));
}

// The message boxes a player would see, kept instead of shown.
class RecordedBoxes : public MessageBoxes {
public:
    void show(const QString& prompt, MsgIcon icon, const QString& title) override {
        boxes_.append({prompt, icon, title});
    }
    // The boxes shown since the last call, as one text.
    QString take() { return boxesText(std::exchange(boxes_, {})); }

private:
    QList<server::ReaderBox> boxes_;
};

// Lines of progress for transfers and unpacking large enough to be waited for: one per tenth
// done, or per 16 MiB when the size is not known.
class ProgressLines {
public:
    ProgressLines(const Request& request, QString what)
        : out_(request.progress), what_(std::move(what)) {}

    void update(std::int64_t done, std::int64_t total) {
        if (!out_) return;
        constexpr std::int64_t kMiB = 1 << 20;
        std::int64_t step;
        if (total > 0) {
            if (total < 4 * kMiB) return;
            step = done * 10 / total;
        } else {
            step = done / (16 * kMiB);
        }
        if (step <= lastStep_) return;
        lastStep_ = step;
        const auto mib = [](std::int64_t bytes) {
            return QString::number(double(bytes) / kMiB, 'f', 1);
        };
        out_(total > 0 ? QStringLiteral("%1: %2 of %3 MiB (%4%)")
                             .arg(what_, mib(done), mib(total))
                             .arg(step * 10)
                       : QStringLiteral("%1: %2 MiB").arg(what_, mib(done)));
    }

private:
    std::function<void(const QString&)> out_;
    QString what_;
    std::int64_t lastStep_ = 0;
};

bool isTimeOut(const FetchInfo& info) {
    return info.failure && net::isTimeOut(*info.failure);
}

struct Fetched {
    bool ok = false;
    bool unreachable = false;  // not even the first server answered
    bool notStored = false;    // the server sent it, but it could not be stored here
    FetchInfo info;
    QString box;  // what players see when it failed
    QString why;  // the transfer's own account of the failure
};

// Fetches with the program's own routine into the folder. When that fails, the request is made
// once more to learn why: the routine tells players only that it failed.
Fetched fetch(const Request& request, const QString& url, const QString& folder,
              const QString& what) {
    RecordedBoxes boxes;
    Inet inet;
    ProgressLines progress(request, what);
    inet.setIdleHook([&] { progress.update(inet.BytesReceived(), inet.BytesTotal()); });
    inet.setMinimumRate(request.minimumRate, request.rateWindowMs);
    Fetched result;
    result.ok = DownloadFile(inet, url, folder, boxes);
    result.info = inet.LastFetch();
    if (result.ok) {
        // A fast transfer gets its line too.
        progress.update(result.info.bodyBytes, result.info.bodyBytes);
        return result;
    }
    result.box = boxes.take();
    // A time-out already took its time and told why: asking again would only repeat it.
    if (isTimeOut(result.info)) {
        result.why = result.info.failure->description();
        result.unreachable = net::isUnreachable(*result.info.failure) && result.info.status == 0 &&
                             result.info.redirects == 0;
        return result;
    }
    Inet again;
    try {
        again.OpenURL(url, [](QByteArrayView) {});
        result.why = QStringLiteral("the file could not be stored");
        result.notStored = true;
    } catch (const Error& e) {
        result.why = e.description();
        result.unreachable = net::isUnreachable(e) && again.LastFetch().status == 0 &&
                             again.LastFetch().redirects == 0;
    }
    return result;
}

// What the transfer saw: where the file came from, how, and whether it can be fetched
// conditionally next time.
QJsonObject fetchDetails(const FetchInfo& info) {
    return QJsonObject{{QStringLiteral("url"), info.url},
                       {QStringLiteral("finalUrl"), info.finalUrl},
                       {QStringLiteral("redirects"), info.redirects},
                       {QStringLiteral("status"), int(info.status)},
                       {QStringLiteral("size"), double(info.bodyBytes)},
                       {QStringLiteral("tls"), info.tls},
                       {QStringLiteral("tlsVerified"), info.tlsVerified},
                       {QStringLiteral("lastModified"), QString::fromLatin1(info.lastModifiedText)},
                       {QStringLiteral("etag"), QString::fromLatin1(info.etag)}};
}

QString fetchSummary(const FetchInfo& info) {
    QString text = QStringLiteral("status %1, %2 bytes").arg(info.status).arg(info.bodyBytes);
    if (info.redirects > 0) {
        text += QStringLiteral(", from %1 after %2 %3")
                    .arg(info.finalUrl)
                    .arg(info.redirects)
                    .arg(info.redirects == 1 ? QStringLiteral("redirect")
                                             : QStringLiteral("redirects"));
    }
    text += info.tls ? (info.tlsVerified ? QStringLiteral(", https with a verified certificate")
                                         : QStringLiteral(", https without verification"))
                     : QStringLiteral(", plain http");
    QStringList validators;
    if (!info.lastModifiedText.isEmpty())
        validators.append(QStringLiteral("Last-Modified ") +
                          QString::fromLatin1(info.lastModifiedText));
    if (!info.etag.isEmpty())
        validators.append(QStringLiteral("ETag ") + QString::fromLatin1(info.etag));
    text += validators.isEmpty() ? QStringLiteral(", no Last-Modified or ETag")
                                 : QStringLiteral(", ") + validators.join(QStringLiteral(", "));
    return text;
}

// The program asks for no Content-Encoding: bytes sent with one are not the file.
void reportUnaskedEncoding(const QString& step, const QString& file, const FetchInfo& info,
                           Report& report) {
    const QByteArray encoding = info.contentEncoding.trimmed();
    if (encoding.isEmpty() || encoding.compare("identity", Qt::CaseInsensitive) == 0) return;
    report.problem(step, QStringLiteral("unasked-encoding"),
                   QStringLiteral("the server sends %1 with \"Content-Encoding: %2\", which the "
                                  "program does not ask for: the bytes are not the file itself; "
                                  "serve it as it is (no compression for this file)")
                       .arg(file, QString::fromLatin1(encoding)),
                   QJsonObject{{QStringLiteral("url"), info.url},
                               {QStringLiteral("contentEncoding"), QString::fromLatin1(encoding)}});
}

// Reports a completed fetch; without Last-Modified and ETag players fetch it whole every time.
void reportFetched(const QString& step, const QString& code, const QString& file,
                   const Fetched& got, Report& report) {
    report.info(step, code, QStringLiteral("fetched: ") + fetchSummary(got.info),
                fetchDetails(got.info));
    if (got.info.lastModifiedText.isEmpty() && got.info.etag.isEmpty()) {
        report.warning(step, QStringLiteral("no-validator"),
                       QStringLiteral("the server sends neither Last-Modified nor ETag with %1: "
                                      "players fetch it whole on every connect")
                           .arg(file),
                       QJsonObject{{QStringLiteral("url"), got.info.url}});
    }
    const std::int64_t now = QDateTime::currentSecsSinceEpoch();
    if (got.info.lastModified > now) {
        report.warning(
            step, QStringLiteral("last-modified-future"),
            QStringLiteral("the server dates %1 Last-Modified %2, later than this machine's clock "
                           "(%3): a time from the future cannot tell players' programs whether "
                           "the file changed; check the server's clock and the file's date")
                .arg(file, QString::fromLatin1(got.info.lastModifiedText),
                     QDateTime::fromSecsSinceEpoch(now, Qt::UTC).toString(Qt::RFC2822Date)),
            QJsonObject{
                {QStringLiteral("url"), got.info.url},
                {QStringLiteral("lastModified"), QString::fromLatin1(got.info.lastModifiedText)}});
    }
    reportUnaskedEncoding(step, file, got.info, report);
}

QString failureText(const QString& file, const Fetched& got) {
    QString why = got.why;
    if (got.info.status != 0 && !why.contains(QString::number(got.info.status)))
        why = QStringLiteral("status %1: %2").arg(got.info.status).arg(why);
    if (got.info.redirects > 0)
        why += QStringLiteral(", after %1 redirect(s), last to %2")
                   .arg(got.info.redirects)
                   .arg(got.info.finalUrl);
    return QStringLiteral("%1 cannot be fetched (%2); players see %3").arg(file, why, got.box);
}

QString quoted(const QString& value) {
    return QLatin1Char('"') + value + QLatin1Char('"');
}

std::int64_t freeBytes(const QString& folder) {
    return QStorageInfo(folder).bytesAvailable();
}

// The checking machine's own failure, not the server's: its temporary folder cannot hold what the
// check must write there.
void workFolderFull(const QString& step, const QString& what, const QString& folder,
                    Report& report) {
    report.setUnusable();
    report.problem(step, QStringLiteral("work-folder-full"),
                   QStringLiteral("the checker's temporary folder %1 cannot hold %2 (%3 bytes free "
                                  "there): this is the checking machine's problem, not the "
                                  "server's; set TMPDIR to a folder with room and check again")
                       .arg(folder, what)
                       .arg(freeBytes(folder)),
                   QJsonObject{{QStringLiteral("folder"), folder},
                               {QStringLiteral("free"), double(freeBytes(folder))}});
}

// ---- step 1: the settings file ----

bool checkSettingsFetch(const Request& request, const QString& appFolder, Report& report) {
    const QString url = serverFileUrl(request.address, server::kSettingsFile);
    const QJsonObject where{{QStringLiteral("url"), url}};
    report.info(kSettings, QStringLiteral("settings-url"), QStringLiteral("fetching ") + url,
                where);
    const Fetched got = fetch(request, url, appFolder, server::kSettingsFile);
    if (got.unreachable) {
        report.setUnusable();
        report.problem(kSettings, QStringLiteral("settings-unreachable"),
                       QStringLiteral("the server cannot be reached: %1").arg(got.why), where);
        return false;
    }
    if (got.notStored) {
        workFolderFull(kSettings, server::kSettingsFile, appFolder, report);
        return false;
    }
    if (!got.ok) {
        report.problem(kSettings, QStringLiteral("settings-fetch-failed"),
                       failureText(server::kSettingsFile, got) +
                           QStringLiteral(", then a box for the first key and the \"Error!\" "
                                          "box, and the game starts without the server window"),
                       fetchDetails(got.info));
        reportUnaskedEncoding(kSettings, server::kSettingsFile, got.info, report);
        return false;
    }
    reportFetched(kSettings, QStringLiteral("settings-fetched"), server::kSettingsFile, got,
                  report);
    return true;
}

// ---- step 2: the five keys ----

void checkHtml(const QString& value, Report& report) {
    const QJsonObject key{{QStringLiteral("key"), server::kKeyHtml}};
    if (!server::mailLink(value).isEmpty()) {
        report.warning(kKeys, QStringLiteral("html-mail-link"),
                       QStringLiteral("html is a mail link: every player who connects gets a new "
                                      "message in the mail program instead of the server's page"),
                       key);
        return;
    }
    try {
        const QUrl page = server::pageAddress(value, QStringLiteral("WebView.Navigate2"));
        report.info(kKeys, QStringLiteral("html-page"),
                    QStringLiteral("the information page is %1").arg(page.toString()), key);
    } catch (const Error& e) {
        report.problem(kKeys, QStringLiteral("html-refused"),
                       QStringLiteral("the program refuses this information page (%1): players "
                                      "see the \"Error!\" box and the game starts without the "
                                      "server window, so they get no further (the rest is "
                                      "checked all the same)")
                           .arg(e.description()),
                       key);
    }
}

void checkHaloIP(const QString& value, Report& report) {
    const QJsonObject key{{QStringLiteral("key"), server::kKeyHaloIP}};
    bool missingPort = false;
    const QString fault = gameAddressFault(value, &missingPort);
    if (fault.isEmpty()) return;
    report.warning(kKeys,
                   missingPort ? QStringLiteral("haloip-no-port") : QStringLiteral("haloip-bad"),
                   QStringLiteral("HaloIP %1: %2; the game is started with \"-connect %3\"")
                       .arg(quoted(value), fault, value),
                   key);
}

void checkTarget(const QString& value, bool ppfUpdate, Report& report) {
    const QJsonObject key{{QStringLiteral("key"), server::kKeyTarget}};
    if (!server::isPlainMapFileName(value)) {
        const QString text = QStringLiteral("Target %1 is not a plain file name of the map folder")
                                 .arg(quoted(value));
        if (ppfUpdate) {
            report.problem(kKeys, QStringLiteral("target-not-plain"),
                           text + QStringLiteral(": the program refuses to patch it (\"Bad file "
                                                 "name\") and ends"),
                           key);
        } else {
            report.warning(kKeys, QStringLiteral("target-not-plain"),
                           text + QStringLiteral(": players are shown it as the map"), key);
        }
        return;
    }
    if (!hasMapExtension(value)) {
        report.warning(kKeys, QStringLiteral("target-not-map"),
                       QStringLiteral("Target %1 does not end in \".map\"").arg(quoted(value)),
                       key);
    }
}

void checkPpf(const QString& value, bool ppfUpdate, Report& report) {
    const QJsonObject key{{QStringLiteral("key"), server::kKeyPpf}};
    report.info(kKeys, QStringLiteral("update-format"),
                ppfUpdate ? QStringLiteral("Format of update is PPF")
                          : QStringLiteral("Format of update is RAR"),
                QJsonObject{{QStringLiteral("key"), server::kKeyPpf},
                            {QStringLiteral("format"),
                             ppfUpdate ? QStringLiteral("ppf") : QStringLiteral("rar")}});
    if (!ppfUpdate && !value.isEmpty() && !ppfValueClearlyRar(value)) {
        report.warning(kKeys, QStringLiteral("ppf-unclear"),
                       QStringLiteral("ppf %1 selects the RAR archive: only exactly \"1\" selects "
                                      "the patch (use 0 for an archive)")
                           .arg(quoted(value)),
                       key);
    }
}

void checkAdminEmail(const QString& value, Report& report) {
    const QString fault = mailAddressFault(value);
    if (fault.isEmpty()) return;
    report.warning(
        kKeys, QStringLiteral("email-invalid"),
        QStringLiteral("AdminEmail %1 is not an e-mail address: %2").arg(quoted(value), fault),
        QJsonObject{{QStringLiteral("key"), server::kKeyAdminEmail}});
}

// Each key's value in the order the server window reads them, then what it means for players.
server::Settings checkKeys(const QString& appFolder, Report& report) {
    const server::Settings s = server::readSettings(server::settingsFilePath(appFolder));
    const bool ppfUpdate = s.ppfUpdate();
    // A key is judged when found; the target also when a patch would be applied to it, the ppf
    // value always.
    const struct {
        const QString& name;
        const server::KeyValue& value;
        std::function<void()> judge;
        bool judgeMissing = false;
    } keys[] = {
        {server::kKeyHtml, s.html, [&] { checkHtml(s.html.text, report); }},
        {server::kKeyHaloIP, s.haloIP, [&] { checkHaloIP(s.haloIP.text, report); }},
        {server::kKeyTarget, s.target, [&] { checkTarget(s.target.text, ppfUpdate, report); },
         ppfUpdate},
        {server::kKeyPpf, s.ppf, [&] { checkPpf(s.ppf.text, ppfUpdate, report); }, true},
        {server::kKeyAdminEmail, s.adminEmail, [&] { checkAdminEmail(s.adminEmail.text, report); }},
    };
    for (const auto& k : keys) {
        const QJsonObject key{{QStringLiteral("key"), k.name}};
        if (k.value.found) {
            QJsonObject details = key;
            details.insert(QStringLiteral("value"), k.value.text);
            report.info(kKeys, QStringLiteral("key-value"),
                        QStringLiteral("%1 = %2").arg(k.name, quoted(k.value.text)), details);
        } else {
            QString text = QStringLiteral("%1 is missing or empty in [%2]: every player sees %3")
                               .arg(k.name, server::kSection, boxesText(k.value.boxes));
            if (&k.value == &s.html)
                text += QStringLiteral(
                    ", then the \"Error!\" box, and the game starts without "
                    "the server window");
            report.problem(kKeys, QStringLiteral("key-missing"), text, key);
        }
        if (k.value.found || k.judgeMissing) k.judge();
    }
    return s;
}

// The optional keys: each malformed one (players see them in one box, and the values are
// ignored), values not in UTF-8, and mirrors that nothing lets the program use.
void checkOptionalKeys(const server::Settings& s, Report& report) {
    for (const server::SettingsProblem& p : s.problems) {
        report.warning(
            kKeys, QStringLiteral("key-malformed"),
            p.text + QStringLiteral(": players see it in a box as they connect"),
            QJsonObject{{QStringLiteral("key"), p.key}, {QStringLiteral("value"), p.raw}});
    }
    for (const auto& [key, value] : s.windows1252Values()) {
        report.warning(kKeys, QStringLiteral("key-not-utf8"),
                       QStringLiteral("%1 is not UTF-8: the program reads it in Windows-1252, as "
                                      "%2; save connect.ini as UTF-8 so that every program reads "
                                      "it alike")
                           .arg(key, quoted(value)),
                       QJsonObject{{QStringLiteral("key"), key}, {QStringLiteral("value"), value}});
    }
    const bool anyMirror = std::any_of(s.mirrors.begin(), s.mirrors.end(), [](const auto& m) {
        return m.state == server::Announced::Valid;
    });
    if (anyMirror && s.updateSha256.state != server::Announced::Valid) {
        report.warning(kKeys, QStringLiteral("mirrors-unused"),
                       QStringLiteral("mirrors are given but no valid UpdateSHA256: the program "
                                      "fetches from a mirror only an update whose hash it can "
                                      "check, so players never use them (paste the UpdateSHA256 "
                                      "line below)"));
    }
}

// ---- step 3: the update ----

// The program's header pass lists every entry and every reason to refuse the archive; when it
// finds none, the archive is unpacked in full into the temporary map folder, which also reads
// every entry's data as the program would. The map folder is made only then: the pass weighs the
// archive against the free space of a player's disk, not of ours, which is checked apart.
void checkArchive(const Request& request, const QString& archive, const QString& mapsFolder,
                  const server::Settings& settings, Report& report) {
    const archive::Inspection inspection = archive::InspectArchive(archive, mapsFolder);
    bool targetFound = false;
    int files = 0;
    for (const archive::PlannedEntry& e : inspection.entries) {
        const QString path = QString::fromStdString(e.path);
        if (e.folder) {
            report.info(
                kUpdate, QStringLiteral("archive-entry"),
                QStringLiteral("maps/%1/ (folder)").arg(path),
                QJsonObject{{QStringLiteral("name"), path}, {QStringLiteral("folder"), true}});
            continue;
        }
        ++files;
        if (path.compare(settings.target.text, Qt::CaseInsensitive) == 0) targetFound = true;
        report.info(kUpdate, QStringLiteral("archive-entry"),
                    QStringLiteral("maps/%1 (%2 bytes)").arg(path).arg(e.size),
                    QJsonObject{{QStringLiteral("name"), path},
                                {QStringLiteral("folder"), false},
                                {QStringLiteral("size"), double(e.size)}});
    }
    const QString refused =
        QStringLiteral("; players see an error box, the program ends and the game is not started");
    // The texts name the archive by its path in our temporary folder: the name says enough.
    const auto plain = [&](QString text) {
        text.replace(QFileInfo(archive).absolutePath() + platform::kSep, QString());
        while (text.endsWith(QLatin1Char('.'))) text.chop(1);
        return text;
    };
    for (const archive::Problem& p : inspection.problems) {
        report.problem(
            kUpdate, QStringLiteral("archive-refused"),
            QStringLiteral("the program refuses the archive: ") + plain(p.description()) + refused,
            QJsonObject{{QStringLiteral("error"), p.number()}});
    }
    if (!inspection.problems.empty()) return;

    const QString work = QFileInfo(archive).absolutePath();
    const QString unpacked =
        QStringLiteral("the %1 bytes the archive unpacks to").arg(inspection.totalBytes);
    if (inspection.totalBytes > freeBytes(work) ||
        !QDir(work).mkdir(QFileInfo(mapsFolder).fileName())) {
        workFolderFull(kUpdate, unpacked, work, report);
        return;
    }
    archive::UnRar unrar;
    ProgressLines progress(request, QStringLiteral("unpacking ") + server::kRarUpdateFile);
    unrar.ExtractBytes = [&](std::int64_t written, std::int64_t total) {
        progress.update(written, total);
    };
    try {
        unrar.ExtractArchive(archive, mapsFolder + platform::kSep);
    } catch (const Error& e) {
        if (e.number() == ENOSPC || e.number() == EDQUOT) {
            workFolderFull(kUpdate, unpacked, work, report);
            return;
        }
        report.problem(kUpdate, QStringLiteral("archive-refused"),
                       QStringLiteral("the program cannot unpack the archive: ") +
                           plain(e.description()) + refused,
                       QJsonObject{{QStringLiteral("error"), e.number()}});
        return;
    }
    if (files == 0) {
        report.warning(kUpdate, QStringLiteral("archive-empty"),
                       QStringLiteral("the archive holds no files: the update changes nothing"));
    } else if (server::isPlainMapFileName(settings.target.text) && !targetFound) {
        report.warning(kUpdate, QStringLiteral("archive-no-target"),
                       QStringLiteral("the archive does not hold the Target map %1")
                           .arg(quoted(settings.target.text)));
    }
}

QString versionName(patch::Version v) {
    return v == patch::Version::Ppf1   ? QStringLiteral("PPF1.0")
           : v == patch::Version::Ppf2 ? QStringLiteral("PPF2.0")
                                       : QStringLiteral("PPF3.0");
}

QString fromStd(const std::string& s) {
    return QString::fromStdString(patch::printable(s));
}

// Tries the patch the way the patch tool applies it, on a copy of the map.
void checkPatchOnMap(const QString& patchPath, const QString& mapFile, const QString& work,
                     const server::Settings& settings, Report& report) {
    const QString mapName = QFileInfo(mapFile).fileName();
    if (!settings.target.text.isEmpty() &&
        mapName.compare(settings.target.text, Qt::CaseInsensitive) != 0) {
        report.warning(kUpdate, QStringLiteral("patch-map-name"),
                       QStringLiteral("the map given is %1, but players' copy of %2 is patched")
                           .arg(quoted(mapName), quoted(settings.target.text)));
    }
    const QString copy = work + QStringLiteral("/map-copy");
    QFile::remove(copy);
    // The map was found readable before the check began: a copy that fails is ours.
    if (!QFile::copy(mapFile, copy) ||
        !QFile::setPermissions(copy, QFile::ReadOwner | QFile::WriteOwner)) {
        QFile::remove(copy);
        workFolderFull(kUpdate, QStringLiteral("a copy of the map %1").arg(quoted(mapFile)), work,
                       report);
        return;
    }
    try {
        const patch::Outcome outcome = patch::applyPatchFile(
            QFile::encodeName(copy).toStdString(), QFile::encodeName(patchPath).toStdString());
        if (outcome == patch::Outcome::AlreadyApplied) {
            report.info(kUpdate, QStringLiteral("patch-already-applied"),
                        QStringLiteral("the patch is already applied to %1: the patch tool leaves "
                                       "it as it is")
                            .arg(quoted(mapName)));
        } else {
            report.info(kUpdate, QStringLiteral("patch-applies"),
                        QStringLiteral("the patch applies to %1 (%2 bytes, %3 bytes after)")
                            .arg(quoted(mapName))
                            .arg(QFileInfo(mapFile).size())
                            .arg(QFileInfo(copy).size()));
        }
    } catch (const patch::PatchError& e) {
        report.problem(kUpdate, QStringLiteral("patch-does-not-fit"),
                       QStringLiteral("the patch does not apply to %1: %2; the patch tool fails, "
                                      "players see \"The map update was not applied\" and "
                                      "their map stays as it was")
                           .arg(quoted(mapName), fromStd(e.what())));
    }
}

void checkPatch(const QString& patchPath, const Request& request, const QString& work,
                const server::Settings& settings, Report& report) {
    try {
        const patch::FileBytes file(QFile::encodeName(patchPath).toStdString());
        const patch::Patch p = patch::parsePatch(file.bytes());
        QJsonObject details{{QStringLiteral("version"), versionName(p.version)},
                            {QStringLiteral("description"), fromStd(p.description)},
                            {QStringLiteral("records"), double(p.recordCount)},
                            {QStringLiteral("blockCheck"), p.blockCheck},
                            {QStringLiteral("undoData"), p.undoData}};
        report.info(kUpdate, QStringLiteral("patch-description"),
                    QStringLiteral("%1 patch \"%2\", %3 records, block check %4, undo data %5")
                        .arg(versionName(p.version), fromStd(p.description))
                        .arg(p.recordCount)
                        .arg(p.blockCheck ? QStringLiteral("yes") : QStringLiteral("no"))
                        .arg(p.undoData ? QStringLiteral("yes") : QStringLiteral("no")),
                    details);
    } catch (const patch::PatchError& e) {
        report.problem(kUpdate, QStringLiteral("patch-corrupt"),
                       QStringLiteral("the patch cannot be read: %1; the patch tool fails, "
                                      "players see \"The map update was not applied\" and "
                                      "their map stays as it was")
                           .arg(fromStd(e.what())));
        return;
    } catch (const std::exception& e) {
        report.problem(kUpdate, QStringLiteral("patch-corrupt"),
                       QStringLiteral("the patch cannot be read: %1").arg(fromStd(e.what())));
        return;
    }
    if (request.mapFile.isEmpty()) {
        report.info(kUpdate, QStringLiteral("patch-not-tried"),
                    QStringLiteral("no map given: whether the patch fits players' maps is not "
                                   "checked (--map FILE tries it on a copy)"));
        return;
    }
    checkPatchOnMap(patchPath, request.mapFile, work, settings, report);
}

// The served update against the keys connect.ini announces, and the lines to paste.
void checkAnnouncedKeys(const Digest& served, const server::Settings& settings, Report& report) {
    report.setLinesToPaste(keyLines(served));
    report.info(kUpdate, QStringLiteral("update-digest"),
                QStringLiteral("the update fetched is %1 bytes, SHA-256 %2")
                    .arg(served.size)
                    .arg(QString::fromLatin1(served.sha256.toHex())),
                QJsonObject{{QStringLiteral("sha256"), QString::fromLatin1(served.sha256.toHex())},
                            {QStringLiteral("size"), double(served.size)}});
    const QString refused = QStringLiteral(
        ": players' program refuses the update and their maps stay as they are (the usual "
        "cause: connect.ini was uploaded before the update finished); paste the lines below");
    const auto& hash = settings.updateSha256;
    const auto& size = settings.updateSize;
    const bool hashGiven = hash.state == server::Announced::Valid;
    const bool sizeGiven = size.state == server::Announced::Valid;
    const bool hashDiffers = hashGiven && hash.value != served.sha256;
    const bool sizeDiffers = sizeGiven && size.value != served.size;
    if (hashDiffers) {
        report.problem(
            kUpdate, QStringLiteral("update-hash-mismatch"),
            QStringLiteral("connect.ini announces UpdateSHA256 %1, the update served has %2")
                    .arg(shortHex(hash.value), shortHex(served.sha256)) +
                refused,
            QJsonObject{{QStringLiteral("announced"), QString::fromLatin1(hash.value.toHex())},
                        {QStringLiteral("served"), QString::fromLatin1(served.sha256.toHex())}});
    }
    if (sizeDiffers) {
        report.problem(kUpdate, QStringLiteral("update-size-mismatch"),
                       QStringLiteral("connect.ini announces UpdateSize %1 bytes, the update "
                                      "served has %2 bytes")
                               .arg(size.value)
                               .arg(served.size) +
                           refused,
                       QJsonObject{{QStringLiteral("announced"), double(size.value)},
                                   {QStringLiteral("served"), double(served.size)}});
    }
    if ((hashGiven || sizeGiven) && !hashDiffers && !sizeDiffers) {
        report.info(kUpdate, QStringLiteral("update-keys-match"),
                    QStringLiteral("the update served matches the keys connect.ini announces"));
    }
}

std::optional<Digest> checkUpdate(const Request& request, const QString& appFolder,
                                  const server::Settings& settings, Report& report) {
    const QString file = settings.ppfUpdate() ? server::kPpfUpdateFile : server::kRarUpdateFile;
    const QString url = serverFileUrl(request.address, file);
    report.info(kUpdate, QStringLiteral("update-url"), QStringLiteral("fetching ") + url,
                QJsonObject{{QStringLiteral("url"), url}});
    const Fetched got = fetch(request, url, appFolder, file);
    if (got.notStored) {
        workFolderFull(kUpdate, file, appFolder, report);
        return std::nullopt;
    }
    if (!got.ok) {
        report.problem(kUpdate, QStringLiteral("update-fetch-failed"),
                       failureText(file, got) +
                           QStringLiteral(", so players get no update: nothing is applied"),
                       fetchDetails(got.info));
        reportUnaskedEncoding(kUpdate, file, got.info, report);
        return std::nullopt;
    }
    reportFetched(kUpdate, QStringLiteral("update-fetched"), file, got, report);
    const QString path = appFolder + platform::kSep + file;
    const std::optional<Digest> served = digestOfFile(path);
    if (!served) {
        workFolderFull(kUpdate, file, appFolder, report);
        return std::nullopt;
    }
    checkAnnouncedKeys(*served, settings, report);
    if (settings.ppfUpdate()) {
        checkPatch(path, request, appFolder, settings, report);
    } else {
        if (!request.mapFile.isEmpty()) {
            report.info(kUpdate, QStringLiteral("map-unused"),
                        QStringLiteral("the --map file is not used: this server's update is an "
                                       "archive, not a patch"));
        }
        checkArchive(request, path, appFolder + QStringLiteral("/maps"), settings, report);
    }
    return served;
}

// ---- step 4: the mirrors ----

// Every mirror is fetched as players' programs would fetch it when the server's own address
// fails, and its bytes weighed against the announced hash (or, without one, the update the
// server itself serves). Each is stored in a folder of its own and removed once weighed.
void checkMirrors(const Request& request, const QString& appFolder,
                  const server::Settings& settings, const std::optional<Digest>& served,
                  Report& report) {
    const bool announced = settings.updateSha256.state == server::Announced::Valid;
    const QByteArray expected = announced ? settings.updateSha256.value
                                : served  ? served->sha256
                                          : QByteArray();
    const QString against = announced ? QStringLiteral("the announced UpdateSHA256")
                                      : QStringLiteral("the server's own update");
    for (int i = 0; i < server::kMirrorCount; ++i) {
        const auto& mirror = settings.mirrors[i];
        if (mirror.state != server::Announced::Valid) continue;
        const QString key = server::mirrorKey(i + 1);
        const QString url = mirror.value.toString(QUrl::FullyEncoded);
        const QJsonObject where{{QStringLiteral("key"), key}, {QStringLiteral("url"), url}};
        const QString folder = appFolder + QStringLiteral("/mirror-") + QString::number(i + 1);
        if (!QDir().mkpath(folder)) {
            workFolderFull(kMirrors, key, appFolder, report);
            return;
        }
        const Fetched got = fetch(request, url, folder, key);
        const QStringList stored = QDir(folder).entryList(QDir::Files);
        const std::optional<Digest> digest = got.ok && stored.size() == 1
                                                 ? digestOfFile(folder + platform::kSep + stored[0])
                                                 : std::nullopt;
        QDir(folder).removeRecursively();
        if (got.notStored || (got.ok && !digest)) {
            workFolderFull(kMirrors, key, appFolder, report);
            return;
        }
        if (!got.ok) {
            report.problem(kMirrors, QStringLiteral("mirror-failed"),
                           QStringLiteral("%1 %2 cannot be fetched (%3): players whose download "
                                          "from the server fails cannot use it")
                               .arg(key, url, got.why),
                           where);
            continue;
        }
        QJsonObject details = where;
        details.insert(QStringLiteral("sha256"), QString::fromLatin1(digest->sha256.toHex()));
        details.insert(QStringLiteral("size"), double(digest->size));
        if (expected.isEmpty()) {
            report.info(kMirrors, QStringLiteral("mirror-fetched"),
                        QStringLiteral("%1 %2: %3 bytes, SHA-256 %4")
                            .arg(key, url)
                            .arg(digest->size)
                            .arg(shortHex(digest->sha256)),
                        details);
        } else if (digest->sha256 != expected) {
            report.problem(kMirrors, QStringLiteral("mirror-differs"),
                           QStringLiteral("%1 %2 serves other bytes than %3 (%4 bytes, SHA-256 "
                                          "%5 where %6 is expected): players' program refuses "
                                          "them and tries the next source")
                               .arg(key, url, against)
                               .arg(digest->size)
                               .arg(shortHex(digest->sha256), shortHex(expected)),
                           details);
        } else {
            report.info(kMirrors, QStringLiteral("mirror-ok"),
                        QStringLiteral("%1 %2 serves the same update (%3 bytes)")
                            .arg(key, url)
                            .arg(digest->size),
                        details);
        }
    }
}

}  // namespace

Report checkServer(const Request& request) {
    Report report(request.address);
    std::optional<QTemporaryDir> own;
    QString appFolder = request.workFolder;
    if (appFolder.isEmpty()) {
        own.emplace(QDir::tempPath() + QStringLiteral("/zandrel-check-XXXXXX"));
        if (!own->isValid()) {
            report.setUnusable();
            report.problem(
                kSettings, QStringLiteral("no-work-folder"),
                QStringLiteral("no temporary folder can be made: %1").arg(own->errorString()));
            return report;
        }
        appFolder = own->path();
    }
    if (!checkSettingsFetch(request, appFolder, report)) return report;
    const server::Settings settings = checkKeys(appFolder, report);
    checkOptionalKeys(settings, report);
    const std::optional<Digest> served = checkUpdate(request, appFolder, settings, report);
    checkMirrors(request, appFolder, settings, served, report);
    return report;
}

}  // namespace zandrel::check
