#include "licences/licence_import.h"

#include <string>

#include "clubs/club_save.h"
#include "common/columns.h"
#include "common/dates.h"
#include "common/dos_letters.h"
#include "common/numeric.h"
#include "common/progress.h"
#include "common/trace.h"
#include "import/cst.h"
#include "import/database_access.h"
#include "licences/licence_creation.h"
#include "licences/licence_record.h"
#include "platform/cp1252.h"
#include "platform/error.h"
#include "platform/text_file.h"

namespace ondival {
namespace {

std::string club_created_warning(const std::string& code) {
    return "Code club (" + code + ") inconnu de la base. Création avec Le libelle "_w + kLabelNull;
}

// Adds a swimmer to both caches. A key met twice means two lines claim the
// same selection place: say which, rather than a bare collection error.
void cache_swimmer(const std::string& key, const std::string& num, const std::string& birth) {
    Cst& c = cst();
    if (c.colNumLicences.Contains(key))
        platform::raise(457, "La licence " + key + " est déjà enregistrée par une ligne précédente"_w);
    c.colNumLicences.Add(num, key);
    c.colNaissances.Add(birth, key);
}

}  // namespace

void import_licences(std::int16_t trace_file, std::int16_t data_file, double step) {
    Cst& c = cst();
    platform::TextFiles& f = platform::files();
    TextList colAccents, colMajuscules;
    WidthList colLargeursLicence;
    charge_accents(colAccents, colMajuscules);
    charge_largeurs_licence(colLargeursLicence);

    std::int32_t read = 0, added = 0, known = 0, relays = 0, in_error = 0, clubs_added = 0;
    bool opened = false;
    try {
        f.OpenInput(data_file, c.strFileLicence);
        opened = true;
        std::string line, message;
        LicenceRecord tabChamps;
        while (!f.Eof(data_file)) {
            ++read;
            message.clear();
            f.LineInput(data_file, line);
            accents_dos_in_place(line);
            tabChamps.fill(std::string());

            std::string club(colonne(line, kLicenceLayout.first(kLicCodeClub), kLicenceLayout.width(kLicCodeClub)));
            std::string licence(colonne(line, kLicenceLayout.first(kLicLicence), kLicenceLayout.width(kLicLicence)));
            std::string selection, selection_licence;
            bool failed = false;

            if (!licence.empty() && (licence[0] == 'R' || licence[0] == 'r')) {
                ++relays;
                avance_progression(step);
                continue;
            }

            const std::int16_t status = sauve_club(club, kLabelNull, message);
            if (status == kClubFailure || status == kClubNotSaved) {
                message = "Code club (" + club + ") inconnu de la base. Echec de la création avec Le libelle "_w +
                          kLabelNull + "." + kCrLf + message;
                failed = true;
            } else if (status == kClubCreated) {
                ++clubs_added;
                trace_ligne(trace_file, read, club_created_warning(club), "Warning");
                c.colClubsTraites.Add(club, club);
            }

            if (!failed && est_selection(club)) {
                selection = club;
                selection_licence = licence;
                club = champ(line, kOrigineClubFirst, kOrigineClubWidth);
                licence = champ(line, kOrigineLicenceFirst, kOrigineLicenceWidth);
                bool bad_origin = club.empty() || licence.empty();
                if (!bad_origin) {
                    const std::int16_t s = sauve_club(club, kLabelNull, message);
                    if (s == kClubCreated) {
                        ++clubs_added;
                        trace_ligne(trace_file, read, club_created_warning(club), "Warning");
                        c.colClubsTraites.Add(club, club);
                    } else if (s == kClubFailure || s == kClubNotSaved) {
                        bad_origin = true;
                    }
                }
                if (bad_origin) {
                    trace_ligne(trace_file, read,
                                "Enregistrement dans une sélection, mais information sur la licence origine "
                                "(code club + licence) erronée."_w,
                                "Warning");
                    club = selection;
                    licence = selection_licence;
                }
            }

            std::string num, birth;
            if (!failed) {
                if (blit_collection(c.colNumLicences, club + licence, num)) {
                    // The swimmer was settled by an earlier line, usually
                    // the ordinary record of the same licence. A selection
                    // record still owes its membership; without this the
                    // selection would silently lose every such swimmer.
                    if (!selection.empty() && selection != club &&
                        !c.colNumLicences.Contains(selection + selection_licence)) {
                        if (requete_valeur("select count(*) from Selection where Code_Sel = '" +
                                           double_quotes(selection) + "' and Num_Lic = " + num) == 0 &&
                            !ajoute_selection(selection, num, message)) {
                            ++in_error;
                            trace_ligne(trace_file, read,
                                        message + kCrLf + "Problème lors de l'insertion dans la sélection."_w,
                                        "Erreur");
                            avance_progression(step);
                            continue;
                        }
                        blit_collection(c.colNaissances, club + licence, birth);
                        cache_swimmer(selection + selection_licence, num, birth);
                    }
                    avance_progression(step);
                    continue;
                }
                requete_tableau("select Nom, Prenom, Num, Date_Naissance from Licence where Code_Club = '" +
                                double_quotes(club) + "' and Licence = '" + double_quotes(licence) + "'");
                if (c.tabResultat.empty() || c.tabResultat[0].Count() == 0) {
                    decoupe_licence(line, colLargeursLicence, colAccents, colMajuscules, tabChamps);
                    if (ajoute_licence(tabChamps, kTraceFile, clubs_added, num, read)) {
                        ++added;
                        vide_tableau();
                        birth = tabChamps[kLicNaissance];
                    } else {
                        message = "Echec lors de la mémorisation du nageur "_w + tabChamps[kLicNom] + " " +
                                  tabChamps[kLicPrenom] + ", licence " + tabChamps[kLicLicence] + ", Club " +
                                  tabChamps[kLicCodeClub] + "." + kCrLf + message;
                        failed = true;
                    }
                } else {
                    ++known;
                    const std::vector<TextList>& tab = c.tabResultat;
                    const std::string nom = tab[0].Item(1), prenom = tab[1].Item(1);
                    const std::string row_num = tab[2].Item(1), row_birth = tab[3].Item(1);
                    const std::string file_nom = champ(line, kLicenceLayout.first(kLicNom), kLicenceLayout.width(kLicNom));
                    const std::string file_prenom =
                        champ(line, kLicenceLayout.first(kLicPrenom), kLicenceLayout.width(kLicPrenom));
                    if (!selection.empty() &&
                        requete_valeur("select count(*) from Selection where Code_Sel = '" + double_quotes(selection) +
                                       "' and Num_Lic = " + row_num) == 0 &&
                        !ajoute_selection(selection, row_num, message)) {
                        message += kCrLf + "Problème lors de l'insertion dans la sélection."_w;
                        failed = true;
                    }
                    if (!failed) {
                        if (nom != file_nom || prenom != file_prenom)
                            trace_ligne(trace_file, read,
                                        "Licence (" + club + " + " + licence + ") déjà utilisée."_w + kCrLf +
                                            "Nom dans la base : " + nom + " " + prenom + kCrLf +
                                            "Nom dans fichier : " + file_nom + " " + file_prenom,
                                        "Warning");
                        num = row_num;
                        birth = row_birth;
                        vide_tableau();
                    }
                }
            }

            if (failed) {
                ++in_error;
                trace_ligne(trace_file, read, message, "Erreur");
                avance_progression(step);
                continue;
            }

            birth = annee_naissance_licence(birth, licence);
            cache_swimmer(club + licence, num, birth);
            if (!selection.empty() && selection != club) cache_swimmer(selection + selection_licence, num, birth);
            avance_progression(step);
        }
        trace_pluriel(trace_file, added,
                      std::string(kCrLf) + "Récupération de "_w + std::to_string(added) + " licence<PLURIEL> sur " +
                          std::to_string(read) + ".");
        trace_pluriel(trace_file, known, std::to_string(known) + " licence<PLURIEL> déjà connue<PLURIEL>."_w);
        trace_pluriel(trace_file, relays, std::to_string(relays) + " licence<PLURIEL> de type relais.");
        trace_pluriel(trace_file, in_error, std::to_string(in_error) + " entrée<PLURIEL> en erreur."_w);
        trace_pluriel(trace_file, clubs_added,
                      std::to_string(clubs_added) + " club<PLURIEL> ajouté<PLURIEL> avec le libellé "_w + kLabelNull +
                          ".");
        trace(trace_file, "");
    } catch (...) {
        const platform::Error e = platform::current_error();
        trace_erreur(trace_file, "Import des licences interrompu.", read, &e);
        trace(trace_file, "");
    }
    if (opened && f.IsOpen(data_file)) f.Close(data_file);
}

}  // namespace ondival
