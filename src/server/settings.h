#pragma once

#include <QString>

// The server settings file: connect.ini, section [Main], its keys, and what their values mean.
namespace zandrel::server {

inline const QString kSettingsFile = QStringLiteral("connect.ini");
inline const QString kSection = QStringLiteral("Main");
inline const QString kKeyHtml = QStringLiteral("html");
inline const QString kKeyHaloIP = QStringLiteral("HaloIP");
inline const QString kKeyTarget = QStringLiteral("Target");
inline const QString kKeyPpf = QStringLiteral("ppf");
inline const QString kKeyAdminEmail = QStringLiteral("AdminEmail");

// Optional keys, ignored by earlier versions as every unknown key is: the update's SHA-256 (64
// hex digits) and size in bytes, and up to nine other full addresses of the same update file.
inline const QString kKeyUpdateSha256 = QStringLiteral("UpdateSHA256");
inline const QString kKeyUpdateSize = QStringLiteral("UpdateSize");
// "Mirror1" ... "Mirror9".
QString mirrorKey(int number);

// The update files a server offers, fetched from beside its settings file.
inline const QString kRarUpdateFile = QStringLiteral("zandrel.rar");
inline const QString kPpfUpdateFile = QStringLiteral("zandrel.ppf");

// True when the ppf value (as read, spaces trimmed) selects the PPF patch: exactly "1". Every
// other value, an empty one included, selects the RAR archive.
bool isPpfUpdate(const QString& ppfValue);

// The target map is patched in place, so it must name a file in the map folder itself: no
// separators, no drive, nothing that Windows resolves to the folder or its parent (names of dots
// and blanks only), no quote that would end the quoted argument, no control characters.
bool isPlainMapFileName(const QString& name);

}  // namespace zandrel::server
