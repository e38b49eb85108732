// Creates an empty host database such as the club application ships: the
// tables the import reads and writes, the geographic and stroke reference
// data, the reference pool's absence and the reference licence "Null".
#pragma once

#include <string>

namespace ondival::host {

// Creates the host database: a file at a path (UTF-8), never overwriting an
// existing file; or, for a postgresql:// address, the tables and reference
// data on that server, refused when the tables are already there. Returns
// "" on success, else a one-line UTF-8 message (without the password).
std::string create_host_database(const std::string& database);

}  // namespace ondival::host
