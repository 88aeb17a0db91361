#pragma once

#include <QString>

#include <cstdint>
#include <exception>
#include <string>

namespace zandrel {

// The numbers of the errors the program raises itself. They share the number space of the
// platform's own errors (errno values, HTTP status codes, component codes), which is why they
// have a type of their own: 52 raised here is a bad file name, never errno 52 (EBADE).
enum class ErrorNumber : std::int32_t {
    OutOfMemory = 7,
    ComponentNotLoaded = 48,  // a module or library of the program cannot be loaded
    Internal = 51,            // a failure the program has no better number for
    BadFileName = 52,
    ObjectNotSet = 91,              // a window or object that does not exist is used
    ComponentNotCreated = 429,      // a component cannot be created (its library is missing)
    EntryPointNotFound = 453,       // a library lacks a function the program needs
    IniFileError = -2147219990,     // 0x800405EA: a value the INI reader cannot give
    InvalidArgument = -2147024809,  // 0x80070057: an argument a component refuses
};

// The one error type of the program: a 32-bit number, a description and the routine that
// raised it. Platform failures become one at the platform seam, with the operating system's
// own number and message.
class Error : public std::exception {
public:
    // An error the program raises itself.
    Error(ErrorNumber number, QString description, QString source = QStringLiteral("Zandrel"));
    // A failure the platform or a component reports with its own number (an HTTP status, a
    // transfer or archive component's code). For errno values use fromErrno.
    Error(std::int32_t number, QString description, QString source = QStringLiteral("Zandrel"));

    std::int32_t number() const { return number_; }
    const QString& description() const { return description_; }
    const QString& source() const { return source_; }
    const char* what() const noexcept override { return what_.c_str(); }

    // Raised by the program with this number (not a platform number that happens to equal it).
    bool is(ErrorNumber number) const {
        return own_ && number_ == static_cast<std::int32_t>(number);
    }
    // From errno, e.g. after a failed open(): number = errno, description = strerror, and the
    // detail (a path) after it when given.
    static Error fromErrno(int err, const QString& source, const QString& detail = QString());
    // Out of memory, raised the same way wherever a routine turns std::bad_alloc into an Error.
    static Error outOfMemory(const QString& source = QStringLiteral("Zandrel"));

private:
    std::int32_t number_;
    QString description_;
    QString source_;
    std::string what_;
    bool own_ = false;
};

}  // namespace zandrel
