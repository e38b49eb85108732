#include "licences/licence_import.h"

#include <string>
#include <utility>

#include "clubs/club_save.h"
#include "common/columns.h"
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
#include "licences/licence_record.h"
#include "platform/cp1252.h"
#include "platform/error.h"
#include "platform/text_file.h"

namespace ondival {
namespace {

// Adds a swimmer to both caches. A key met twice means two lines claim the
// same selection place: say which, rather than a bare collection error.
void cache_swimmer(const std::string& key, const std::string& num, const std::string& birth) {
    Cst& c = cst();
    if (!c.colNumLicences.TryAdd(num, key))
        platform::raise(457, "La licence " + key + " est déjà enregistrée par une ligne précédente"_w);
    c.colNaissances.Add(birth, key);
}

// One run over licence.txt. Each line goes through the same steps: relay
// licences set aside, the club made sure of, a selection record turned to
// its origin club and licence, then the licence settled (already met in
// this import, unknown and created, or known) and cached for the
// performance import. A step that fails sends the line to the error step
// and the run goes on with the next line; anything else unexpected ends the
// run at that line.
class LicenceFileImport {
public:
    explicit LicenceFileImport(std::int16_t trace_file) : trace_file_(trace_file) {
        charge_accents(colAccents_, colMajuscules_);
        charge_largeurs_licence(colLargeursLicence_);
    }

    // A line is counted before it is read, so that a line that cannot be
    // read is the one an interruption names.
    void count_line() { ++read_; }
    void line(const std::string& text);
    void summary() const;
    std::int32_t read() const { return read_; }

private:
    // What one line works with: the club and licence in use, and for a
    // selection record the selection's own pair.
    struct Line {
        const std::string& text;
        std::string club, licence, selection, selection_licence, message;
    };

    bool check_club(Line& l);
    void resolve_selection(Line& l);
    bool settle_already_met(Line& l, const std::string& num);
    bool settle_unknown(Line& l, std::string& num, std::string& birth);
    bool settle_known(Line& l, std::string& num, std::string& birth);
    void error_step(const std::string& message);

