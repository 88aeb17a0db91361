#include "base/printable.h"

#include "base/hidden_characters.h"

namespace zandrel {

namespace {

QString escaped(char32_t c) {
    if (c < 0x100)
        return QStringLiteral("\\x%1").arg(static_cast<uint>(c), 2, 16, QLatin1Char('0'));
    if (c < 0x10000)
        return QStringLiteral("\\u%1").arg(static_cast<uint>(c), 4, 16, QLatin1Char('0'));
    return QStringLiteral("\\U%1").arg(static_cast<uint>(c), 8, 16, QLatin1Char('0'));
}

bool isLayout(const QString& text, qsizetype i) {
    const QChar c = text.at(i);
    if (c == QLatin1Char('\n') || c == QLatin1Char('\t')) return true;
    return c == QLatin1Char('\r') && i + 1 < text.size() && text.at(i + 1) == QLatin1Char('\n');
}

}  // namespace

QString printable(const QString& text, LineBreaks lineBreaks) {
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        char32_t code = c.unicode();
        const bool pair =
            c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate();
        if (pair) code = QChar::surrogateToUcs4(c, text.at(i + 1));
        if (lineBreaks == LineBreaks::Keep && isLayout(text, i)) {
            out += c;
        } else if (isHiddenCharacter(code) || (c.isSurrogate() && !pair)) {
            out += escaped(code);
        } else {
            out += c;
            if (pair) out += text.at(i + 1);
        }
        if (pair) ++i;
    }
    return out;
}

}  // namespace zandrel
