// A server address typed on a command line is visible to every user of the
// machine (ps, /proc/PID/cmdline) for as long as the import runs, and stays
// in the shell's history. The tools still accept one, as libpq does, but say
// where the password belongs instead.
#pragma once

#include <string>

namespace ondival::cli {

// The one-line warning (no program name, no line end) for a database
// argument that carries a password, or "" for one that does not. The
// warning never repeats the password.
std::string password_warning(const std::string& database);

}  // namespace ondival::cli
