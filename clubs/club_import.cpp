#include "clubs/club_import.h"

#include <string>

#include "clubs/club_record.h"
#include "clubs/club_save.h"
#include "common/columns.h"
#include "common/dos_letters.h"
#include "common/progress.h"
#include "common/report.h"
#include "common/trace.h"
#include "core/cst.h"
#include "core/read_ahead.h"
#include "core/speculation.h"
#include "platform/cp1252.h"
#include "platform/error.h"
#include "platform/text_file.h"

namespace ondival {

void import_clubs(std::int16_t trace_file, std::int16_t club_file, double step) {
    platform::TextFiles& f = platform::files();
    std::int32_t read = 0, created = 0, updated = 0, known = 0, other_label = 0, in_error = 0;
    try {
        platform::InputFile file(club_file, cst().strFileClub);
        ReadAhead ahead(cst().strFileClub, [](const std::string& text, std::vector<platform::Sql>& reads) {
            if (text.size() >= kClubLayout.first(kClubIntitule))
                lectures_club(champ(text, kClubLayout.first(kClubCode), kClubLayout.width(kClubCode)), reads);
        });
        std::string line, message;
        while (!f.Eof(club_file)) {
            ahead.before_line();
            ++read;
            f.LineInput(club_file, line);
            accents_dos_in_place(line);
            report_line_read(read, line);
            // A line must reach into the label: a code alone names no club.
            if (line.size() < kClubLayout.first(kClubIntitule)) {
                trace_ligne(trace_file, read,
                            "La longueur de la ligne ne permet de contenir le code et le libellé du club"_w, "Erreur");
                ++in_error;
                avance_progression(step);
                continue;
            }
            const std::string code = champ(line, kClubLayout.first(kClubCode), kClubLayout.width(kClubCode));
            std::string label = champ(line, kClubLayout.first(kClubIntitule), kClubLayout.width(kClubIntitule));
            if (label.empty()) label = kLabelNull;
            switch (sauve_club(code, label, message)) {
                case kClubFailure:
                case kClubNotSaved:
                    trace_ligne(trace_file, read, message, "Erreur");
                    ++in_error;
                    avance_progression(step);
                    continue;
                case kClubCreated:
                    ++created;
                    break;
                case kClubRelabelled:
                    ++updated;
                    break;
                case kClubKnown:
                    ++known;
                    break;
                case kClubOtherLabel:
                    trace(trace_file, message);
                    ++other_label;
                    break;
                default:  // already handled earlier in this import
                    avance_progression(step);
                    continue;
            }
            cst().colClubsTraites.Add(code, code);
            avance_progression(step);
        }
        trace_pluriel(trace_file, created,
                      std::string(kCrLf) + "Récupération de "_w + std::to_string(created) + " club<PLURIEL> sur " +
                          std::to_string(read) + ".");
        trace_pluriel(trace_file, known, std::to_string(known) + " club<PLURIEL> déjà connu<PLURIEL>."_w);
        trace_pluriel(trace_file, other_label,
                      std::to_string(other_label) + " club<PLURIEL> déjà connu<PLURIEL> sous un autre libellé."_w);
        trace_pluriel(trace_file, updated, std::to_string(updated) + " club<PLURIEL> mis à jour."_w);
        trace_pluriel(trace_file, in_error, std::to_string(in_error) + " club<PLURIEL> en erreur.");
    } catch (const TransactionRunAgain&) {
        throw;  // not an error: the transaction is run again
    } catch (...) {
        const platform::Error e = platform::current_error();
        if (e.number == platform::err::kUserInterrupt) throw;  // the host's stop ends the whole call
        trace_ligne(trace_file, read, "Import des clubs interrompu."_w + kCrLf + texte_erreur(e), "Erreur");
    }
    trace(trace_file, "");
}

}  // namespace ondival
