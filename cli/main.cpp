// `ondival`: the command-line host of the import, for clubs and developers
// without a club application of their own. It creates host databases,
// writes invented exports and runs imports with a progress bar and a
// summary, and says how things went through its exit code.
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>

#include "cli/options.h"
#include "cli/password_warning.h"
#include "cli/terminal_progress.h"
#include "import/cls_ondival.h"
#include "platform/cp1252.h"
#include "platform/database.h"
#include "platform/error.h"
#include "host/host_schema.h"
#include "host/stored_counts.h"
#include "samples/sample_export.h"

namespace ondival::cli {
namespace {

void print_error(const std::string& message) { std::fprintf(stderr, "ondival: %s\n", message.c_str()); }

// The text an error reaching the host is shown with, in the words the
// component's own trace uses for errors.
std::string error_text(const platform::Error& error) {
    return "Erreur n° " + std::to_string(error.number) + ": " + platform::cp1252_to_utf8(error.description);
}

using host::StoredCounts;
using host::count_stored;

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
    const std::string text = platform::cp1252_to_utf8(lines);
    std::fwrite(text.data(), 1, text.size(), stdout);
    return true;
}

void warn_about_password(const std::string& database) {
    if (const std::string warning = password_warning(database); !warning.empty()) print_error(warning);
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

int run_import(const ImportCommand& import) {
    warn_about_password(import.database);
    const std::optional<StoredCounts> before = import.quiet ? std::nullopt : count_stored(import.database);

    // A bar written into a file or a pipe would only fill it with carriage
    // returns; off a terminal the import runs silent.
    std::optional<TerminalProgress> bar;
    if (!import.quiet && isatty(fileno(stderr))) bar.emplace(stderr);

    const auto start = std::chrono::steady_clock::now();
    std::optional<bool> result;  // empty when an error reached us
    platform::Error error;
    try {
        clsOndival component;
        result = component.bimport_perf(import.database, import.source_dir, import.scratch_dir,
                                        import.trace_path, bar ? &*bar : nullptr);
    } catch (...) {
        error = platform::current_error();
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    bar.reset();

    if (!result) print_error(error_text(error));
    if (import.show_trace && !print_trace(import.trace_path))
        print_error("cannot read the trace " + import.trace_path);
    if (!import.quiet) {
        const std::optional<StoredCounts> after = count_stored(import.database);
        std::ostringstream summary;
        summary << "Result:        " << (result ? (*result ? "true" : "false") : "error") << '\n'
                << "Clubs:         " << count_line(before, after, &StoredCounts::clubs) << '\n'
                << "Licences:      " << count_line(before, after, &StoredCounts::licences) << '\n'
                << "Performances:  " << count_line(before, after, &StoredCounts::performances) << '\n';
        char took[32];
        std::snprintf(took, sizeof took, "%.2f s", seconds);
        summary << "Time:          " << took << '\n' << "Trace:         " << import.trace_path << '\n';
        std::fputs(summary.str().c_str(), stdout);
    }
    if (!result) return kExitError;
    return *result ? kExitSuccess : kExitImportFalse;
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
    return run_generate(std::get<GenerateCommand>(command));
}

}  // namespace
}  // namespace ondival::cli

int main(int argc, char** argv) {
    using namespace ondival::cli;
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
