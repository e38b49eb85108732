// The command line of `ondival`: which command the user asked for and its
// arguments, or the one-line message that says what is wrong with it. Kept
// apart from main so that every rule about arguments lives in one place,
// beside the help text that documents it.
#pragma once

#include <filesystem>
#include <string>
#include <variant>

#include "samples/sample_export.h"

namespace ondival::cli {

// Exit codes of every command, as the help documents them.
inline constexpr int kExitSuccess = 0;      // done; for import: the call returned true
inline constexpr int kExitImportFalse = 1;  // import: the call returned false
inline constexpr int kExitError = 2;        // an error reached the host, or bad usage

// `ondival --help`, `ondival help [COMMAND]`, `ondival COMMAND --help`.
// An empty command means the overview.
struct HelpCommand {
    std::string command;
};

struct VersionCommand {};

struct InitCommand {
    std::string database;
};

// What `import` and `check` are both given: the component's four paths,
// the report and its page, and what is shown.
struct CallArguments {
    std::string database;
    std::string source_dir;
    std::string scratch_dir;
    std::string trace_path;
    std::string report_path;  // empty: no report
    std::string html_path;    // the report as an HTML page; empty: none
    bool quiet = false;
    bool show_trace = false;
};

// `ondival import`, as `import DB SOURCE SCRATCH TRACE` or `import DB
// SOURCE [--scratch DIR] [--trace FILE]`. Without --scratch the copies go to
// a temporary directory, removed afterwards; without --trace the trace is
// kept beside the database. An empty SCRATCH or TRACE argument stays empty,
// for the component to refuse.
struct ImportCommand : CallArguments {
    bool temporary_scratch = false;
    bool trace_beside_database = false;
};

// `ondival check`: the import run and rolled back. Empty scratch and trace
// paths mean a temporary directory, removed afterwards.
struct CheckCommand : CallArguments {};

// `ondival report REPORT.json --html FILE`: the page of a report kept earlier.
struct ReportCommand {
    std::string report_path;
    std::string html_path;
};

struct GenerateCommand {
    std::filesystem::path dir;
    samples::SampleExportOptions options;
};

using Command =
    std::variant<HelpCommand, VersionCommand, InitCommand, ImportCommand, CheckCommand, GenerateCommand, ReportCommand>;

// Reads argv. Returns false with a one-line message (no program name, no
// line end) when the command line cannot be run as it stands.
bool parse_command_line(int argc, const char* const* argv, Command& command, std::string& error);

// The help page of a command ("" for the overview), ending with a line end.
std::string help_text(const std::string& command);

}  // namespace ondival::cli
