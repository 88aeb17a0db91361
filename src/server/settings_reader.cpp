#include "server/settings_reader.h"

#include "base/platform.h"
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
        return KeyValue{value.value_or(QString()), value.has_value(), boxes_.take()};
    }

    // An optional key is quiet: its absence is no failure, so the reader's box is dropped.
    std::optional<QString> optional(const QString& key) {
        reader_.setKey(key);
        std::optional<QString> value = reader_.ReadINISettings();
        boxes_.take();
        return value;
    }

private:
    KeptBoxes boxes_;
    CReadINI reader_;
};

template <class T>
OptionalKey<T> malformed(const QString& text) {
    return OptionalKey<T>{Announced::Malformed, T{}, text};
}

template <class T, class Parse>
OptionalKey<T> parseIfPresent(const std::optional<QString>& text, Parse parse) {
    return text ? parse(*text) : OptionalKey<T>{};
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
    s.updateSha256 = parseIfPresent<QByteArray>(reader.optional(kKeyUpdateSha256), parseSha256);
    s.updateSize = parseIfPresent<std::int64_t>(reader.optional(kKeyUpdateSize), parseSize);
    for (int i = 0; i < kMirrorCount; ++i)
        s.mirrors[i] = parseIfPresent<QUrl>(reader.optional(mirrorKey(i + 1)), parseMirror);
    return s;
}

}  // namespace zandrel::server
