// What kind of fault an error is, beside its number. The numbers come from
// numberings that collide (5 is the component's "invalid procedure call"
// and SQLite's busy database, 13 a type mismatch and SQLite's full disk, 18
// the host's stop and SQLite's "too big"), and a host that acts on an error
// (tries again later, asks for another password) must not read the French
// text. The numbers stay what the trace prints; the kind is decided where
// the error is known, through error_kind() below, the one place that reads
// the numberings.
#pragma once

#include <cstdint>
#include <string_view>

namespace ondival::platform {

// The C ABI gives each kind a value of its own (enum ondvimp_error_kind in
// include/ondvimp.h, described there); a new kind goes at the end of both.
enum class ErrorKind : std::uint8_t {
    kNone,             // no error
    kInvalidArgument,  // the call was made wrongly: an argument NULL or empty, a call where none may be made
    kBusy,             // another session held the database longer than the import waits
    kWrongPassword,    // the server refused the user or its password
    kNoServer,         // no server answered at that address, or it takes no connection now
    kServerGone,       // the server ended the connection, or it broke
    kNoDatabase,       // no such database: no such file, no such database on the server
    kDiskFull,         // the database's disk or the file's is full
    kFileNotFound,
    kPathNotFound,
    kPermission,  // a right is missing: a file, a folder, a table, a database that is read-only
    kPathClash,   // two paths of the call are the same place (the trace is the database, ...)
    kBadData,     // a file or a value is not what it should be: a bad archive, a damaged database, a value out of range
    kIoError,     // a read or a write failed for no reason more precise
    kDatabase,    // any other refusal of the database: a statement, a constraint
    kOutOfMemory,
    kInterrupted,  // the host asked the call to stop
    kInternal,     // a fault of the component itself
};

// Where an error's number comes from, and what else its raiser knows.
struct ErrorOrigin {
    enum class Source : std::uint8_t {
        kComponent,  // one of the numbers of err:: (platform/error.h), the component's own
        kSqlite,     // an SQLite (extended) result code
        kServer,     // a PostgreSQL server's fault, numbered as a file database numbers the same fault
        kSystem,     // a file-system call that failed, numbered as in err::
    };
    Source source = Source::kComponent;
    int system_error = 0;       // kSystem, kSqlite: errno when known, else 0
    std::string_view sqlstate;  // kServer: its SQLSTATE, empty when it gave none

    static ErrorOrigin sqlite(int system_error = 0) { return {Source::kSqlite, system_error, {}}; }
    static ErrorOrigin server(std::string_view sqlstate) { return {Source::kServer, 0, sqlstate}; }
    static ErrorOrigin system(int system_error) { return {Source::kSystem, system_error, {}}; }
};

// The kind of the error numbered `number` where `origin` says. 0 is kNone
// whatever the origin.
ErrorKind error_kind(std::int32_t number, const ErrorOrigin& origin = {});

}  // namespace ondival::platform
