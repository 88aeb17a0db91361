#include "ini/creadini.h"

#include "base/error.h"
#include "ini/profile.h"

#include <QByteArray>

#include <array>
#include <cerrno>
#include <cstring>
#include <new>
#include <system_error>

namespace zandrel {
namespace {

constexpr std::size_t kBufferSize = 255;

// The buffer's text up to its first NUL. A value cut at the buffer's end may end inside a
// multi-byte character; that partial character is dropped rather than shown as garbage.
QString bufferText(const char* buffer) {
    std::size_t n = strnlen(buffer, kBufferSize);
    if (n == kBufferSize - 1) {
        std::size_t start = n;
        while (start > 0 && n - start < 4 && (buffer[start - 1] & 0xC0) == 0x80) --start;
        if (start > 0) {
            const auto lead = static_cast<unsigned char>(buffer[start - 1]);
            const std::size_t need = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
            if (need > 1 && n - (start - 1) < need) n = start - 1;
        }
    }
    return QString::fromUtf8(buffer, static_cast<qsizetype>(n));
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
        if (count != 0) return trimSpaces(bufferText(buffer.data()));
        throw Error(ErrorNumber::IniFileError, QStringLiteral("Initialization File Error!"),
                    source);
    } catch (const Error& e) {
        report(e);
    } catch (const std::bad_alloc&) {
        report(Error::outOfMemory(source));
    } catch (const std::system_error& e) {
        report(Error(e.code().value(), QString::fromStdString(e.code().message()), source));
    } catch (...) {
        // Nothing else is expected from a read; still, the caller must get its answer.
        report(Error(ErrorNumber::Internal, QStringLiteral("Internal error"), source));
    }
    return std::nullopt;
}

}  // namespace zandrel
