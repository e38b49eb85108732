#include "host/stored_counts.h"

#include "platform/database.h"

namespace ondival::host {
namespace {

using platform::Shape;

const Shape kClubs{"SELECT COUNT(*) FROM Club", Shape::read({"Club"})};
const Shape kLicences{"SELECT COUNT(*) FROM Licence", Shape::read({"Licence"})};
// Staged rows (-1) belong to no competition yet: not counted as stored.
const Shape kPerformances{"SELECT (SELECT COUNT(*) FROM Liffn WHERE Num_compet <> -1)"
                          " + (SELECT COUNT(*) FROM Liffn_relais WHERE Num_compet <> -1)",
                          Shape::read({"Liffn", "Liffn_relais"})};

}  // namespace

std::optional<StoredCounts> count_stored(const std::string& database) {
    try {
        platform::Connection connection;
        connection.Open(database);
        const auto count = [&connection](const Shape& shape) {
            platform::Recordset rs;
            rs.Open(platform::Sql(shape), connection);
            const std::optional<std::string> v = rs.Eof() ? std::nullopt : rs.Field(0);
            return v ? std::stoll(*v) : -1;
        };
        StoredCounts counts;
        counts.clubs = count(kClubs);
        counts.licences = count(kLicences);
        counts.performances = count(kPerformances);
        if (counts.clubs < 0 || counts.licences < 0 || counts.performances < 0) return std::nullopt;
        return counts;
    } catch (...) {
        return std::nullopt;
    }
}

}  // namespace ondival::host
