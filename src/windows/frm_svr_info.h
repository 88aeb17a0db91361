#pragma once

#include "frame/form.h"
#include "net/inet.h"
#include "server/settings_reader.h"
#include "windows/connecting.h"
#include "windows/web_view.h"

#include <QUrl>

#include <array>

namespace zandrel::windows {

// The server information window: fetches the server's connect.ini, shows its information
// page, map, update format and administrator, and leads on to the update or the backups.
// Stays loaded after it is hidden: its title holds the game server address and txtMap the
// target map, which later windows read.
class FrmSvrInfo : public frame::Form {
    Q_OBJECT
public:
    static constexpr const char* kKind = "frmSvrInfo";

    explicit FrmSvrInfo(frame::Registry& registry);

    void load() override;

    // Read by the later windows while this one is hidden: the game server address, held as the
    // window's title, and the target map as txtMap holds it now.
    QString gameServerAddress() const;
    QString targetMap() const { return txtMap->text(); }

    // The failure report of the load; the last line names the maintainer.
    static QString failurePrompt(std::int32_t number, const QString& description);

    // Controls front to back.
    frame::Button* cmdEmail;
    frame::TextBox* txtMap;
    frame::Button* cmdCancel;
    frame::Button* cmdBackups;
    WebView* browser;
    net::Inet Inet1;
    frame::Button* cmdDownload;
    frame::Label* lblFormat;
    frame::Label* lblWait;

    // Window-level variables.
    QString InfoPageUrl;
    QString GameServerAddress;
    QString TargetMap;
    bool IsPpfUpdate = false;
    QString AdminEmail;
    // What this server's settings, fetched now, announce of its update; absent when the settings
    // come from an earlier run's copy (another server's, perhaps) or do not say.
    server::OptionalKey<QByteArray> UpdateSha256;
    server::OptionalKey<std::int64_t> UpdateSize;
    std::array<server::OptionalKey<QUrl>, server::kMirrorCount> Mirrors;  // only with the hash

private:
    QString typedAddress();
    StopAsked fetchSettings(const QString& url);
    void leaveAsAsked(StopAsked asked);
    void readSettings();
    [[noreturn]] void launchDirectly(std::int32_t number, const QString& description);

    void cmdEmail_Click();
    void cmdDownload_Click();
    template <class F>
    bool startUpdate();  // shows F; whether the update is under way
    void cmdBackups_Click();
    void cmdCancel_Click();

    bool settingsFetched_ = false;
    QString settingsFile_;  // the settings read: empty when no copy of this server's is there
};

}  // namespace zandrel::windows
