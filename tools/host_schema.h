// Creates an empty host database such as the club application ships: the
// tables the import reads and writes, the geographic and stroke reference
// data, the reference pool's absence and the reference licence "Null".
#pragma once

#include <string>

namespace ondival::tools {

// Creates the database file at path (UTF-8). Returns "" on success, else a
// one-line UTF-8 message; never overwrites an existing file.
std::string create_host_database(const std::string& path);

}  // namespace ondival::tools
