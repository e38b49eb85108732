// The component's error object: a number and a description, as the host's
// own error object carries them, so that "Erreur n° N: ..." texts read the
// same whatever failed (a file, a conversion, the database engine), and
// beside them the kind of fault (error_kind.h), since numbers collide.
//
// An operation without a handler of its own lets a Failure travel up to the
// nearest caller that has one, which turns it into a status, a message or a
// trace entry. The description is Windows-1252 text, like every text inside
// the component.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

#include "platform/error_kind.h"

namespace ondival::platform {

struct Error {
    std::int32_t number = 0;
    std::string description;
    // Decided by whoever raised it; an Error built from a number alone
    // gets the kind of the component's own number once raised (Failure).
    ErrorKind kind = ErrorKind::kNone;

    bool pending() const { return number != 0; }
};

// Error numbers the platform layer raises itself. Database errors carry the
// engine's own (extended) result code instead.
namespace err {
inline constexpr std::int32_t kInvalidCall = 5;
inline constexpr std::int32_t kOverflow = 6;
inline constexpr std::int32_t kSubscript = 9;
inline constexpr std::int32_t kTypeMismatch = 13;
// The host asked the import to stop (Ctrl-C, a Cancel button): the import
// ends at its next line as a failed one does, nothing of its open step kept.
inline constexpr std::int32_t kUserInterrupt = 18;
inline constexpr std::int32_t kBadFileNumber = 52;
inline constexpr std::int32_t kFileNotFound = 53;
inline constexpr std::int32_t kFileAlreadyOpen = 55;
inline constexpr std::int32_t kInputPastEnd = 62;
inline constexpr std::int32_t kPermissionDenied = 70;
inline constexpr std::int32_t kPathFileAccess = 75;
inline constexpr std::int32_t kPathNotFound = 76;
inline constexpr std::int32_t kInvalidUseOfNull = 94;
// A file that is not what its name says: an export archive that is no zip,
// or a damaged one.
inline constexpr std::int32_t kBadFileFormat = 321;
// A keyed list given a key it already holds.
inline constexpr std::int32_t kKeyAlreadyAssociated = 457;
// A recordset read with no current row.
inline constexpr std::int32_t kNoCurrentRecord = 3021;
}  // namespace err

class Failure : public std::exception {
public:
    // An error without a kind is given the kind of its number, read as
    // one of the component's own (err::).
    explicit Failure(Error error);
    Failure(std::int32_t number, std::string description, const ErrorOrigin& origin = {});
    Failure(std::int32_t number, std::string description, ErrorKind kind);

    const Error& error() const noexcept { return error_; }
    const char* what() const noexcept override { return what_.c_str(); }

private:
    Error error_;
    std::string what_;  // UTF-8, for logs and hosts that only print what()
};

// The kind is error_kind(number, origin): a raiser passes what it knows of
// the number's origin (an engine's code, errno), or the kind itself when it
// alone knows it (a host's argument refused, two paths that clash).
[[noreturn]] void raise(std::int32_t number, std::string description, const ErrorOrigin& origin = {});
[[noreturn]] void raise(std::int32_t number, std::string description, ErrorKind kind);

// Inside a catch block: the error being handled, whatever was thrown.
// Our own failures keep their number; a standard exception becomes the
// platform's "out of memory" (7) or a generic application error (51), so a
// handler can always write "Erreur n° ..." instead of letting it escape.
Error current_error() noexcept;

}  // namespace ondival::platform
