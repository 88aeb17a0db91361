#include "error.h"

#include <cstring>

namespace zandrel {

Error::Error(std::int32_t number, QString description, QString source)
    : number_(number), description_(std::move(description)), source_(std::move(source)) {
    what_ = QStringLiteral("%1: %2 (%3)").arg(number_).arg(description_, source_).toStdString();
}

Error::Error(ErrorNumber number, QString description, QString source)
    : Error(static_cast<std::int32_t>(number), std::move(description), std::move(source)) {
    own_ = true;
}

Error Error::fromErrno(int err, const QString& source, const QString& detail) {
    QString description = QString::fromLocal8Bit(std::strerror(err));
    if (!detail.isEmpty()) description += QStringLiteral(": ") + detail;
    return Error(static_cast<std::int32_t>(err), description, source);
}

Error Error::fromErrnoDescribed(int err, QString description, QString source) {
    return Error(static_cast<std::int32_t>(err), std::move(description), std::move(source));
}

Error Error::outOfMemory(const QString& source) {
    return Error(ErrorNumber::OutOfMemory, QStringLiteral("Out of memory"), source);
}

}  // namespace zandrel
