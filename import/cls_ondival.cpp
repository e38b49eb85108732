#include "import/cls_ondival.h"

#include <optional>

#include "common/progress.h"
#include "common/trace.h"
#include "import/call_paths.h"
#include "core/cst.h"
#include "core/database_access.h"
#include "import/driver.h"
#include "import/export_archive.h"
#include "core/source_files.h"
#include "core/stroke_codes.h"
#include "platform/clock.h"
#include "platform/cp1252.h"
#include "platform/database.h"
#include "platform/error.h"
#include "platform/file_system.h"
#include "platform/text_file.h"

namespace ondival {
namespace {

// An error that no step handled is on its way to the host. Leave nothing
// half open behind it: no staged performance, the database marked closed,
// and a trace that says the import stopped and why.
void settle_before_raise(const platform::Error& error) noexcept {
    Cst& c = cst();
    try {
        if (c.objRecordset) c.objRecordset->Close();
        if (c.objConnexion && c.objConnexion->State() > 0) {
            c.objConnexion->RollbackTrans();
            try {
                efface_performances_en_attente();
            } catch (...) {
                // Rows of this call were rolled back; older ones the next
                // import's purge or attachment will settle.
            }
        }
    } catch (...) {
    }
    std::string message;
    try {
        bdeconnexion(message);
    } catch (...) {
    }
    platform::TextFiles& f = platform::files();
    try {
        if (f.IsOpen(kTraceFile)) {
            trace(kTraceFile, "Import interrompu."_w + kCrLf + texte_erreur(error));
            f.Close(kTraceFile);
        }
    } catch (...) {
    }
    f.CloseAll();
    try {
        vide_listes();
        vide_tableau();
    } catch (...) {
    }
    c.objForm = nullptr;
    c.objConnexion.reset();
    c.objRecordset.reset();
}

// The temporary directory of a check that was given no scratch directory or
// no trace path, removed whatever way the check ends.
class CheckArea {
public:
    CheckArea(const std::string& scratch, const std::string& trace) : scratch_(scratch), trace_(trace) {
        if (!scratch_.empty() && !trace_.empty()) return;
        dir_ = platform::MakeTemporaryFolder("ondival-check-");
        if (scratch_.empty()) scratch_ = dir_;
        if (trace_.empty()) trace_ = dir_ + platform::kPathSeparator + "trace.txt";
    }
    ~CheckArea() { platform::DeleteFolder(dir_); }
    CheckArea(const CheckArea&) = delete;
    CheckArea& operator=(const CheckArea&) = delete;
    const std::string& scratch() const { return scratch_; }
    const std::string& trace() const { return trace_; }
    const std::string& temporary() const { return dir_; }

private:
    std::string dir_, scratch_, trace_;
};

// Lets the import on this thread see the host's stop request for the length
// of one call, and forgets the request when the call ends, however it ends.
class StopRequestScope {
public:
    explicit StopRequestScope(std::atomic<bool>& request) : request_(request) { stop_request() = &request_; }
    ~StopRequestScope() {
        stop_request() = nullptr;
        request_.store(false, std::memory_order_relaxed);
    }
    StopRequestScope(const StopRequestScope&) = delete;
    StopRequestScope& operator=(const StopRequestScope&) = delete;

private:
    std::atomic<bool>& request_;
};

// Marks the start and the end of a call in its report, however it ends.
class ReportedCall {
public:
    ReportedCall(Report* report, const std::string& database, const std::string& source, const std::string& trace,
                 bool check)
        : report_(report) {
        if (!report_) return;
        *report_ = Report{};
        report_->check = check;
        report_->database = platform::printable_database(database);
        report_->source_dir = source;
        report_->trace_path = trace;
        report_->started = platform::Now();
        scope_.emplace(*report_);
    }
    ~ReportedCall() {
        if (report_) report_->ended = platform::Now();
    }
    void result(bool r) {
        if (report_) report_->result = r;
    }
    void error(const platform::Error& e) {
        if (report_) report_->error = e;
    }
    ReportedCall(const ReportedCall&) = delete;
    ReportedCall& operator=(const ReportedCall&) = delete;

private:
    Report* report_;
    std::optional<ReportScope> scope_;
};

}  // namespace

bool clsOndival::bimport_perf(const std::string& strFileBase_P, const std::string& strRepSource,
                              const std::string& strRepTempo, const std::string& strFileTrace_P,
                              platform::ProgressForm* objFormCible) {
    return run(strFileBase_P, strRepSource, strRepTempo, strFileTrace_P, objFormCible, false);
}

bool clsOndival::bcontrole_perf(const std::string& strFileBase_P, const std::string& strRepSource,
                                const std::string& strRepTempo, const std::string& strFileTrace_P,
                                platform::ProgressForm* objFormCible) {
    std::optional<CheckArea> area;
    try {
        area.emplace(strRepTempo, strFileTrace_P);
    } catch (...) {
        objRapport = Report{};
        objRapport.check = true;
        objRapport.database = platform::printable_database(strFileBase_P);
        objRapport.source_dir = strRepSource;
        objRapport.started = objRapport.ended = platform::Now();
        objRapport.error = objErreur = platform::current_error();
        throw platform::Failure(objErreur);
    }
    // The report is read after the call, when the temporary directory is
    // gone: it names none of its files.
    try {
        const bool result = run(strFileBase_P, strRepSource, area->scratch(), area->trace(), objFormCible, true);
        forget_removed_files(objRapport, area->temporary());
        return result;
    } catch (...) {
        forget_removed_files(objRapport, area->temporary());
        throw;
    }
}

bool clsOndival::run(const std::string& strFileBase_P, const std::string& strRepSource, const std::string& strRepTempo,
                     const std::string& strFileTrace_P, platform::ProgressForm* objFormCible, bool check) {
    Cst& c = cst();
    platform::TextFiles& f = platform::files();
    bool result = false;
    objErreur = platform::Error{};
    const StopRequestScope stop(bStop);
    ReportedCall call(check || bRapport ? &objRapport : nullptr, strFileBase_P, strRepSource, strFileTrace_P, check);
    std::optional<ExportDeballe> deballe;  // ends with the call, after the files are closed
    try {
        check_call_paths({strFileBase_P, strRepSource, strRepTempo, strFileTrace_P, ""});
        c.strFileTrace = strFileTrace_P;
        f.OpenOutput(kTraceFile, c.strFileTrace);
    } catch (...) {
        // Paths that clash, or a trace that cannot be opened: there is no
        // trace to tell the user through, and the error goes straight to
        // the host with nothing touched.
        f.CloseAll();
        objErreur = platform::current_error();
        call.error(objErreur);
        throw;
    }
    try {
        trace(kTraceFile, "Début de l'import : "_w + platform::GeneralDate(platform::Now()) + kCrLf);
        // A zipped export is read as the folder its files are unpacked into,
        // inside the scratch directory; a bad archive stops the call here,
        // before the database is opened.
        if (est_archive_export(strRepSource)) deballe.emplace(strRepSource, strRepTempo);
        const std::string& source = deballe ? deballe->dossier() : strRepSource;
        c.strFileBase = strFileBase_P;
        c.strFileLicence = chemin_fichier(source, "licence.txt");
        c.strFileClub = chemin_fichier(source, "club.txt");
        c.strFileOrigine = chemin_fichier(source, "origine.txt");
        c.strFileLiffn = chemin_fichier(source, "liffn.txt");
        vide_listes();

        if (!lecteur_pret(source)) {
            trace(kTraceFile, "Le lecteur source n'est pas pret.");
            trace(kTraceFile, "Import annulé."_w);
        } else {
            c.objConnexion = std::make_unique<platform::Connection>();
            c.objConnexion->SetDryRun(check);
            c.objRecordset = std::make_unique<platform::Recordset>();
            c.objForm = objFormCible;
            std::string strMessage;
            if (!bconnexion(c.strFileBase, strMessage)) {
                trace(kTraceFile, "Erreur de connexion dans dll d'import des licences."_w + kCrLf + "Import annulé."_w +
                                      kCrLf + strMessage);
                // A connection that opened but could not be marked stays
                // open in bconnexion; close it without touching the file.
                c.objConnexion->Close();
            } else {
                c.tabNages.fill(0);
                charge_nages();
                if (verifie_fichier(kTraceFile, c.strFileLiffn, strRepTempo)) {
                    verifie_fichier(kTraceFile, c.strFileLicence, strRepTempo);
                    verifie_fichier(kTraceFile, c.strFileClub, strRepTempo);
                    verifie_fichier(kTraceFile, c.strFileOrigine, strRepTempo);
                    c.objForm = objFormCible;
                    result = import_fichiers();
                }
                if (!bdeconnexion(strMessage))
                    trace_erreur(kTraceFile, "Une erreur s'est produite lors de la déconnexion."_w + kCrLf + strMessage,
                                 0);
            }
        }
        vide_listes();
        f.Close(kTraceFile);
    } catch (...) {
        objErreur = platform::current_error();
        settle_before_raise(objErreur);
        call.error(objErreur);
        throw platform::Failure(objErreur);
    }
    c.objForm = nullptr;
    c.objConnexion.reset();
    c.objRecordset.reset();
    call.result(result);
    return result;
}

}  // namespace ondival
