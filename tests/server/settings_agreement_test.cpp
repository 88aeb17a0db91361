// One table of settings files, each served on loopback and read twice: by the server window as a
// player connects, and by zandrel-check. Both read through the one settings reader, so they must
// agree on every row: the same values, and the checker's account of the boxes is the boxes the
// player saw, up to where the window's load ends.
#include "checker.h"

#include "frame/frame_fixture.h"
#include "http/test_http_server.h"
#include "server/settings.h"
#include "server/settings_reader.h"
#include "windows/frm_splash.h"
#include "windows/frm_svr_info.h"
#include "windows/web_view.h"

#include <QFile>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace zandrel {
namespace {

using frame::Registry;
using windows::FrmSplash;
using windows::FrmSvrInfo;

const QString kKeys[] = {server::kKeyHtml, server::kKeyHaloIP, server::kKeyTarget, server::kKeyPpf,
                         server::kKeyAdminEmail};

struct Row {
    const char* name;
    QByteArray text;    // connect.ini as served
    bool windowShown;   // false: the load's failure path ends the program
    int keyBoxes;       // reader boxes the player sees before the window or the "Error!" box
    int malformed = 0;  // optional values that cannot be used, told in one box
};

// What the player saw: the boxes as "Title": prompt, and the window's values when it was shown.
struct Seen {
    QStringList boxes;
    bool shown = false;
    QMap<QString, QString> values;  // by key; ppf as the format line
    QStringList game;               // the game's arguments, when the failure path started it
};

// What the checker said about the five keys.
struct Checked {
    QMap<QString, QString> values;  // key-value findings, by key ("" for a missing key)
    QStringList missing;            // keys found missing or empty, in order
    QMap<QString, QString> missingText;
    QString format;                // the update-format line
    bool htmlEndsTheLoad = false;  // missing or refused: the "Error!" box follows
    QStringList malformed;         // the lines about optional values that cannot be used
};

Seen connectAsAPlayer(const QString& address) {
    test::FrameFixture f;
    f.makeStandIn(QStringLiteral("halo.exe"));
    FrmSvrInfo* svr = nullptr;
    f.reg().define<FrmSplash>();
    f.reg().define<FrmSvrInfo>([&svr](Registry& r) {
        auto form = std::make_unique<FrmSvrInfo>(r);
        svr = form.get();
        return form;
    });
    f.reg().start<FrmSplash>();
    FrmSplash& splash = f.reg().form<FrmSplash>();
    splash.Text1->setText(address);
    QTest::mouseClick(splash.cmdConnect, Qt::LeftButton, {}, QPoint(10, 10));

    Seen seen;
    for (const test::Box& b : f.boxes.boxes)
        seen.boxes
            << QStringLiteral("\"%1\": %2").arg(b.title.isEmpty() ? kAppTitle : b.title, b.prompt);
    seen.shown = f.reg().isVisible<FrmSvrInfo>();
    if (seen.shown) {
        seen.values[server::kKeyHtml] = svr->InfoPageUrl;
        seen.values[server::kKeyHaloIP] = svr->windowTitle();
        seen.values[server::kKeyTarget] = svr->txtMap->text();
        seen.values[server::kKeyPpf] = svr->lblFormat->text();
        seen.values[server::kKeyAdminEmail] = svr->cmdEmail->text();
    } else {
        seen.game = f.standInArgs(QStringLiteral("halo.exe"));
    }
    return seen;
}

Checked check(const QString& address) {
    check::Request request;
    request.address = address;
    const check::Report report = check::checkServer(request);
    Checked checked;
    for (const check::Finding& f : report.findings()) {
        if (f.step != QLatin1String("keys")) continue;
        const QString key = f.details.value(QStringLiteral("key")).toString();
        if (f.code == QLatin1String("key-value")) {
            checked.values[key] = f.details.value(QStringLiteral("value")).toString();
        } else if (f.code == QLatin1String("key-missing")) {
            checked.values[key] = QString();
            checked.missing << key;
            checked.missingText[key] = f.text;
            if (key == server::kKeyHtml) checked.htmlEndsTheLoad = true;
        } else if (f.code == QLatin1String("html-refused")) {
            checked.htmlEndsTheLoad = true;
        } else if (f.code == QLatin1String("update-format")) {
            checked.format = f.text;
        } else if (f.code == QLatin1String("key-malformed")) {
            checked.malformed << f.text;
        }
    }
    return checked;
}

TEST(SettingsAgreement, TheWindowAndTheCheckerReadEveryFileAlike) {
    const Row rows[] = {
        {"all five keys",
         "[Main]\r\nhtml=about:blank\r\nHaloIP=10.0.0.7:2302\r\nTarget=ridge.map\r\nppf=1\r\n"
         "AdminEmail=admin@example.org\r\n",
         true, 0},
        {"other sections, any order, spaces, optional keys",
         "; ours\n[Other]\nHaloIP=wrong\n[Main]\nAdminEmail = a@b.org \nppf=  1  \n"
         "UpdateSHA256=zz\nTarget=Blood Gulch.map\nMirror1=nowhere\nHaloIP=1.2.3.4:2302\n"
         "html=about:blank\n",
         true, 0, 2},
        {"a missing HaloIP and an empty ppf",
         "[Main]\nhtml=about:blank\nTarget=ridge.map\nppf=\nAdminEmail=a@b.org\n", true, 2},
        {"ppf 01 and a target the patch tool would refuse",
         "[Main]\nhtml=about:blank\nHaloIP=h:1\nTarget=..\\x.map\nppf=01\nAdminEmail=a\n", true, 0},
        {"only html", "[Main]\nhtml=about:blank\n", true, 4},
        {"no html", "[Main]\nHaloIP=h:1\nTarget=ridge.map\nppf=1\nAdminEmail=a@b.org\n", false, 1},
        {"no [Main] section", "[Server]\nhtml=about:blank\n", false, 1},
        {"an information page the view refuses",
         "[Main]\nhtml=file:///etc/passwd\nHaloIP=h:1\nTarget=ridge.map\nppf=1\n", false, 0},
        {"values written in Windows-1252",
         "[Main]\nhtml=about:blank\nHaloIP=h:1\nTarget=for\xEAt.map\nppf=1\n"
         "AdminEmail=ren\xE9@example.org\n",
         true, 0},
        {"optional values that cannot be used",
         "[Main]\nhtml=about:blank\nHaloIP=h:1\nTarget=ridge.map\nppf=1\nAdminEmail=a@b.org\n"
         "UpdateSHA256=12ab\nUpdateSize=-5\nMirror3=ftp://m.example.org/zandrel.ppf\n",
         true, 0, 3},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        test::TestHttpServer http;
        http.route(QStringLiteral("/connect.ini"), test::HttpReply::ok(row.text));
        Seen seen = connectAsAPlayer(http.address());
        const Checked checked = check(http.address());

        // Optional values that cannot be used: the checker has a line for each, the player one
        // box that lists the same lines (kept apart from the reader's boxes here).
        ASSERT_EQ(checked.malformed.size(), row.malformed);
        QTemporaryDir dir;
        QFile file(dir.filePath(server::kSettingsFile));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(row.text) == row.text.size());
        file.close();
        const QList<server::SettingsProblem> problems =
            server::readSettings(file.fileName()).problems;
        ASSERT_EQ(problems.size(), row.malformed);
        for (qsizetype i = 0; i < problems.size(); ++i)
            EXPECT_TRUE(checked.malformed[i].startsWith(problems[i].text))
                << checked.malformed[i].toStdString();
        if (row.malformed > 0) {
            const server::ReaderBox box = server::problemsBox(problems);
            const QString shown = QStringLiteral("\"%1\": %2")
                                      .arg(box.title.isEmpty() ? kAppTitle : box.title, box.prompt);
            seen.boxes.removeOne(shown);
        }

        // The player's boxes: the reader's, then the failure path's when the load ends.
        const qsizetype errorBox = seen.boxes.indexOf(QRegularExpression(
            QStringLiteral("^\"Error!\": .*"), QRegularExpression::DotMatchesEverythingOption));
        const QStringList keyBoxes = errorBox < 0 ? seen.boxes : seen.boxes.mid(0, errorBox);
        EXPECT_EQ(seen.shown, row.windowShown);
        EXPECT_EQ(errorBox >= 0, !row.windowShown);
        EXPECT_EQ(keyBoxes.size(), row.keyBoxes) << keyBoxes.join(" | ").toStdString();

        // The checker expects the load to end exactly when it does, and names the boxes the
        // player saw, key by key, up to there.
        EXPECT_EQ(checked.htmlEndsTheLoad, !row.windowShown);
        QStringList reached = checked.missing;
        if (checked.htmlEndsTheLoad)
            reached = reached.mid(0, reached.indexOf(server::kKeyHtml) + 1);
        ASSERT_EQ(reached.size(), keyBoxes.size());
        for (qsizetype i = 0; i < reached.size(); ++i) {
            EXPECT_TRUE(checked.missingText[reached[i]].contains(keyBoxes[i]))
                << checked.missingText[reached[i]].toStdString() << "\n"
                << keyBoxes[i].toStdString();
        }
        if (!seen.shown) {
            EXPECT_EQ(seen.game, (QStringList{"-connect", http.address(), "--end--"}));
            continue;
        }
        for (const QString& key : kKeys) {
            SCOPED_TRACE(key.toStdString());
            ASSERT_TRUE(checked.values.contains(key));
            EXPECT_EQ(seen.values[key],
                      key == server::kKeyPpf ? checked.format : checked.values[key]);
        }
    }
}

}  // namespace
}  // namespace zandrel
