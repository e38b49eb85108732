#include "perfs/perf_record.h"

#include "common/columns.h"
#include "common/dates.h"
#include "common/dos_letters.h"
#include "common/letters.h"

namespace ondival {

void charge_largeurs_liffn(WidthList& colLargeursLiffn) {
    vide_collection(colLargeursLiffn);
    for (std::size_t w : kPerfLayout.widths) colLargeursLiffn.Add(static_cast<int>(w));
}

bool decoupe_liffn(const std::string& line, const WidthList& colLargeursLiffn, const TextList& colAccents,
                   const TextList& colMajuscules, PerfRecord& record, std::string& message) {
    std::size_t start = 1;
    const std::size_t n = std::min(colLargeursLiffn.Count(), record.size());
    for (std::size_t i = 1; i <= n; ++i) {
        const auto w = static_cast<std::size_t>(colLargeursLiffn.Item(i));
        std::string& field = record[i - 1];
        cut_field(field, line, start, w);
        switch (i - 1) {
            case kPerfBassin:
                if (field != "25" && field != "50") {
                    message = "Type de bassin incorrect : " + field + ".";
                    return false;
                }
                break;
            case kPerfDate:
                field = date_aaaammjj(field);
                break;
            case kPerfNom:
                // A surname the federation already wrote in capitals keeps
                // its accents: only mixed-case names are normalised.
                if (field != upper_1252(field)) field = majuscules_sans_accents(field, colAccents, colMajuscules);
                break;
            case kPerfPassageRelais:
                if (field != "R") field.clear();
                break;
            default:
                break;
        }
        start += w;
    }
    return true;
}

}  // namespace ondival
