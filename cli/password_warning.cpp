#include "cli/password_warning.h"

#include "platform/database.h"

namespace ondival::cli {

std::string password_warning(const std::string& database) {
    // The shown form of an address hides exactly what is secret in it (the
    // password after the user name, a password= setting); when it differs
    // from the address, the command line gave the secret away.
    if (!platform::is_postgres_uri(database) || platform::printable_database(database) == database) return "";
    return "warning: the address " + platform::printable_database(database) +
           " carries a password, which other users of this machine can read on the command line; leave it out "
           "and let libpq find it in PGPASSWORD, ~/.pgpass (or PGPASSFILE) or a service file";
}

}  // namespace ondival::cli
