#include "perfs/perf_import.h"

#include <string>

#include "clubs/club_save.h"
#include "common/columns.h"
#include "common/dates.h"
#include "common/dos_letters.h"
#include "common/numeric.h"
#include "common/progress.h"
#include "common/report.h"
#include "common/trace.h"
#include "core/cst.h"
#include "core/database_access.h"
#include "core/read_ahead.h"
#include "core/speculation.h"
#include "licences/licence_creation.h"
#include "perfs/perf_insert.h"
#include "perfs/perf_record.h"
#include "perfs/relay_members.h"
#include "perfs/swimmer_creation.h"
#include "platform/cp1252.h"
#include "platform/error.h"
#include "platform/text_file.h"

namespace ondival {
namespace {

// Age at the performance: the year of the performance minus the year of
// birth, whatever the day and month. Both dates go through their display
// text and are read back, as the host reads dates: a birth or performance
// date that is no real calendar date (a 31 February, "") then stops the
// import as an error instead of giving an age from nonsense.
std::string age_at(const std::string& birth, const std::string& performed) {
    const CalendarDate b = lit_date(date_texte(birth, ""));
    const CalendarDate p = lit_date(date_texte(performed, ""));
    return std::to_string(p.year - b.year);
}

// What a line of liffn.txt will look up: its club, and its swimmer or its
// relay members, with the stroke's sex should the swimmer be created.
void lookups_of_line(const std::string& line, std::vector<std::string>& reads) {
    const auto field = [&line](std::size_t i) { return champ(line, kPerfLayout.first(i), kPerfLayout.width(i)); };
    const std::string club = field(kPerfCodeClub);
    const std::string licence = field(kPerfLicence);
    const Cst& c = cst();
    lectures_club(club, reads);
    if (!licence.empty() && licence[0] == 'R') {
        for (std::size_t slot = kPerfRelayeur1; slot <= kPerfRelayeur10; ++slot) {
            const std::string member = field(slot);
            if (!member.empty() && !c.colNumLicences.Contains(club + member))
                reads.push_back(requete_relayeur(club, member));
        }
        return;
    }
    if (c.colNumLicences.Contains(club + licence)) return;
    reads.push_back(requete_nageur(club, licence));
    const std::string stroke(colonne(line, kPerfLayout.first(kPerfNage), kPerfLayout.width(kPerfNage)));
    if (est_nombre_decimal(sans_blancs(stroke))) reads.push_back(stroke_sex_query(stroke));
}

}  // namespace

bool import_performances(std::int16_t trace_file, std::int16_t data_file, double step) {
    Cst& c = cst();
    platform::TextFiles& f = platform::files();
    std::int32_t read = 0, individuals = 0, relays = 0, clubs_added = 0;
    try {
        TextList colAccents, colMajuscules;
        WidthList colLargeursLiffn;
        charge_accents(colAccents, colMajuscules);
        charge_largeurs_liffn(colLargeursLiffn);
        std::string previous_key, num, age, previous_club, message, cached;
        platform::InputFile file(data_file, c.strFileLiffn);
        ReadAhead ahead(c.strFileLiffn, lookups_of_line);

        bool stopped = false;
        const std::string reference = licence_reference();
        if (reference.empty()) {
            message = "Impossible de trouver la licence du nageur de référence."_w + kCrLf +
                      "Les performances des relais ne peuvent pas être importées."_w + kCrLf +
                      "Importation annulée."_w + kCrLf;
            stopped = true;
        }

        std::string line;
        PerfRecord record;
        while (!stopped && !f.Eof(data_file)) {
            ahead.before_line();
            ++read;
            f.LineInput(data_file, line);
            accents_dos_in_place(line);
            report_line_read(read, line);
            record.fill(std::string());

            const std::string stroke(colonne(line, kPerfLayout.first(kPerfNage), kPerfLayout.width(kPerfNage)));
            const double n = arrondi_pair(numeric_value(stroke));
            if (!(n >= 0 && n <= 99))
                platform::raise(platform::err::kSubscript, "Indice en dehors de la plage : code nage "_w + stroke);
            if (c.tabNages[static_cast<std::size_t>(n)] == 0) {
                message = "Code nage invalide : " + stroke;
                stopped = true;
                break;
            }
            if (!decoupe_liffn(line, colLargeursLiffn, colAccents, colMajuscules, record, message)) {
                stopped = true;
                break;
            }
            const std::string club = record[kPerfCodeClub];
            const std::string licence = record[kPerfLicence];

            if (club != previous_club) {
                const std::int16_t status = sauve_club(club, kLabelNull, message);
                if (status == kClubFailure || status == kClubNotSaved) {
                    stopped = true;
                    break;
                }
                if (status == kClubCreated) signale_club_cree(trace_file, read, club, clubs_added);
                previous_club = club;
            }

            if (!licence.empty() && licence[0] == 'R') {
                record[kPerfLicence] =
                    texte_nombre(numeric_value(licence.substr(std::min<std::size_t>(2, licence.size()), 3)));
                resout_relayeurs(trace_file, record, reference, club, read);
                if (!ajoute_perf_relais(record, message)) {
                    stopped = true;
                    break;
                }
                ++relays;
                avance_progression(step);
                continue;
            }

            const std::string key = club + licence;
            if (key != previous_key) {
                previous_key = key;
                std::string birth;
                if (blit_collection(c.colNumLicences, key, num)) {
                    blit_collection(c.colNaissances, key, birth);
                } else {
                    birth = date_annee(licence.substr(0, 2));
                    requete_tableau(requete_nageur(club, licence));
                    if (!c.tabResultat.empty() && c.tabResultat[0].Count() >= 1) {
                        num = c.tabResultat[0].Item(1);
                        vide_tableau();
                    } else {
                        trace(trace_file, "Ligne n° : "_w + std::to_string(read) + ". Nageur inconnu dans la base.");
                        num = cree_nageur(trace_file, record, stroke, club, licence, birth, message);
                        if (num.empty()) {
                            stopped = true;
                            break;
                        }
                    }
                    c.colNumLicences.Add(num, key);
                    c.colNaissances.Add(birth, key);
                }
                age = age_at(birth, record[kPerfDate]);
                if (numeric_value(age) <= 0) {
                    message = "Résultat négatif du calcul de l'âge lors de la performance."_w;
                    stopped = true;
                    break;
                }
            }
            if (!ajoute_perf_individuelle(record, num, age, message)) {
                stopped = true;
                break;
            }
            ++individuals;
            avance_progression(step);
        }

        // A stop asked for at the last line still comes before the
        // competition: the user pressed Ctrl-C to keep these performances out.
        check_stop_request();
        bool result = false;
        if (stopped) {
            trace_ligne(trace_file, read, message + kCrLf + "Importation des performances annulées."_w, "Erreur");
        } else {
            result = true;
            trace_pluriel(trace_file, read, "Traitement de " + std::to_string(read) + " ligne<PLURIEL> de données."_w);
            trace_pluriel(trace_file, individuals,
                          "Récupération de "_w + std::to_string(individuals) +
                              " performance<PLURIEL> individuelle<PLURIEL>.");
            trace_pluriel(trace_file, relays,
                          "Récupération de "_w + std::to_string(relays) + " performance<PLURIEL> de relais.");
            trace_pluriel(trace_file, clubs_added,
                          std::to_string(clubs_added) + " club<PLURIEL> ajouté<PLURIEL> avec le libellé "_w +
                              kLabelNull + ".");
        }
        trace(trace_file, "");
        return result;
    } catch (const TransactionRunAgain&) {
        throw;  // not an error: the transaction is run again
    } catch (...) {
        const platform::Error e = platform::current_error();
        if (e.number == platform::err::kUserInterrupt) throw;  // the host's stop ends the whole call
        trace_erreur(trace_file, "Import des performances annulé."_w, read, &e);
        return false;
    }
}

}  // namespace ondival
