#include "error.h"

#include <cstring>

namespace zandrel {

Error::Error(std::int32_t number, QString description, QString source)
    : number_(number), description_(std::move(description)), source_(std::move(source)) {
    what_ = QStringLiteral("%1: %2 (%3)").arg(number_).arg(description_, source_).toStdString();
}

Error Error::fromErrno(int err, const QString& source) {
    return Error(err, QString::fromLocal8Bit(std::strerror(err)), source);
}

}  // namespace zandrel
