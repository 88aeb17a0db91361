#pragma once

#include <QString>

#include <concepts>
#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <type_traits>

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

// A component's failure kind: a scoped enum of the component's own (net::TransferFailure,
// archive::ArchiveFailure...), with shownNumber(kind, detail) beside it in its namespace, which
// gives the number a message box shows for it.
template <class Kind>
concept FailureKind =
    std::is_enum_v<Kind> && !std::is_convertible_v<Kind, std::underlying_type_t<Kind>> &&
    requires(Kind kind, std::int32_t detail) {
    { shownNumber(kind, detail) } -> std::same_as<std::int32_t>;
};

// The one error type of the program: a 32-bit number, a description and the routine that
// raised it. Platform failures become one at the platform seam, with the operating system's
// own number and message.
class Error : public std::exception {
public:
    // A failure the platform reports with its own number. For errno values use fromErrno or
    // fromErrnoDescribed.
    Error(std::int32_t number, QString description, QString source = QStringLiteral("Zandrel"));
    // An error the program raises itself.
    Error(ErrorNumber number, QString description, QString source = QStringLiteral("Zandrel"));
    // A component's failure of one of its kinds; detail is what the kind needs besides (an HTTP
    // status, the transfer library's code), 0 when nothing.
    template <FailureKind Kind>
    Error(Kind kind, QString description, QString source, std::int32_t detail = 0)
        : Error(shownNumber(kind, detail), std::move(description), std::move(source)) {
        kindType_ = &kindTag<Kind>;
        kindValue_ = static_cast<std::int64_t>(kind);
        detail_ = detail;
    }

    // The number shown for it: a kind's shown number, an errno value, the program's own number.
    std::int32_t number() const { return number_; }
    const QString& description() const { return description_; }
    const QString& source() const { return source_; }
    const char* what() const noexcept override { return what_.c_str(); }

    // Raised by the program with this number (not a platform number that happens to equal it).
    bool is(ErrorNumber number) const {
        return own_ && number_ == static_cast<std::int32_t>(number);
    }
    // The kind it was raised with when it is one of Kind's, else nothing: another component's
    // kind of the same value never answers.
    template <FailureKind Kind>
    std::optional<Kind> kind() const {
        if (kindType_ != &kindTag<Kind>) return std::nullopt;
        return static_cast<Kind>(kindValue_);
    }
    template <FailureKind Kind>
    bool is(Kind kind) const {
        return this->kind<Kind>() == kind;
    }
    // The kind's detail (see the kind's constructor); 0 for an error raised without a kind.
    std::int32_t detail() const { return detail_; }

    // From errno, e.g. after a failed open(): number = errno, description = strerror, and the
    // detail (a path) after it when given.
    static Error fromErrno(int err, const QString& source, const QString& detail = QString());
    // From errno, in the program's own words instead of the system's (e.g. "File not found: x").
    static Error fromErrnoDescribed(int err, QString description, QString source);
    // Out of memory, raised the same way wherever a routine turns std::bad_alloc into an Error.
    static Error outOfMemory(const QString& source = QStringLiteral("Zandrel"));

private:
    std::int32_t number_;
    QString description_;
    QString source_;
    std::string what_;
    bool own_ = false;
    // A kind's type is told by the address of a variable of its own.
    template <class Kind>
    static constexpr char kindTag = 0;
    const char* kindType_ = nullptr;
    std::int64_t kindValue_ = 0;
    std::int32_t detail_ = 0;
};

}  // namespace zandrel
