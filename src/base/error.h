#pragma once

#include <QString>

#include <cstdint>
#include <exception>
#include <string>

namespace zandrel {

// The one error type of the program: a 32-bit number, a description and the routine that
// raised it. Platform failures become one at the platform seam, with the operating system's
// own number and message.
class Error : public std::exception {
public:
    Error(std::int32_t number, QString description, QString source = QStringLiteral("Zandrel"));

    std::int32_t number() const { return number_; }
    const QString& description() const { return description_; }
    const QString& source() const { return source_; }
    const char* what() const noexcept override { return what_.c_str(); }

    // An error from errno, e.g. after a failed open(): number = errno, description = strerror.
    static Error fromErrno(int err, const QString& source);

private:
    std::int32_t number_;
    QString description_;
    QString source_;
    std::string what_;
};

}  // namespace zandrel
