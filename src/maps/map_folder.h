#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>

// The game's map folder and the backup folder beside it, as the backup window and the updates
// use them. Widget-free; every failure is a zandrel::Error with the operating system's number.
namespace zandrel::maps {

// The folders of an application folder, with a trailing separator: a file's path is the folder
// plus its bare name. Neither is created here.
QString mapFolder(const QString& appFolder);
QString backupFolder(const QString& appFolder);

// The maps the windows list: "*.map", matched without regard to letter case.
inline const QString kMapPattern = QStringLiteral("*.map");

// Whether a bare name can be copied and deleted: not empty, not "." or "..", no "/", no "\" (a
// separator to the game under Wine, and to the paths built from a folder) and no NUL.
bool canActOn(const QString& name);

// The names of folder's plain files that match pattern ("*" and "?", several patterns separated
// by ";", letter case ignored; "*.*" is every file): no folders, hidden (dot) files, symbolic
// links or special files, only names canActOn accepts, never our own temporary files. Sorted
// without regard to case. Raises Error when the folder cannot be read (missing, not a folder,
// no permission).
QStringList listFiles(const QString& folder, const QString& pattern);

// Copies fromFolder + name over toFolder + name. The copy is written to a temporary file in the
// destination folder and renamed over the destination only once complete, so a failed copy
// leaves the destination as it was. Only a regular file is copied, and a read-only destination
// is refused, as Windows refuses it. Raises Error.
void copyMapFile(const QString& fromFolder, const QString& toFolder, const QString& name);

// Deletes exactly folder + name, which must be a regular file that is not read-only. Raises
// Error.
void deleteMapFile(const QString& folder, const QString& name);

// Keeps the map `name` of the application's map folder as it is now in its backup folder
// (made when missing), before an update replaces or patches it: a player who needs the stock
// map back for another server restores it from there. Nothing is done when the backup folder
// already has that name in any letter case (a backup of the player's own is never
// overwritten), when the map is not there (a new map) or is not a regular file, or when the
// name is not a map ("*.map"). The copy is atomic and synced, as every backup. Returns whether
// a copy was made. Raises Error.
bool keepOriginal(const QString& appFolder, const QString& name);

// Whether file is a regular file of exactly these bytes: the SHA-256 given (32 bytes) and, when
// size is not negative, that size (checked first, so a file of another size is not read).
bool hasDigest(const QString& file, const QByteArray& sha256, std::int64_t size);

// Removes what a writer of ours that was stopped (the patch tool, ended by the player) left in
// folder: its temporary files. The maps themselves are never touched. Failures are ignored.
void removeLeftovers(const QString& folder);

// The folder the PPF patch is fetched into: the game's drive C:, made when it is missing. Drive C:
// is the Wine prefix's drive_c, which does not exist before Wine first ran; the patch belongs there
// all the same, and Wine takes over a prefix folder that exists. A folder that cannot be made is
// left to the fetch, which reports the failure to write there.
QString patchFolder(const QString& appFolder);

}  // namespace zandrel::maps
