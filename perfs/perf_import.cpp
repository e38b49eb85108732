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
    const CalendarDate b = read_stored_date(birth);
    const CalendarDate p = read_stored_date(performed);
    return std::to_string(p.year - b.year);
}

// What a line of liffn.txt will look up: its club, and its swimmer or its
// relay members, with the stroke's sex should the swimmer be created.
void lookups_of_line(const std::string& line, std::vector<platform::Sql>& reads) {
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
    reads.push_back(requete_num_licence(club, licence));
    const std::string stroke(colonne(line, kPerfLayout.first(kPerfNage), kPerfLayout.width(kPerfNage)));
    if (est_nombre_decimal(sans_blancs(stroke))) reads.push_back(stroke_sex_query(stroke));
}

// One run over liffn.txt. Each line goes through the same steps: its
// stroke code checked against the stroke table, its club made sure of, and
// then either a relay staged with its members, or the swimmer settled
// (from this import's cache, the database, or created from the line) with
// the age at the performance, and the individual performance staged. The
// first step that fails stops the run, with its message; an unexpected
// error ends it at that line.
class PerfFileImport {
public:
    explicit PerfFileImport(std::int16_t trace_file) : trace_file_(trace_file) {}

    void load_tables() {
        charge_accents(colAccents_, colMajuscules_);
        charge_largeurs_liffn(colLargeursLiffn_);
    }
    bool find_reference();
    // A line is counted before it is read, so that a line that cannot be
    // read is the one an error names.
    void count_line() { ++read_; }
    // False when the import must stop at this line.
    bool line(const std::string& text);
    // Traces how the run ended; true when every line was staged.
    bool finish(bool stopped) const;
    std::int32_t read() const { return read_; }

private:
    bool check_stroke(const std::string& stroke);
    bool check_club(const std::string& club);
    bool import_relay(const std::string& club, const std::string& licence);
    bool settle_swimmer(const std::string& club, const std::string& licence, const std::string& stroke);
    bool look_up_swimmer(const std::string& club, const std::string& licence, const std::string& stroke,
                         std::string& birth);
    bool insert_individual();

    std::int16_t trace_file_;
    TextList colAccents_, colMajuscules_;
    WidthList colLargeursLiffn_;
    PerfRecord record_;
    std::string reference_;  // Num of the placeholder swimmer of empty relay slots
    // The swimmer of the last individual line, whose next lines reuse its
    // Num and age, and the last club made sure of.
    std::string previous_key_, num_, age_, previous_club_;
    std::string message_;  // why the run stopped
    std::int32_t read_ = 0, individuals_ = 0, relays_ = 0, clubs_added_ = 0;
};

// Relay slots left empty are filled with the placeholder swimmer: without
// it no relay could be staged.
bool PerfFileImport::find_reference() {
    reference_ = licence_reference();
    if (!reference_.empty()) return true;
    message_ = "Impossible de trouver la licence du nageur de référence."_w + kCrLf +
               "Les performances des relais ne peuvent pas être importées."_w + kCrLf + "Importation annulée."_w +
               kCrLf;
    return false;
}

bool PerfFileImport::line(const std::string& text) {
    clear_fields(record_);
    const std::string stroke(colonne(text, kPerfLayout.first(kPerfNage), kPerfLayout.width(kPerfNage)));
    if (!check_stroke(stroke)) return false;
    if (!decoupe_liffn(text, colLargeursLiffn_, colAccents_, colMajuscules_, record_, message_)) return false;
    const std::string club = record_[kPerfCodeClub];
    const std::string licence = record_[kPerfLicence];
    if (!check_club(club)) return false;
    if (!licence.empty() && licence[0] == 'R') return import_relay(club, licence);
    return settle_swimmer(club, licence, stroke) && insert_individual();
}

// A code outside 0-99 cannot even be looked up and raises; one the stroke
// table lacks stops the import.
bool PerfFileImport::check_stroke(const std::string& stroke) {
    const double n = arrondi_pair(numeric_value(stroke));
    if (!(n >= 0 && n <= 99))
        platform::raise(platform::err::kSubscript, "Indice en dehors de la plage : code nage "_w + stroke);
    if (cst().tabNages[static_cast<std::size_t>(n)] != 0) return true;
    message_ = "Code nage invalide : " + stroke;
    return false;
}

// The line's club exists, or is created under "Null"; checked once for a
// run of lines of the same club.
bool PerfFileImport::check_club(const std::string& club) {
    if (club == previous_club_) return true;
    const std::int16_t status = sauve_club(club, kLabelNull, message_);
    if (status == kClubFailure || status == kClubNotSaved) return false;
    if (status == kClubCreated) signale_club_cree(trace_file_, read_, club, clubs_added_);
    previous_club_ = club;
    return true;
}