    std::int16_t trace_file_;
    TextList colAccents_, colMajuscules_;
    WidthList colLargeursLicence_;
    LicenceRecord tabChamps_;
    std::int32_t read_ = 0, added_ = 0, known_ = 0, relays_ = 0, in_error_ = 0, clubs_added_ = 0;
};

void LicenceFileImport::line(const std::string& text) {
    Cst& c = cst();
    clear_fields(tabChamps_);
    Line l{text,
           std::string(colonne(text, kLicenceLayout.first(kLicCodeClub), kLicenceLayout.width(kLicCodeClub))),
           std::string(colonne(text, kLicenceLayout.first(kLicLicence), kLicenceLayout.width(kLicLicence))),
           {},
           {},
           {}};

    if (!l.licence.empty() && (l.licence[0] == 'R' || l.licence[0] == 'r')) {
        ++relays_;
        return;
    }
    if (!check_club(l)) return error_step(l.message);
    if (est_selection(l.club)) resolve_selection(l);

    std::string num, birth;
    if (blit_collection(c.colNumLicences, l.club + l.licence, num)) {
        if (!settle_already_met(l, num))
            error_step(l.message + kCrLf + "Problème lors de l'insertion dans la sélection."_w);
        return;
    }
    requete_tableau(requete_licence(l.club, l.licence));
    const bool unknown = c.tabResultat.empty() || c.tabResultat[0].Count() == 0;
    if (!(unknown ? settle_unknown(l, num, birth) : settle_known(l, num, birth))) return error_step(l.message);

    birth = annee_naissance_licence(birth, l.licence);
    cache_swimmer(l.club + l.licence, num, birth);
    // A resolved selection record: either pair finds the swimmer.
    if (!l.selection.empty() && l.selection != l.club) cache_swimmer(l.selection + l.selection_licence, num, birth);
}

// The club of the line exists, or is created under "Null"; false when it
// can be neither.
bool LicenceFileImport::check_club(Line& l) {
    const std::int16_t status = sauve_club(l.club, kLabelNull, l.message);
    if (status == kClubFailure || status == kClubNotSaved) {
        l.message = "Code club (" + l.club + ") inconnu de la base. Echec de la création avec Le libelle "_w +
                    kLabelNull + "." + kCrLf + l.message;
        return false;
    }
    if (status == kClubCreated) signale_club_cree(trace_file_, read_, l.club, clubs_added_);
    return true;
}

// A selection record names the swimmer's real club and licence at its end;
// they take over, and when they are missing or unusable the record stays a
// licence of the selection club.
void LicenceFileImport::resolve_selection(Line& l) {
    l.selection = l.club;
    l.selection_licence = l.licence;
    OrigineSelection origin = origine_de_ligne(l.text);
    l.club = std::move(origin.club);
    l.licence = std::move(origin.licence);
    bool bad_origin = l.club.empty() || l.licence.empty();
    if (!bad_origin) {
        const std::int16_t s = sauve_club(l.club, kLabelNull, l.message);
        if (s == kClubCreated)
            signale_club_cree(trace_file_, read_, l.club, clubs_added_);
        else if (s == kClubFailure || s == kClubNotSaved)
            bad_origin = true;
    }
    if (bad_origin) {
        trace_ligne(trace_file_, read_,
                    "Enregistrement dans une sélection, mais information sur la licence origine "
                    "(code club + licence) erronée."_w,
                    "Warning");
        l.club = l.selection;
        l.licence = l.selection_licence;
    }
}

// The swimmer was settled by an earlier line, usually the ordinary record
// of the same licence. A selection record still owes its membership;
// without this the selection would silently lose every such swimmer. False
// when that membership cannot be written.
bool LicenceFileImport::settle_already_met(Line& l, const std::string& num) {
    Cst& c = cst();
    if (l.selection.empty() || l.selection == l.club || c.colNumLicences.Contains(l.selection + l.selection_licence))
        return true;
    if (!rejoint_selection(l.selection, num, l.message)) return false;
    std::string birth;
    blit_collection(c.colNaissances, l.club + l.licence, birth);
    cache_swimmer(l.selection + l.selection_licence, num, birth);
    return true;
}

// A licence the database does not hold: parsed from the line and created
// (a selection record under its origin, which licence creation resolves).
bool LicenceFileImport::settle_unknown(Line& l, std::string& num, std::string& birth) {
    decoupe_licence(l.text, colLargeursLicence_, colAccents_, colMajuscules_, tabChamps_);
    if (!ajoute_licence(tabChamps_, kTraceFile, clubs_added_, num, read_)) {
        l.message = "Echec lors de la mémorisation du nageur "_w + tabChamps_[kLicNom] + " " + tabChamps_[kLicPrenom] +
                    ", licence " + tabChamps_[kLicLicence] + ", Club " + tabChamps_[kLicCodeClub] + "." + kCrLf +
                    l.message;
        return false;
    }
    ++added_;
    vide_tableau();
    birth = tabChamps_[kLicNaissance];
    return true;
}

// A licence the database holds (its first row): it joins the record's
// selection, and a name that differs from the file's is reported, never
// changed.
bool LicenceFileImport::settle_known(Line& l, std::string& num, std::string& birth) {
    ++known_;
    const std::vector<TextList>& tab = cst().tabResultat;
    const std::string nom = tab[0].Item(1), prenom = tab[1].Item(1);
    const std::string row_num = tab[2].Item(1), row_birth = tab[3].Item(1);
    // As the file writes them, without the parse's capitals: case and
    // accents count in the comparison.
    const std::string file_nom = champ(l.text, kLicenceLayout.first(kLicNom), kLicenceLayout.width(kLicNom));
    const std::string file_prenom = champ(l.text, kLicenceLayout.first(kLicPrenom), kLicenceLayout.width(kLicPrenom));
    if (!l.selection.empty() && !rejoint_selection(l.selection, row_num, l.message)) {
        l.message += kCrLf + "Problème lors de l'insertion dans la sélection."_w;
        return false;
    }
    if (nom != file_nom || prenom != file_prenom)
        trace_ligne(trace_file_, read_,
                    "Licence (" + l.club + " + " + l.licence + ") déjà utilisée."_w + kCrLf + "Nom dans la base : " +
                        nom + " " + prenom + kCrLf + "Nom dans fichier : " + file_nom + " " + file_prenom,
                    "Warning");
    num = row_num;
    birth = row_birth;
    vide_tableau();
    return true;
}

void LicenceFileImport::error_step(const std::string& message) {
    ++in_error_;
    trace_ligne(trace_file_, read_, message, "Erreur");
}

void LicenceFileImport::summary() const {
    const std::int16_t t = trace_file_;
    trace_pluriel(t, added_,
                  std::string(kCrLf) + "Récupération de "_w + std::to_string(added_) + " licence<PLURIEL> sur " +
                      std::to_string(read_) + ".");
    trace_pluriel(t, known_, std::to_string(known_) + " licence<PLURIEL> déjà connue<PLURIEL>."_w);
    trace_pluriel(t, relays_, std::to_string(relays_) + " licence<PLURIEL> de type relais.");
    trace_pluriel(t, in_error_, std::to_string(in_error_) + " entrée<PLURIEL> en erreur."_w);
    trace_pluriel(t, clubs_added_,
                  std::to_string(clubs_added_) + " club<PLURIEL> ajouté<PLURIEL> avec le libellé "_w + kLabelNull +
                      ".");
    trace(t, "");
}

// What a line of licence.txt will look up: its club, and its licence under
// the club or, for a selection record, under its origin (and under the
// selection, where a bad origin sends it); and for a selection record of a
// swimmer an earlier line settled, the membership it will look for.
void lookups_of_line(const std::string& text, std::vector<platform::Sql>& reads) {
    const std::string club(colonne(text, kLicenceLayout.first(kLicCodeClub), kLicenceLayout.width(kLicCodeClub)));
    const std::string licence(colonne(text, kLicenceLayout.first(kLicLicence), kLicenceLayout.width(kLicLicence)));
    if (!licence.empty() && (licence[0] == 'R' || licence[0] == 'r')) return;
    lectures_club(club, reads);
    reads.push_back(requete_licence(club, licence));
    if (!est_selection(club)) return;
    const OrigineSelection origin = origine_de_ligne(text);
    if (origin.club.empty() || origin.licence.empty()) return;
    lectures_club(origin.club, reads);
    reads.push_back(requete_licence(origin.club, origin.licence));
    if (const std::string* num = cst().colNumLicences.Find(origin.club + origin.licence))
        reads.push_back(requete_dans_selection(club, *num));
}

}  // namespace

void import_licences(std::int16_t trace_file, std::int16_t data_file, double step) {
    platform::TextFiles& f = platform::files();
    LicenceFileImport run(trace_file);
    try {
        platform::InputFile file(data_file, cst().strFileLicence);
        ReadAhead ahead(cst().strFileLicence, lookups_of_line);
        std::string text;
        while (!f.Eof(data_file)) {
            ahead.before_line();
            run.count_line();
            f.LineInput(data_file, text);
            accents_dos_in_place(text);
            report_line_read(run.read(), text);
            run.line(text);
            avance_progression(step);  // once per line, whichever way it ended
        }
        run.summary();
    } catch (const TransactionRunAgain&) {
        throw;  // not an error: the transaction is run again
    } catch (...) {
        const platform::Error e = platform::current_error();
        if (e.number == platform::err::kUserInterrupt) throw;  // the host's stop ends the whole call
        trace_erreur(trace_file, "Import des licences interrompu.", run.read(), &e);
        trace(trace_file, "");
    }
}

}  // namespace ondival
