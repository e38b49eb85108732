// The kind beside an error's number: the numberings collide (5, 13, 18 mean
// one thing raised by the component and another given by SQLite), and one
// function reads them all. A server's faults keep the numbers a file
// database gives for the same faults, and the kinds those give.
#include <gtest/gtest.h>

#include <cerrno>
#include <new>
#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/error_kind.h"
#include "platform/postgres_values.h"
#include "tests/test_support.h"

namespace ondival::test {
namespace {

using platform::ErrorKind;
using platform::ErrorOrigin;

struct KindCase {
    const char* what;
    std::int32_t number;
    ErrorOrigin origin;
    ErrorKind kind;
};

TEST(ErrorKinds, EachNumberHasTheKindOfWhereItComesFrom) {
    const ErrorOrigin component{}, sqlite = ErrorOrigin::sqlite();
    const std::vector<KindCase> cases = {
        // 5: a call refused at the edge names its kind itself (see below);
        // raised as such inside, it is the component misusing its parts.
        {"component's invalid call", 5, component, ErrorKind::kInternal},
        {"SQLite's busy", 5, sqlite, ErrorKind::kBusy},
        {"SQLite's busy snapshot", 517, sqlite, ErrorKind::kBusy},
        {"SQLite's locked table", 6, sqlite, ErrorKind::kBusy},
        // 13
        {"component's type mismatch", 13, component, ErrorKind::kBadData},
        {"SQLite's full disk", 13, sqlite, ErrorKind::kDiskFull},
        // 18
        {"the host's stop", 18, component, ErrorKind::kInterrupted},
        {"SQLite's too big", 18, sqlite, ErrorKind::kDatabase},
        // 10
        {"SQLite's I/O error", 10, sqlite, ErrorKind::kIoError},
        {"a server's broken link", 10, ErrorOrigin::server(""), ErrorKind::kServerGone},
        // 75, 53, 76, 70, 321 and the file system's errno
        {"a path or file access error", 75, component, ErrorKind::kIoError},
        {"a file refused by its rights", 75, ErrorOrigin::system(EACCES), ErrorKind::kPermission},
        {"a read-only file system", 75, ErrorOrigin::system(EROFS), ErrorKind::kPermission},
        {"a write on a full disk", 75, ErrorOrigin::system(ENOSPC), ErrorKind::kDiskFull},
        {"another system error", 75, ErrorOrigin::system(EIO), ErrorKind::kIoError},
        {"file not found", 53, component, ErrorKind::kFileNotFound},
        {"file not found, errno", 53, ErrorOrigin::system(ENOENT), ErrorKind::kFileNotFound},
        {"path not found", 76, ErrorOrigin::system(ENOENT), ErrorKind::kPathNotFound},
        {"permission denied", 70, component, ErrorKind::kPermission},
        {"a bad archive", 321, component, ErrorKind::kBadData},
        {"out of memory", 7, component, ErrorKind::kOutOfMemory},
        {"an internal error", 51, component, ErrorKind::kInternal},
        // SQLite's other codes
        {"SQLite: no such file", 14, ErrorOrigin::sqlite(ENOENT), ErrorKind::kNoDatabase},
        {"SQLite: a file it may not open", 14, ErrorOrigin::sqlite(EACCES), ErrorKind::kPermission},
        {"SQLite: not a database", 26, sqlite, ErrorKind::kBadData},
        {"SQLite: corrupt", 11, sqlite, ErrorKind::kBadData},
        {"SQLite: read-only", 8, sqlite, ErrorKind::kPermission},
        {"SQLite: out of memory", 7, sqlite, ErrorKind::kOutOfMemory},
        {"SQLite: a unique key", 2067, sqlite, ErrorKind::kDatabase},
        {"SQLite: an error", 1, sqlite, ErrorKind::kDatabase},
        // No error is no error, wherever it comes from.
        {"none", 0, component, ErrorKind::kNone},
        {"none from SQLite", 0, sqlite, ErrorKind::kNone},
    };
    for (const KindCase& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(static_cast<int>(platform::error_kind(c.number, c.origin)), static_cast<int>(c.kind));
    }
}

struct ServerCase {
    const char* sqlstate;
    std::int32_t number;  // the file database's, as the trace prints it
    ErrorKind kind;
};

TEST(ErrorKinds, AServersFaultKeepsItsNumberAndTakesItsKindFromItsSqlstate) {
    const std::vector<ServerCase> cases = {
        {"28P01", 23, ErrorKind::kWrongPassword},  // wrong password
        {"28000", 23, ErrorKind::kWrongPassword},  // a user refused
        {"42501", 23, ErrorKind::kPermission},     // no right on a table: the same number
        {"08006", 10, ErrorKind::kServerGone},     // connection lost
        {"57P01", 10, ErrorKind::kServerGone},     // shut down by an administrator
        {"08001", 10, ErrorKind::kNoServer},       // could not connect
        {"57P03", 10, ErrorKind::kNoServer},       // not taking connections yet
        {"3D000", 14, ErrorKind::kNoDatabase},     // no such database
        {"55P03", 5, ErrorKind::kBusy},            // lock timeout
        {"40P01", 5, ErrorKind::kBusy},            // deadlock
        {"40001", 5, ErrorKind::kBusy},            // serialisation failure
        {"53100", 13, ErrorKind::kDiskFull},       // disk full
        {"53200", 7, ErrorKind::kOutOfMemory},     // out of memory
        {"25006", 8, ErrorKind::kPermission},      // read-only transaction
        {"23505", 2067, ErrorKind::kDatabase},     // a unique key
        {"22P02", 20, ErrorKind::kDatabase},       // not a number
        {"42P01", 1, ErrorKind::kDatabase},        // no such table
    };
    for (const ServerCase& c : cases) {
        SCOPED_TRACE(c.sqlstate);
        EXPECT_EQ(platform::pg::number_for(c.sqlstate), c.number);
        EXPECT_EQ(static_cast<int>(platform::error_kind(c.number, ErrorOrigin::server(c.sqlstate))),
                  static_cast<int>(c.kind));
    }
}

// What a raiser decides is carried with the number and the text; a number
// alone takes the kind of the component's own numbers.
TEST(ErrorKinds, AFailureCarriesItsKind) {
    EXPECT_EQ(error_of([] { platform::raise(5, "x", ErrorKind::kInvalidArgument); }).kind, ErrorKind::kInvalidArgument);
    EXPECT_EQ(error_of([] { platform::raise(5, "x", ErrorOrigin::sqlite()); }).kind, ErrorKind::kBusy);
    EXPECT_EQ(error_of([] { platform::raise(5, "x"); }).kind, ErrorKind::kInternal);
    EXPECT_EQ(error_of([] { throw platform::Failure(platform::Error{53, "x"}); }).kind, ErrorKind::kFileNotFound);
    const platform::Error error = error_of([] { platform::raise(18, "Interruption"); });
    EXPECT_EQ(error.number, 18);
    EXPECT_EQ(error.description, "Interruption");
    EXPECT_EQ(error.kind, ErrorKind::kInterrupted);
    EXPECT_EQ(error_of([] {}).kind, ErrorKind::kNone);
    const auto caught = [](auto thrown) {
        try {
            throw thrown;
        } catch (...) {
            return platform::current_error().kind;
        }
    };
    EXPECT_EQ(caught(std::bad_alloc()), ErrorKind::kOutOfMemory);
    EXPECT_EQ(caught(std::runtime_error("x")), ErrorKind::kInternal);
}

}  // namespace
}  // namespace ondival::test
