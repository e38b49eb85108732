// `ondival`: the command-line host of the import, for clubs and developers
// without a club application of their own. It creates host databases,
// writes invented exports and runs imports with a progress bar and a
// summary, and says how things went through its exit code.
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>

#include "cli/interrupt.h"
#include "cli/options.h"
#include "cli/password_warning.h"
#include "cli/terminal_progress.h"
#include "cli/terminal_text.h"
#include "host/host_schema.h"
#include "host/stored_counts.h"
#include "import/call_paths.h"
#include "import/cls_ondival.h"
#include "import/report_html.h"
#include "import/report_json.h"
#include "platform/cp1252.h"
#include "platform/database.h"
#include "platform/error.h"
#include "platform/file_system.h"
#include "samples/sample_export.h"

namespace ondival::cli {
namespace {

// Messages may quote the export (a refused code, a club name): shown with
// their control characters visible and whole, NUL bytes included.
void print_error(const std::string& message) { write_all(stderr, "ondival: " + visible_controls(message) + "\n"); }

// The text an error reaching the host is shown with, in the words the
// component's own trace uses for errors.
std::string error_text(const platform::Error& error) {
    return "Erreur n° " + std::to_string(error.number) + ": " + platform::cp1252_to_utf8(error.description);
}

using host::count_stored;
using host::StoredCounts;

std::string count_line(const std::optional<StoredCounts>& before, const std::optional<StoredCounts>& after,
                       std::int64_t StoredCounts::*member) {
    if (!after) return "unknown (the database cannot be read)";
    std::string line = std::to_string((*after).*member) + " in the database";
    if (before) {
        const std::int64_t added = (*after).*member - (*before).*member;
        line += " (" + std::string(added >= 0 ? "+" : "") + std::to_string(added) + ")";
    }
    return line;
}

// The trace is Windows-1252 with CRLF, as the club application expects;
// a Linux terminal wants UTF-8 and LF.
bool print_trace(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return false;
    const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::string lines;
    lines.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); ++i)
        if (!(bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')) lines += bytes[i];
    write_all(stdout, visible_controls(platform::cp1252_to_utf8(lines)));
    return true;
}

void warn_about_password(const std::string& database) {
    if (const std::string warning = password_warning(database); !warning.empty()) print_error(warning);
}

// A report (or its page) that cannot be written must stop the command
// before the import runs: a script that asked for one would otherwise act
// on nothing. The file is opened without emptying it, so a refused command
// changes nothing it held.
bool report_writable(const std::string& command, const std::string& path, const char* what = "report") {
    if (path.empty()) return true;
    std::FILE* f = std::fopen(path.c_str(), "a");
    if (!f) {
        print_error(command + ": cannot write the " + what + " " + path + ": " + std::strerror(errno));
        return false;
    }
    std::fclose(f);
    return true;
}

bool write_file(const std::string& path, const std::string& text, const char* what) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) {
        print_error(std::string("cannot write the ") + what + " " + path);
        return false;
    }
    return true;
}

// The report and its page are written before the command's temporary
// directory is removed: they name none of the files that will be gone.
bool write_report(const std::string& path, const std::string& html_path, Report report, const std::string& temporary) {
    forget_removed_files(report, temporary);
    const std::string json = path.empty() && html_path.empty() ? std::string() : report_to_json(report);
    const bool reported = path.empty() || write_file(path, json, "report");
    return (html_path.empty() || write_file(html_path, report_html_from_json(json), "page")) && reported;
}

// Before anything is opened or emptied, every path the command writes is
// checked against every path it reads (the report with the rest: the
// component knows nothing of it). A clash is refused with both roles named.
bool paths_distinct(const CallPaths& paths) {
    try {
        check_call_paths(paths);
    } catch (...) {
        print_error(error_text(platform::current_error()));
        return false;
    }
    return true;
}

// A scratch directory named but not there yet is made, as a club
// application makes its own before it calls the component. One that exists
// (or a file in its place) is the component's to judge.
bool scratch_ready(const std::string& command, const std::string& dir) {
    std::error_code ec;
    if (dir.empty() || std::filesystem::exists(dir, ec)) return true;
    if (std::filesystem::create_directories(dir, ec) || !ec) return true;
    print_error(command + ": cannot create the scratch directory " + dir + ": " + ec.message());
    return false;
}

