#pragma once

#include <QString>

// Which server the settings file in the application folder came from. A copy an earlier visit
// left stands in for a fetch that failed only when it came from the very address fetched now:
// another server's copy would show that server's page and map, and its game server address
// would be joined.
namespace zandrel::server {

// The extended attribute that holds the address a settings file was fetched from, beside the
// transfer's own fetch record on the same file. A file replaced in any way loses it with its
// inode, so only the fetch that stored the file (or confirmed it unchanged) can vouch for it.
inline constexpr char kSettingsOriginAttribute[] = "user.zandrel.origin";

// Notes that the regular file at `file` holds the settings fetched from url. A file system
// without extended attributes keeps no note, which only costs the next failed fetch its
// stand-in; never throws.
void keepSettingsOrigin(const QString& file, const QString& url);

// Whether the regular file at `file` holds settings fetched from url.
bool settingsCameFrom(const QString& file, const QString& url);

// The file the server window reads after fetching url into `file`: the file itself when this
// fetch gave it (and the origin is noted on it) or when an earlier fetch from url did; else the
// empty name, which reads as a missing file.
QString settingsToRead(const QString& file, const QString& url, bool fetched);

}  // namespace zandrel::server
