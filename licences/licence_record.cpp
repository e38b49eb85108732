#include "licences/licence_record.h"

#include "common/columns.h"
#include "common/dates.h"
#include "common/dos_letters.h"

namespace ondival {

void charge_largeurs_licence(WidthList& colLargeursLicence) {
    vide_collection(colLargeursLicence);
    for (int w : {13, 6, 25, 20, 1, 8, 3, 30, 30, 7, 26, 14, 1, 1, 1, 1, 1, 1, 8, 8, 1, 1, 19, 22})
        colLargeursLicence.Add(w);
}

void decoupe_licence(const std::string& line, const WidthList& colLargeursLicence,
                     const TextList& colAccents, const TextList& colMajuscules, LicenceRecord& tabChamps) {
    std::size_t p = 1;
    const std::size_t n = std::min(colLargeursLicence.Count(), tabChamps.size());
    for (std::size_t i = 1; i <= n; ++i) {
        const auto w = static_cast<std::size_t>(colLargeursLicence.Item(i));
        std::string& field = tabChamps[i - 1];
        field = champ(line, p, w);
        if (i == 3)
            field = majuscules_sans_accents(field, colAccents, colMajuscules);
        else if (i == 6 || i == 19 || i == 20)
            field = date_aaaammjj(field);
        p += w;
    }
    const std::string& birth = tabChamps[5];
    const std::string birth_yy = birth.size() >= 4 ? birth.substr(2, 2) : std::string();
    const std::string licence_yy = tabChamps[1].substr(0, 2);
    if (birth_yy != licence_yy) tabChamps[5] = date_annee(licence_yy);
}

}  // namespace ondival