// A relay line: staged under the number its licence field carries, with
// its members found among the club's licences.
bool PerfFileImport::import_relay(const std::string& club, const std::string& licence) {
    record_[kPerfLicence] = texte_nombre(numeric_value(licence.substr(std::min<std::size_t>(2, licence.size()), 3)));
    resout_relayeurs(trace_file_, record_, reference_, club, read_);
    if (!ajoute_perf_relais(record_, message_)) return false;
    ++relays_;
    return true;
}

// The swimmer's Num and age at the performance, worked out once for a run
// of lines of the same swimmer. False when the swimmer cannot be created or
// the age is not positive.
bool PerfFileImport::settle_swimmer(const std::string& club, const std::string& licence, const std::string& stroke) {
    const std::string key = club + licence;
    if (key == previous_key_) return true;
    previous_key_ = key;
    Cst& c = cst();
    std::string birth;
    if (blit_collection(c.colNumLicences, key, num_)) {
        blit_collection(c.colNaissances, key, birth);
    } else {
        if (!look_up_swimmer(club, licence, stroke, birth)) return false;
        c.colNumLicences.Add(num_, key);
        c.colNaissances.Add(birth, key);
    }
    age_ = age_at(birth, record_[kPerfDate]);
    if (numeric_value(age_) > 0) return true;
    message_ = "Résultat négatif du calcul de l'âge lors de la performance."_w;
    return false;
}

// A swimmer this import has not met: found in the database, or created from
// the line. Either way the birth year is the licence number's.
bool PerfFileImport::look_up_swimmer(const std::string& club, const std::string& licence, const std::string& stroke,
                                     std::string& birth) {
    Cst& c = cst();
    birth = date_annee(licence.substr(0, 2));
    requete_tableau(requete_num_licence(club, licence));
    if (!c.tabResultat.empty() && c.tabResultat[0].Count() >= 1) {
        num_ = c.tabResultat[0].Item(1);
        vide_tableau();
        return true;
    }
    trace(trace_file_, "Ligne n° : "_w + std::to_string(read_) + ". Nageur inconnu dans la base.");
    num_ = cree_nageur(trace_file_, record_, stroke, club, licence, birth, message_);
    return !num_.empty();
}

bool PerfFileImport::insert_individual() {
    if (!ajoute_perf_individuelle(record_, num_, age_, message_)) return false;
    ++individuals_;
    return true;
}

bool PerfFileImport::finish(bool stopped) const {
    const std::int16_t t = trace_file_;
    if (stopped) {
        trace_ligne(t, read_, message_ + kCrLf + "Importation des performances annulées."_w, "Erreur");
    } else {
        trace_pluriel(t, read_, "Traitement de " + std::to_string(read_) + " ligne<PLURIEL> de données."_w);
        trace_pluriel(t, individuals_,
                      "Récupération de "_w + std::to_string(individuals_) +
                          " performance<PLURIEL> individuelle<PLURIEL>.");
        trace_pluriel(t, relays_, "Récupération de "_w + std::to_string(relays_) + " performance<PLURIEL> de relais.");
        trace_pluriel(t, clubs_added_,
                      std::to_string(clubs_added_) + " club<PLURIEL> ajouté<PLURIEL> avec le libellé "_w + kLabelNull +
                          ".");
    }
    trace(t, "");
    return !stopped;
}

}  // namespace

bool import_performances(std::int16_t trace_file, std::int16_t data_file, double step) {
    Cst& c = cst();
    platform::TextFiles& f = platform::files();
    PerfFileImport run(trace_file);
    try {
        run.load_tables();
        platform::InputFile file(data_file, c.strFileLiffn);
        ReadAhead ahead(c.strFileLiffn, lookups_of_line);
        bool stopped = !run.find_reference();
        std::string line;
        while (!stopped && !f.Eof(data_file)) {
            ahead.before_line();
            run.count_line();
            f.LineInput(data_file, line);
            accents_dos_in_place(line);
            report_line_read(run.read(), line);
            stopped = !run.line(line);
            if (!stopped) avance_progression(step);
        }
        // A stop asked for at the last line still comes before the
        // competition: the user pressed Ctrl-C to keep these performances out.
        check_stop_request();
        return run.finish(stopped);
    } catch (const TransactionRunAgain&) {
        throw;  // not an error: the transaction is run again
    } catch (...) {
        const platform::Error e = platform::current_error();
        if (e.number == platform::err::kUserInterrupt) throw;  // the host's stop ends the whole call
        trace_erreur(trace_file, "Import des performances annulé."_w, run.read(), &e);
        return false;
    }
}

}  // namespace ondival
