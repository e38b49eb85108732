#include "host/stored_counts.h"

#include "platform/database.h"

namespace ondival::host {

std::optional<StoredCounts> count_stored(const std::string& database) {
    try {
        platform::Connection connection;
        connection.Open(database);
        const auto count = [&connection](const char* sql) {
            platform::Recordset rs;
            rs.Open(sql, connection);
            const std::optional<std::string> v = rs.Eof() ? std::nullopt : rs.Field(0);
            return v ? std::stoll(*v) : -1;
        };
        StoredCounts counts;
        counts.clubs = count("SELECT COUNT(*) FROM Club");
        counts.licences = count("SELECT COUNT(*) FROM Licence");
        counts.performances = count("SELECT (SELECT COUNT(*) FROM Liffn WHERE Num_compet <> -1)"
                                    " + (SELECT COUNT(*) FROM Liffn_relais WHERE Num_compet <> -1)");
        if (counts.clubs < 0 || counts.licences < 0 || counts.performances < 0) return std::nullopt;
        return counts;
    } catch (...) {
        return std::nullopt;
    }
}

}  // namespace ondival::host
