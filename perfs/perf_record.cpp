#include "perfs/perf_record.h"

#include "common/columns.h"
#include "common/dates.h"
#include "common/dos_letters.h"
#include "common/letters.h"

namespace ondival {

void charge_largeurs_liffn(WidthList& colLargeursLiffn) {
    vide_collection(colLargeursLiffn);
    for (int w : {2, 13, 6, 2, 8, 7, 25, 15, 20, 30, 8, 1}) colLargeursLiffn.Add(w);
    for (int i = 0; i < 10; ++i) colLargeursLiffn.Add(6);
    for (int i = 0; i < 5; ++i) colLargeursLiffn.Add(1);
}

bool decoupe_liffn(const std::string& line, const WidthList& colLargeursLiffn, const TextList& colAccents,
                   const TextList& colMajuscules, PerfRecord& record, std::string& message) {
    std::size_t start = 1;
    const std::size_t n = std::min(colLargeursLiffn.Count(), record.size());
    for (std::size_t i = 1; i <= n; ++i) {
        const auto w = static_cast<std::size_t>(colLargeursLiffn.Item(i));
        std::string& field = record[i - 1];
        field = champ(line, start, w);
        switch (i) {
            case 4:
                if (field != "25" && field != "50") {
                    message = "Type de bassin incorrect : " + field + ".";
                    return false;
                }
                break;
            case 5: field = date_aaaammjj(field); break;
            case 7:
                // A surname the federation already wrote in capitals keeps
                // its accents: only mixed-case names are normalised.
                if (field != upper_1252(field)) field = majuscules_sans_accents(field, colAccents, colMajuscules);
                break;
            case 27:
                if (field != "R") field.clear();
                break;
            default: break;
        }
        start += w;
    }
    return true;
}

}  // namespace ondival
