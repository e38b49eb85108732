#include "platform/error_kind.h"

#include <sqlite3.h>

#include <cerrno>

#include "platform/error.h"

namespace ondival::platform {
namespace {

// The component's own numbers, those of err:: and the few it raises as
// numbers (7 out of memory, 51 internal error, 457 a key given twice, 3021
// no current record).
ErrorKind component_kind(std::int32_t number) {
    switch (number) {
        case err::kUserInterrupt:
            return ErrorKind::kInterrupted;
        case err::kFileNotFound:
            return ErrorKind::kFileNotFound;
        case err::kPathNotFound:
            return ErrorKind::kPathNotFound;
        case err::kPermissionDenied:
            return ErrorKind::kPermission;
        case err::kPathFileAccess:
            return ErrorKind::kIoError;
        case err::kOverflow:
        case err::kSubscript:
        case err::kTypeMismatch:
        case err::kInputPastEnd:
        case err::kInvalidUseOfNull:
        case err::kBadFileFormat:
        case err::kKeyAlreadyAssociated:
        case err::kNoCurrentRecord:
            return ErrorKind::kBadData;
        case 7:
            return ErrorKind::kOutOfMemory;
        default:
            // kInvalidCall included: raised as such, it is the component
            // misusing its own parts. The calls a host makes wrongly are
            // refused as kInvalidArgument by name, where they are checked.
            return ErrorKind::kInternal;
    }
}

// What errno says, when it says more than the number.
ErrorKind system_kind(std::int32_t number, int system_error) {
    switch (system_error) {
        case EACCES:
        case EPERM:
        case EROFS:
            return ErrorKind::kPermission;
        case ENOSPC:
        case EDQUOT:
            return ErrorKind::kDiskFull;
        case ENOMEM:
            return ErrorKind::kOutOfMemory;
        default:
            return component_kind(number);
    }
}

ErrorKind sqlite_kind(std::int32_t number, int system_error) {
    switch (number & 0xff) {
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
            return ErrorKind::kBusy;
        case SQLITE_NOMEM:
            return ErrorKind::kOutOfMemory;
        case SQLITE_PERM:
        case SQLITE_READONLY:
        case SQLITE_AUTH:
            return ErrorKind::kPermission;
        case SQLITE_FULL:
            return ErrorKind::kDiskFull;
        case SQLITE_IOERR:
            return number == SQLITE_IOERR_NOMEM ? ErrorKind::kOutOfMemory : ErrorKind::kIoError;
        case SQLITE_NOLFS:
            return ErrorKind::kIoError;
        case SQLITE_CORRUPT:
        case SQLITE_NOTADB:
        case SQLITE_FORMAT:
            return ErrorKind::kBadData;
        case SQLITE_CANTOPEN:
            // The database file, or its journal: a right missing, or no
            // file there to open (a host database is never created).
            return system_kind(0, system_error) == ErrorKind::kPermission ? ErrorKind::kPermission
                                                                          : ErrorKind::kNoDatabase;
        case SQLITE_MISUSE:
            return ErrorKind::kInternal;
        default:
            return ErrorKind::kDatabase;
    }
}

ErrorKind server_kind(std::int32_t number, std::string_view s) {
    if (s.size() != 5) {
        // No SQLSTATE: the engine's own numbers, which are a file
        // database's but for what only a server meets.
        switch (number) {
            case 10:  // SQLITE_IOERR's number: the connection broke
                return ErrorKind::kServerGone;
            case 14:  // SQLITE_CANTOPEN's: nothing answered
                return ErrorKind::kNoServer;
            case 23:  // SQLITE_AUTH's: refused at the door
                return ErrorKind::kWrongPassword;
            default:
                return sqlite_kind(number, 0);
        }
    }
    const std::string_view cls = s.substr(0, 2);
    // Could not connect, or the server rejected the connection.
    if (s == "08001" || s == "08004" || s == "57P03" || s == "53300") return ErrorKind::kNoServer;
    if (cls == "08" || s == "57P01" || s == "57P02") return ErrorKind::kServerGone;
    if (cls == "28") return ErrorKind::kWrongPassword;
    if (s == "42501" || s == "25006") return ErrorKind::kPermission;
    if (s == "3D000") return ErrorKind::kNoDatabase;
    // A lock not granted in time, a deadlock, a serialisation failure, a
    // statement that ran past the server's timeout.
    if (s == "55P03" || cls == "40" || s == "57014") return ErrorKind::kBusy;
    if (s == "53100") return ErrorKind::kDiskFull;
    if (s == "53200") return ErrorKind::kOutOfMemory;
    if (cls == "58") return ErrorKind::kIoError;
    if (s == "XX001" || s == "XX002") return ErrorKind::kBadData;
    return ErrorKind::kDatabase;
}

}  // namespace

ErrorKind error_kind(std::int32_t number, const ErrorOrigin& origin) {
    if (number == 0) return ErrorKind::kNone;
    switch (origin.source) {
        case ErrorOrigin::Source::kSqlite:
            return sqlite_kind(number, origin.system_error);
        case ErrorOrigin::Source::kServer:
            return server_kind(number, origin.sqlstate);
        case ErrorOrigin::Source::kSystem:
            return system_kind(number, origin.system_error);
        case ErrorOrigin::Source::kComponent:
            break;
    }
    return component_kind(number);
}

}  // namespace ondival::platform
