#include "server/settings.h"

namespace zandrel::server {

QString mirrorKey(int number) {
    return QStringLiteral("Mirror") + QString::number(number);
}

bool isPpfUpdate(const QString& ppfValue) {
    return ppfValue == QLatin1String("1");
}

bool isPlainMapFileName(const QString& name) {
    bool onlyDotsAndBlanks = true;
    for (const QChar c : name) {
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c == QLatin1Char(':') ||
            c == QLatin1Char('"') || c.category() == QChar::Other_Control) {
            return false;
        }
        if (c != QLatin1Char('.') && c != QLatin1Char(' ')) onlyDotsAndBlanks = false;
    }
    return !onlyDotsAndBlanks;  // also refuses the empty name
}

}  // namespace zandrel::server
