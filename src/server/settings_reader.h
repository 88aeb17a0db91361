#pragma once

#include "base/messages.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <array>
#include <cstdint>
#include <utility>

// The server settings file read into one value, as the server window and zandrel-check both
// need it: the five keys with what the reader told the player about each, and the optional keys
// that earlier versions ignore.
namespace zandrel::server {

// A message box the reader showed about a key, kept so that the window can show it when it
// comes to that key.
struct ReaderBox {
    QString prompt;
    MsgIcon icon = MsgIcon::None;
    QString title;
};

// One of the five keys. A missing or empty key reads as "" and keeps the reader's box.
struct KeyValue {
    QString text;  // the value as the reader gives it (at most 254 bytes, spaces trimmed)
    bool found = false;
    QList<ReaderBox> boxes;    // what the reader showed the player about this key
    bool windows1252 = false;  // the value was not UTF-8 and was read as Windows-1252

    // Shows the player the reader's boxes about this key (none when it was found).
    void tellPlayer(MessageBoxes& messageBoxes) const;
};

// An optional key: absent (or empty) is what every earlier version sees; a value that cannot be
// what the key means is malformed and keeps its text for the report.
enum class Announced { Absent, Valid, Malformed };

template <class T>
struct OptionalKey {
    Announced state = Announced::Absent;
    T value{};                 // when Valid
    QString raw;               // the text as read, when Valid or Malformed
    bool windows1252 = false;  // the text was not UTF-8 and was read as Windows-1252
};

// An optional key whose value cannot be what the key means, and is treated as absent.
struct SettingsProblem {
    QString key;
    QString raw;   // the value as read
    QString text;  // one line, for the player's box and the checker's report
};

inline constexpr int kMirrorCount = 9;

struct Settings {
    KeyValue html;
    KeyValue haloIP;
    KeyValue target;
    KeyValue ppf;
    KeyValue adminEmail;

    OptionalKey<QByteArray> updateSha256;                 // the digest's 32 bytes
    OptionalKey<std::int64_t> updateSize;                 // bytes
    std::array<OptionalKey<QUrl>, kMirrorCount> mirrors;  // Mirror1= ... Mirror9=

    // The malformed optional keys, in the file's key order (UpdateSHA256, UpdateSize, Mirror1
    // ...), one line each.
    QList<SettingsProblem> problems;

    // True when the ppf value selects the PPF patch.
    bool ppfUpdate() const;

    // The keys whose values were not UTF-8 and were read as Windows-1252, with those values.
    QList<std::pair<QString, QString>> windows1252Values() const;

    // The one box that tells the player about every malformed optional key; nothing without
    // problems. The values are ignored, as an earlier version ignores these keys.
    void tellPlayerAboutProblems(MessageBoxes& messageBoxes) const;
};

// That box's text and title.
ReaderBox problemsBox(const QList<SettingsProblem>& problems);

// The settings file of an application folder: <appFolder>/connect.ini.
QString settingsFilePath(const QString& appFolder);

// Reads the file's [Main] section through CReadINI: the five keys in the order the server
// window uses them, each missing or empty one with the box the reader shows for it; then the
// optional keys quietly, each malformed one listed in problems. Every read goes to the file anew,
// as the reader's do.
Settings readSettings(const QString& file);

// The parsing of the optional keys' values, as read (spaces trimmed).
OptionalKey<QByteArray> parseSha256(const QString& text);
OptionalKey<std::int64_t> parseSize(const QString& text);
OptionalKey<QUrl> parseMirror(const QString& text);

}  // namespace zandrel::server
