#include "ini/creadini.h"

#include "base/error.h"
#include "ini/profile.h"

#include <QByteArray>
#include <QStringDecoder>

#include <array>
#include <cerrno>
#include <cstring>
#include <new>
#include <system_error>
#include <utility>

namespace zandrel::ini {
namespace {

constexpr std::size_t kBufferSize = 255;

// Windows-1252 for bytes 0x80-0x9F; every other byte is the code point of its value, as in
// ISO-8859-1 (the five bytes Windows-1252 leaves undefined included).
constexpr std::array<char16_t, 32> kWindows1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

QString fromWindows1252(const char* bytes, std::size_t n) {
    QString text;
    text.reserve(static_cast<qsizetype>(n));
    for (std::size_t i = 0; i < n; ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        text.append(b >= 0x80 && b < 0xA0 ? QChar(kWindows1252High[b - 0x80])
                                          : QChar(static_cast<char16_t>(b)));
    }
    return text;
}

std::optional<QString> fromValidUtf8(const char* bytes, std::size_t n) {
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    QString text = utf8.decode(QByteArrayView(bytes, static_cast<qsizetype>(n)));
    if (utf8.hasError()) return std::nullopt;
    return text;
}

// The buffer's text up to its first NUL, and whether it was not UTF-8. A value cut at the
// buffer's end may end inside a multi-byte character; that partial character is dropped rather
// than shown as garbage. Bytes that are not UTF-8 are read as Windows-1252, the code page of the
// Windows systems these files are written on.
std::pair<QString, bool> bufferText(const char* buffer) {
    const std::size_t all = strnlen(buffer, kBufferSize);
    std::size_t n = all;
    if (n == kBufferSize - 1) {
        std::size_t start = n;
        while (start > 0 && n - start < 4 && (buffer[start - 1] & 0xC0) == 0x80) --start;
        if (start > 0) {
            const auto lead = static_cast<unsigned char>(buffer[start - 1]);
            const std::size_t need = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
            if (need > 1 && n - (start - 1) < need) n = start - 1;
        }
    }
    if (std::optional<QString> text = fromValidUtf8(buffer, n)) return {*std::move(text), false};
    return {fromWindows1252(buffer, all), true};
}

// Only the space character: tabs and other white space stay.
QString trimSpaces(const QString& text) {
    qsizetype from = 0;
    qsizetype to = text.size();
    while (from < to && text.at(from) == QLatin1Char(' ')) ++from;
    while (to > from && text.at(to - 1) == QLatin1Char(' ')) --to;
    return text.mid(from, to - from);
}

}  // namespace

CReadINI::CReadINI(MessageBoxes& boxes) : boxes_(boxes) {}

void CReadINI::setSection(const QString& section) {
    section_ = section;
}
void CReadINI::setKey(const QString& key) {
    key_ = key;
}
void CReadINI::setININame(const QString& iniName) {
    iniName_ = iniName;
}

std::optional<QString> CReadINI::ReadINISettings() {
    lastWasWindows1252_ = false;
    const QString source = QStringLiteral("CReadINI.ReadINISettings");
    auto report = [this](const Error& e) {
        boxes_.show(QStringLiteral("Error Number: ") + QString::number(e.number()) +
                        QStringLiteral("\r\nError Description: ") + e.description(),
                    MsgIcon::Critical, QStringLiteral("Initialization File Error"));
    };
    try {
        std::array<char, kBufferSize> buffer{};
        const QByteArray section = section_.toUtf8();
        const QByteArray key = key_.toUtf8();
        const std::size_t count =
            ini::getPrivateProfileString(std::string_view(section.constData(), section.size()),
                                         std::string_view(key.constData(), key.size()), "",
                                         buffer.data(), buffer.size(), iniName_.toStdString());
        if (count != 0) {
            auto [text, windows1252] = bufferText(buffer.data());
            lastWasWindows1252_ = windows1252;
            return trimSpaces(text);
        }
        throw Error(ErrorNumber::IniFileError, QStringLiteral("Initialization File Error!"),
                    source);
    } catch (const Error& e) {
        report(e);
    } catch (const std::bad_alloc&) {
        report(Error::outOfMemory(source));
    } catch (const std::system_error& e) {
        report(Error::fromErrnoDescribed(e.code().value(),
                                         QString::fromStdString(e.code().message()), source));
    } catch (...) {
        // Nothing else is expected from a read; still, the caller must get its answer.
        report(Error(ErrorNumber::Internal, QStringLiteral("Internal error"), source));
    }
    return std::nullopt;
}

}  // namespace zandrel::ini
