#include "import/driver.h"

#include <string>

#include "clubs/club_import.h"
#include "clubs/club_record.h"
#include "common/progress.h"
#include "common/report.h"
#include "common/trace.h"
#include "core/competition.h"
#include "core/cst.h"
#include "core/database_access.h"
#include "core/source_files.h"
#include "core/speculation.h"
#include "licences/licence_import.h"
#include "licences/licence_record.h"
#include "perfs/perf_import.h"
#include "perfs/perf_record.h"
#include "platform/clock.h"
#include "platform/cp1252.h"
#include "platform/error.h"

namespace ondival {
namespace {

platform::Connection& db() { return *cst().objConnexion; }

using platform::Shape;
using platform::Sql;

// The staged performances (Num_compet -1), attached to the new competition
// or deleted.
const Shape kAttachPerfs{"UPDATE Liffn set Num_compet = ? where Num_compet = -1", Shape::update("Liffn")};
const Shape kAttachRelays{"UPDATE Liffn_relais set Num_compet = ? where Num_compet = -1",
                          Shape::update("Liffn_relais")};
const Shape kStagedRelays{"select count(*) from Liffn_relais where Num_compet = -1", Shape::read({"Liffn_relais"})};
const Shape kDeleteStagedPerfs{"Delete from Liffn where Num_compet = -1", Shape::remove("Liffn")};
const Shape kDeleteStagedRelays{"Delete from Liffn_relais where Num_compet = -1", Shape::remove("Liffn_relais")};

// Each file import is one transaction: a club's database never holds half
// of a file import after a crash, and one commit per file instead of one
// per row keeps a national export within seconds. On a server it does not
// wait for each statement's answer (see speculative_transaction).
template <typename Import>
void in_transaction(Import&& run) {
    speculative_transaction([&] {
        db().BeginTrans();
        run();
        db().CommitTrans();
        report_rows_committed();
    });
}

// A file import, as the report sees it: the entries and counts written
// between its start and its end are its own.
template <typename Import>
void file_import(const char* file, Import&& run) {
    report_import_started(file);
    run();
    report_import_ended();
}

// The performance import and what follows it in the same transaction: the
// competition and the attachment of the staged rows to it, or their purge.
// True when the performances were attached.
bool performance_transaction(std::int32_t lines) {
    db().BeginTrans();
    bool result = false, purge = false;
    std::string compet_name;
    std::int16_t compet = -1;
    const bool imported = import_performances(kTraceFile, kDataFile, 100.0 / lines);
    report_import_ended();
    if (!imported) {
        purge = true;
    } else {
        trace(kTraceFile, "");
        compet = cree_reference_compet(kTraceFile, &compet_name);
        if (compet == -1) {
            purge = true;
        } else {
            db().Execute(Sql(kAttachPerfs).bare(compet));
            db().Execute(Sql(kAttachRelays).bare(compet));
            // Asks whether any relay row still carries -1, up to six
            // times, and acts on no answer: a wait for a database that
            // would show the update late. Inside the transaction the
            // first answer is 0, so it costs one count; it stays because
            // the statements of an import are what the fault-injection
            // tests walk through, and what the host's database sees.
            for (int counter = 0;;) {
                if (requete_valeur(Sql(kStagedRelays)) <= 0) break;
                if (++counter > 5) break;
            }
            result = true;
        }
    }
    if (purge) {
        trace(kTraceFile, "Efface toutes les données déjà importées."_w);
        try {
            efface_performances_en_attente();
            report_staged_performances_deleted();
        } catch (const platform::Failure&) {
            // A delete that fails must not leave staged rows behind:
            // undo the whole performance import instead (the swimmers
            // and clubs it created go with it).
            db().RollbackTrans();
            report_rows_rolled_back();
        }
    }
    if (db().InTransaction()) db().CommitTrans();
    report_rows_committed();
    if (Report* r = current_report()) {
        r->purged = purge;
        if (result) r->competition = ReportCompetition{compet, compet_name};
    }
    return result;
}

}  // namespace

void efface_performances_en_attente() {
    db().Execute(Sql(kDeleteStagedPerfs));
    db().Execute(Sql(kDeleteStagedRelays));
}

bool import_fichiers() {
    Cst& c = cst();
    bool result = false;
    // From here on rows may be added: unknown until the files are done.
    if (Report* r = current_report()) r->added = ReportAdded{};
    // A trigger or a rule of the host's on a table the import writes may
    // write where the import reads (a club created when a licence goes in):
    // statements sent ahead would not see it. Each file import then runs
    // one statement at a time, as on a file.
    const std::vector<std::string> objects = db().KeepLineByLineFor(tables_ecrites());
    if (Report* r = current_report()) r->line_by_line = objects;
    lit_origine(kTraceFile, kDataFile);

    if (!c.strFileClub.empty()) {
        affiche_etape("Fichier club.txt", "Vérification des clubs depuis fichier Club.txt"_w, kTraceFile);
        const std::int32_t n = controle_longueur(kTraceFile, kDataFile, c.strFileClub,
                                                 static_cast<std::int16_t>(kClubLineLength));
        if (n > 0)
            file_import("club.txt", [&] { in_transaction([&] { import_clubs(kTraceFile, kDataFile, 100.0 / n); }); });
    }

    if (!c.strFileLicence.empty()) {
        affiche_etape("Fichier licence.txt", "Traitement des licences depuis fichier Licence.txt", kTraceFile);
        const std::int32_t n = controle_longueur(kTraceFile, kDataFile, c.strFileLicence,
                                                 static_cast<std::int16_t>(kLicenceLineLength));
        if (n > 0)
            file_import("licence.txt",
                        [&] { in_transaction([&] { import_licences(kTraceFile, kDataFile, 100.0 / n); }); });
    }

    affiche_etape("Fichier Liffn.txt", "Traitement des performances depuis fichier Liffn.txt", kTraceFile);
    const std::int32_t n = controle_longueur(kTraceFile, kDataFile, c.strFileLiffn,
                                             static_cast<std::int16_t>(kLiffnLineLength));
    if (n <= 0) {
        result = true;  // nothing to store, nothing failed
    } else {
        // The staged rows, the competition and the attachment commit
        // together: an interrupted import never leaves a row at -1.
        report_import_started("liffn.txt");
        speculative_transaction([&] { result = performance_transaction(n); });
    }

    if (Report* r = current_report()) r->added = r->inserted;

    trace(kTraceFile, "");
    trace(kTraceFile, "");
    trace(kTraceFile, "Fin importation : " + platform::GeneralDate(platform::Now()));
    return result;
}

}  // namespace ondival
