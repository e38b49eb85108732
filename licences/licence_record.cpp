#include "licences/licence_record.h"

#include "common/columns.h"
#include "common/dates.h"
#include "common/dos_letters.h"

namespace ondival {
namespace {

// The origin's club code; its licence number fills the rest of the field.
constexpr std::size_t kOrigineClubWidth = 13;
constexpr std::size_t kOrigineLicenceWidth = kLicenceLayout.width(kLicOrigine) - kOrigineClubWidth;
static_assert(kLicenceLayout.first(kLicOrigine) == 208 && kOrigineLicenceWidth == 6);

}  // namespace

void charge_largeurs_licence(WidthList& colLargeursLicence) {
    vide_collection(colLargeursLicence);
    for (std::size_t w : kLicenceLayout.widths) colLargeursLicence.Add(static_cast<int>(w));
}

void decoupe_licence(const std::string& line, const WidthList& colLargeursLicence, const TextList& colAccents,
                     const TextList& colMajuscules, LicenceRecord& tabChamps) {
    std::size_t p = 1;
    const std::size_t n = std::min(colLargeursLicence.Count(), tabChamps.size());
    for (std::size_t i = 1; i <= n; ++i) {
        const auto w = static_cast<std::size_t>(colLargeursLicence.Item(i));
        std::string& field = tabChamps[i - 1];
        cut_field(field, line, p, w);
        switch (i - 1) {
            case kLicNom:
                field = majuscules_sans_accents(field, colAccents, colMajuscules);
                break;
            case kLicNaissance:
            case kLicDateDepot:
            case kLicDateObliteration:
                field = date_aaaammjj(field);
                break;
            default:
                break;
        }
        p += w;
    }
    tabChamps[kLicNaissance] = annee_naissance_licence(tabChamps[kLicNaissance], tabChamps[kLicLicence]);
}

std::string annee_naissance_licence(const std::string& birth, const std::string& licence) {
    const std::string_view licence_yy = colonne(licence, 1, 2);
    if (colonne(birth, 3, 2) == licence_yy) return birth;
    return date_annee(licence_yy);
}

OrigineSelection coupe_origine(std::string_view origin) {
    return {champ(origin, 1, kOrigineClubWidth), champ(origin, kOrigineClubWidth + 1, kOrigineLicenceWidth)};
}

OrigineSelection origine_de_ligne(std::string_view line) {
    return coupe_origine(colonne(line, kLicenceLayout.first(kLicOrigine), kLicenceLayout.width(kLicOrigine)));
}

}  // namespace ondival