// A temporary directory of the command's own, removed however it ends.
class TemporaryFolder {
public:
    explicit TemporaryFolder(bool wanted, const char* prefix)
        : path_(wanted ? platform::MakeTemporaryFolder(prefix) : std::string()) {}
    ~TemporaryFolder() { platform::DeleteFolder(path_); }
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// Where an import's trace goes when none is named: beside the database,
// where the club keeps its data, named after the database and the time so
// that it does not replace the last import's. A server's database has no
// folder: the current one.
std::string trace_beside(const std::string& database) {
    namespace fs = std::filesystem;
    fs::path folder, name = "ondival";
    if (!platform::is_postgres_uri(database)) {
        folder = fs::path(database).parent_path();
        name = fs::path(database).stem();
    }
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    const std::string base = (folder / (name.string() + "-import-" + stamp)).string();
    std::string path = base + ".txt";
    std::error_code ec;
    for (int n = 2; fs::exists(path, ec); ++n) path = base + "-" + std::to_string(n) + ".txt";
    return path;
}

// What the user is told when Ctrl-C stopped the call. Only Ctrl-C makes
// error 18 an interruption: the file database's own 18 means a value too big.
int interrupted(const std::string& what) {
    print_error(what);
    return kExitInterrupted;
}

int run_init(const InitCommand& init) {
    warn_about_password(init.database);
    if (const std::string problem = host::create_host_database(init.database); !problem.empty()) {
        print_error("init: " + problem);
        return kExitError;
    }
    std::printf("Created the host database %s\n", platform::printable_database(init.database).c_str());
    return kExitSuccess;
}

int run_generate(const GenerateCommand& generate) {
    const samples::SampleExportOptions& o = generate.options;
    if (const std::string problem = samples::generate_sample_export(generate.dir, o); !problem.empty()) {
        print_error("generate: " + problem);
        return kExitError;
    }
    std::printf("Wrote an export of %d clubs, %d licences, %d performances and %d relays into %s\n", o.clubs,
                o.licences, o.performances, o.relays, generate.dir.c_str());
    return kExitSuccess;
}

// What an import and a check share: their arguments checked the same way
// before the component is called, the progress bar, Ctrl-C, the report and
// its page, the trace shown, and the exit codes. What differs comes with
// the call: which of the component's calls, the temporary directory the
// command makes, what is said when Ctrl-C stopped it, and its summary.
struct Call {
    const char* command;  // "import" or "check", the first word of its messages
    CallArguments given;
    bool temporary_allowed = false;  // the component may be given no scratch directory or trace
    // A directory of the command's own, removed however it ends: for the
    // scratch copies, or for a trace to be shown but not kept.
    enum class Temporary { kNone, kScratch, kTrace } temporary = Temporary::kNone;
    bool (clsOndival::*run)(const std::string&, const std::string&, const std::string&, const std::string&,
                            platform::ProgressForm*) = nullptr;
    const char* interrupted = "";         // after "COMMAND: ", when Ctrl-C stopped the call
    std::string unreadable_trace;         // the message when the trace to show cannot be read
    std::function<void()> before_call{};  // once the arguments are accepted
    std::function<std::string(const Report&, const std::optional<bool>& result, double seconds)> summary;
};

int run_call(Call call) {
    warn_about_password(call.given.database);
    if (!paths_distinct({call.given.database, call.given.source_dir, call.given.scratch_dir, call.given.trace_path,
                         call.given.report_path, call.temporary_allowed, call.given.html_path}))
        return kExitError;
    if (!report_writable(call.command, call.given.report_path) ||
        !report_writable(call.command, call.given.html_path, "page"))
        return kExitError;
    if (!scratch_ready(call.command, call.given.scratch_dir)) return kExitError;
    const bool temporary_scratch = call.temporary == Call::Temporary::kScratch;
    const TemporaryFolder temporary(call.temporary != Call::Temporary::kNone,
                                    temporary_scratch ? "ondival-import-" : "ondival-trace-");
    if (temporary_scratch)
        call.given.scratch_dir = temporary.path();
    else if (!temporary.path().empty())
        call.given.trace_path = temporary.path() + "/trace.txt";
    if (call.before_call) call.before_call();

    // A bar written into a file or a pipe would only fill it with carriage
    // returns; off a terminal the call runs silent.
    std::optional<TerminalProgress> bar;
    if (!call.given.quiet && isatty(fileno(stderr))) bar.emplace(stderr);

    const auto start = std::chrono::steady_clock::now();
    std::optional<bool> result;  // empty when an error reached us
    platform::Error error;
    clsOndival component;
    component.collect_report(!call.given.report_path.empty() || !call.given.html_path.empty());
    const InterruptScope ctrl_c(component);
    try {
        result = (component.*call.run)(call.given.database, call.given.source_dir, call.given.scratch_dir,
                                       call.given.trace_path, bar ? &*bar : nullptr);
    } catch (...) {
        error = platform::current_error();
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    bar.reset();
    const bool reported = write_report(call.given.report_path, call.given.html_path, component.rapport(),
                                       temporary.path());
    if (ctrl_c.interrupted() && error.number == platform::err::kUserInterrupt)
        return interrupted(std::string(call.command) + ": " + call.interrupted);

    if (!result) print_error(error_text(error));
    if (call.given.show_trace && !print_trace(call.given.trace_path)) print_error(call.unreadable_trace);
    if (!call.given.quiet) write_all(stdout, visible_controls(call.summary(component.rapport(), result, seconds)));
    if (!result || !reported) return kExitError;
    return *result ? kExitSuccess : kExitImportFalse;
}

std::string took(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f s", seconds);
    return text;
}

// What the import did, from the database's counts before and after it.
std::string import_summary(const std::optional<bool>& result, double seconds, const std::optional<StoredCounts>& before,
                           const ImportCommand& import) {
    const std::optional<StoredCounts> after = count_stored(import.database);
    std::ostringstream summary;
    summary << "Result:        " << (result ? (*result ? "true" : "false") : "error") << '\n'
            << "Clubs:         " << count_line(before, after, &StoredCounts::clubs) << '\n'
            << "Licences:      " << count_line(before, after, &StoredCounts::licences) << '\n'
            << "Performances:  " << count_line(before, after, &StoredCounts::performances) << '\n';
    summary << "Time:          " << took(seconds) << '\n' << "Trace:         " << import.trace_path << '\n';
    if (!import.report_path.empty()) summary << "Report:        " << import.report_path << '\n';
    if (!import.html_path.empty()) summary << "Page:          " << import.html_path << '\n';
    return summary.str();
}

int run_import(const ImportCommand& given) {
    ImportCommand import = given;
    if (import.trace_beside_database) import.trace_path = trace_beside(import.database);
    std::optional<StoredCounts> before;
    return run_call({.command = "import",
                     .given = import,
                     .temporary_allowed = import.temporary_scratch,
                     .temporary = import.temporary_scratch ? Call::Temporary::kScratch : Call::Temporary::kNone,
                     .run = &clsOndival::bimport_perf,
                     .interrupted = "interrupted; the step under way was rolled back, the trace says where",
                     .unreadable_trace = "cannot read the trace " + import.trace_path,
                     .before_call =
                         [&] {
                             if (!import.quiet) before = count_stored(import.database);
                         },
                     .summary = [&](const Report&, const std::optional<bool>& result,
                                    double seconds) { return import_summary(result, seconds, before, import); }});
}

std::string plural(std::int64_t n, const char* one, const char* many) {
    return n < 0 ? std::string("unknown ") + many : std::to_string(n) + " " + (n == 1 ? one : many);
}

// What the check says the import would do, from its report.
std::string check_summary(const Report& r, double seconds, const CheckCommand& check) {
    std::ostringstream out;
    out << "Check:         nothing was kept in " << platform::printable_database(check.database) << '\n'
        << "Result:        " << (r.result ? (*r.result ? "true" : "false") : "error") << '\n'
        << "Would add:     " << plural(r.added.clubs, "club", "clubs") << ", "
        << plural(r.added.licences, "licence", "licences") << ", " << plural(r.added.swimmers, "swimmer", "swimmers")
        << ", " << plural(r.added.performances, "performance", "performances") << '\n';
    if (r.competition)
        out << "Competition:   " << platform::cp1252_to_utf8(r.competition->name) << '\n';
    else if (r.purged)
        out << "Competition:   none, the performances would be withdrawn\n";
    long errors = 0, warnings = 0;
    for (const ReportEntry& e : r.entries) ++(e.kind == "Warning" ? warnings : errors);
    out << "Trace entries: " << plural(errors, "error", "errors") << ", " << plural(warnings, "warning", "warnings")
        << '\n';
    if (const std::optional<ReportStop> stop = first_stop(r)) {
        out << "Stops at:      " << stop->file;
        if (stop->line) out << " line " << *stop->line;
        if (!stop->lines.empty()) out << ": " << platform::cp1252_to_utf8(stop->lines.front());
        out << '\n';
    }
    out << "Time:          " << took(seconds) << '\n';
    if (!check.trace_path.empty()) out << "Trace:         " << check.trace_path << '\n';
    if (!check.report_path.empty()) out << "Report:        " << check.report_path << '\n';
    if (!check.html_path.empty()) out << "Page:          " << check.html_path << '\n';
    return out.str();
}

int run_check(const CheckCommand& check) {
    return run_call(
        {.command = "check",
         .given = check,
         // The component makes its own scratch directory and trace when
         // given none; a trace that is to be shown must be the command's.
         .temporary_allowed = true,
         .temporary = check.show_trace && check.trace_path.empty() ? Call::Temporary::kTrace : Call::Temporary::kNone,
         .run = &clsOndival::bcontrole_perf,
         .interrupted = "interrupted; nothing was kept",
         .unreadable_trace = "cannot read the trace",
         .summary = [&](const Report& report, const std::optional<bool>&, double seconds) {
             return check_summary(report, seconds, check);
         }});
}

// The page of a report kept earlier: the same page --html writes, drawn
// from the same JSON.
int run_report(const ReportCommand& report) {
    if (platform::SamePath(report.report_path, report.html_path)) {
        print_error("report: the page would be written over the report " + report.report_path);
        return kExitError;
    }
    std::ifstream in(report.report_path, std::ios::binary);
    if (!in) {
        print_error("report: cannot read " + report.report_path + ": " + std::strerror(errno));
        return kExitError;
    }
    const std::string json((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string page;
    try {
        page = report_html_from_json(json);
    } catch (const platform::Failure& failure) {
        print_error("report: " + report.report_path + ": " + error_text(failure.error()));
        return kExitError;
    }
    if (!write_file(report.html_path, page, "page")) return kExitError;
    std::printf("Wrote the page of %s into %s\n", report.report_path.c_str(), report.html_path.c_str());
    return kExitSuccess;
}

int run(const Command& command) {
    if (const auto* help = std::get_if<HelpCommand>(&command)) {
        std::fputs(help_text(help->command).c_str(), stdout);
        return kExitSuccess;
    }
    if (std::holds_alternative<VersionCommand>(command)) {
        std::puts("ondival " ONDIVAL_VERSION);
        return kExitSuccess;
    }
    if (const auto* init = std::get_if<InitCommand>(&command)) return run_init(*init);
    if (const auto* import = std::get_if<ImportCommand>(&command)) return run_import(*import);
    if (const auto* check = std::get_if<CheckCommand>(&command)) return run_check(*check);
    if (const auto* report = std::get_if<ReportCommand>(&command)) return run_report(*report);
    return run_generate(std::get<GenerateCommand>(command));
}

}  // namespace
}  // namespace ondival::cli

int main(int argc, char** argv) {
    using namespace ondival::cli;
    ondival::platform::leave_out_engine_statistics();
    Command command;
    std::string problem;
    if (!parse_command_line(argc, argv, command, problem)) {
        print_error(problem);
        return kExitError;
    }
    // The tools report their failures as messages; what escapes them
    // (memory, a file system error) still ends as a message and an exit
    // code, never as an abort.
    try {
        return run(command);
    } catch (...) {
        print_error(error_text(ondival::platform::current_error()));
        return kExitError;
    }
}
