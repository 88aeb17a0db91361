#include "server/settings_reader.h"

#include "base/platform.h"
#include "base/printable.h"
#include "ini/creadini.h"
#include "server/settings.h"

#include <algorithm>
#include <limits>
#include <optional>
#include <utility>

namespace zandrel::server {

namespace {

// Keeps the reader's boxes instead of showing them.
class KeptBoxes : public MessageBoxes {
public:
    void show(const QString& prompt, MsgIcon icon, const QString& title) override {
        kept.append({prompt, icon, title});
    }
    QList<ReaderBox> take() { return std::exchange(kept, {}); }

    QList<ReaderBox> kept;
};

class Reader {
public:
    explicit Reader(const QString& file) : reader_(boxes_) {
        reader_.setININame(file);
        reader_.setSection(kSection);
    }

    KeyValue required(const QString& key) {
        reader_.setKey(key);
        const std::optional<QString> value = reader_.ReadINISettings();
        return KeyValue{value.value_or(QString()), value.has_value(), boxes_.take(),
                        reader_.lastValueWasWindows1252()};
    }

    // An optional key is quiet: its absence is no failure, so the reader's box is dropped. A
    // malformed value is listed among the problems.
    template <class T, class Parse>
    OptionalKey<T> optional(const QString& key, Parse parse, const QString& meant,
                            QList<SettingsProblem>& problems) {
        reader_.setKey(key);
        const std::optional<QString> text = reader_.ReadINISettings();
        boxes_.take();
        if (!text) return {};
        OptionalKey<T> value = parse(*text);
        value.windows1252 = reader_.lastValueWasWindows1252();
        if (value.state == Announced::Malformed) {
            problems.append({key, value.raw,
                             QStringLiteral("%1=%2 is not %3; it is ignored")
                                 .arg(key, printable(value.raw), meant)});
        }
        return value;
    }

private:
    KeptBoxes boxes_;
    ini::CReadINI reader_;
};

template <class T>
OptionalKey<T> malformed(const QString& text) {
    return OptionalKey<T>{Announced::Malformed, T{}, text};
}

bool isHexDigit(QChar c) {
    return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
           (c >= QLatin1Char('a') && c <= QLatin1Char('f')) ||
           (c >= QLatin1Char('A') && c <= QLatin1Char('F'));
}

// The reader gives at most 254 bytes and drops a character cut at that end, so a value this
// long may be the first part of a longer one: an address cut short would name another file.
constexpr qsizetype kPossiblyCut = 254 - 3;

}  // namespace

void KeyValue::tellPlayer(MessageBoxes& messageBoxes) const {
    for (const ReaderBox& box : boxes) messageBoxes.show(box.prompt, box.icon, box.title);
}

bool Settings::ppfUpdate() const {
    return isPpfUpdate(ppf.text);
}

QList<std::pair<QString, QString>> Settings::windows1252Values() const {
    QList<std::pair<QString, QString>> values;
    const auto required = [&](const QString& key, const KeyValue& v) {
        if (v.windows1252) values.append({key, v.text});
    };
    const auto optional = [&](const QString& key, const auto& v) {
        if (v.windows1252) values.append({key, v.raw});
    };
    required(kKeyHtml, html);
    required(kKeyHaloIP, haloIP);
    required(kKeyTarget, target);
    required(kKeyPpf, ppf);
    required(kKeyAdminEmail, adminEmail);
    optional(kKeyUpdateSha256, updateSha256);
    optional(kKeyUpdateSize, updateSize);
    for (int i = 0; i < kMirrorCount; ++i) optional(mirrorKey(i + 1), mirrors[i]);
    return values;
}

ReaderBox problemsBox(const QList<SettingsProblem>& problems) {
    QStringList lines{
        QStringLiteral("The server's settings file has values this program cannot "
                       "use:")};
    for (const SettingsProblem& p : problems) lines << p.text;
    return {lines.join(QStringLiteral("\r\n")), MsgIcon::Information, QString()};
}

void Settings::tellPlayerAboutProblems(MessageBoxes& messageBoxes) const {
    if (problems.isEmpty()) return;
    const ReaderBox box = problemsBox(problems);
    messageBoxes.show(box.prompt, box.icon, box.title);
}

QString settingsFilePath(const QString& appFolder) {
    return appFolder + platform::kSep + kSettingsFile;
}

OptionalKey<QByteArray> parseSha256(const QString& text) {
    constexpr qsizetype kHexDigits = 64;
    if (text.size() != kHexDigits || !std::all_of(text.begin(), text.end(), isHexDigit))
        return malformed<QByteArray>(text);
    return {Announced::Valid, QByteArray::fromHex(text.toLatin1()), text};
}

OptionalKey<std::int64_t> parseSize(const QString& text) {
    const bool digitsOnly = !text.isEmpty() && std::all_of(text.begin(), text.end(), [](QChar c) {
        return c >= QLatin1Char('0') && c <= QLatin1Char('9');
    });
    bool fits = false;
    const qlonglong bytes = digitsOnly ? text.toLongLong(&fits) : 0;
    static_assert(std::numeric_limits<qlonglong>::max() ==
                  std::numeric_limits<std::int64_t>::max());
    if (!fits) return malformed<std::int64_t>(text);
    return {Announced::Valid, static_cast<std::int64_t>(bytes), text};
}

// A mirror is the full address of the update file: http or https, with a host.
OptionalKey<QUrl> parseMirror(const QString& text) {
    if (text.toUtf8().size() >= kPossiblyCut) return malformed<QUrl>(text);
    // As a browser takes an address: a space or another character not allowed is encoded.
    const QUrl url(text, QUrl::TolerantMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty() ||
        (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
        return malformed<QUrl>(text);
    }
    return {Announced::Valid, url, text};
}

Settings readSettings(const QString& file) {
    Reader reader(file);
    Settings s;
    s.html = reader.required(kKeyHtml);
    s.haloIP = reader.required(kKeyHaloIP);
    s.target = reader.required(kKeyTarget);
    s.ppf = reader.required(kKeyPpf);
    s.adminEmail = reader.required(kKeyAdminEmail);
    s.updateSha256 = reader.optional<QByteArray>(
        kKeyUpdateSha256, parseSha256, QStringLiteral("a SHA-256 of 64 hexadecimal digits"),
        s.problems);
    s.updateSize = reader.optional<std::int64_t>(
        kKeyUpdateSize, parseSize, QStringLiteral("a size in bytes (digits only)"), s.problems);
    for (int i = 0; i < kMirrorCount; ++i) {
        s.mirrors[i] = reader.optional<QUrl>(
            mirrorKey(i + 1), parseMirror,
            QStringLiteral("the full http or https address of the update file"), s.problems);
    }
    return s;
}

}  // namespace zandrel::server
