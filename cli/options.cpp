#include "cli/options.h"

#include <charconv>
#include <functional>
#include <limits>
#include <sstream>
#include <string_view>
#include <vector>

namespace ondival::cli {
namespace {

constexpr std::string_view kCommands[] = {"init", "import", "check", "generate"};

bool is_command(std::string_view word) {
    for (std::string_view c : kCommands)
        if (word == c) return true;
    return false;
}

bool is_help(std::string_view arg) { return arg == "--help" || arg == "-h"; }

std::string see_help(std::string_view command) {
    return " (see 'ondival " + std::string(command) + (command.empty() ? "" : " ") + "--help')";
}

// One option of a command. A flag takes no value; any other option takes
// the next argument, or the part after '=' in --name=value.
struct Option {
    std::string_view name;
    bool flag;
    std::function<bool(std::string_view value, std::string& error)> apply;
};

// Splits a command's arguments into options, applied as they come, and
// positional arguments. "--" ends the options, so that a path that starts
// with '-' can still be named.
bool parse_arguments(std::string_view command, const std::vector<std::string_view>& args,
                     const std::vector<Option>& options, std::vector<std::string>& positionals, std::string& error) {
    bool options_ended = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        if (options_ended || arg.size() < 2 || arg[0] != '-') {
            positionals.emplace_back(arg);
            continue;
        }
        if (arg == "--") {
            options_ended = true;
            continue;
        }
        const std::size_t equals = arg.find('=');
        const std::string_view name = arg.substr(0, equals);
        const Option* option = nullptr;
        for (const Option& o : options)
            if (o.name == name) option = &o;
        if (!option) {
            error = std::string(command) + ": unknown option '" + std::string(name) + "'" + see_help(command);
            return false;
        }
        std::string_view value;
        if (option->flag) {
            if (equals != std::string_view::npos) {
                error = std::string(command) + ": option " + std::string(name) + " takes no value";
                return false;
            }
        } else if (equals != std::string_view::npos) {
            value = arg.substr(equals + 1);
        } else if (i + 1 < args.size()) {
            value = args[++i];
        } else {
            error = std::string(command) + ": option " + std::string(name) + " needs a value";
            return false;
        }
        std::string problem;
        if (!option->apply(value, problem)) {
            error = std::string(command) + ": option " + std::string(name) + ": " + problem;
            return false;
        }
    }
    return true;
}

// Checks the count of positional arguments against their names, so that
// the message names the first one missing or the first one too many.
bool take_positionals(std::string_view command, const std::vector<std::string>& positionals,
                      const std::vector<std::string_view>& names, std::string& error) {
    if (positionals.size() < names.size()) {
        error = std::string(command) + ": missing argument " + std::string(names[positionals.size()]) +
                see_help(command);
        return false;
    }
    if (positionals.size() > names.size()) {
        error = std::string(command) + ": unexpected argument '" + positionals[names.size()] + "'" + see_help(command);
        return false;
    }
    return true;
}

// The whole value must be a number: "12abc" or "" is refused rather than
// read as 12 or 0, so that a typing slip never generates the wrong export.
template <typename Number>
bool read_number(std::string_view text, Number& out, std::string& error) {
    const char* end = text.data() + text.size();
    const auto [stop, ec] = std::from_chars(text.data(), end, out);
    if (ec == std::errc::result_out_of_range) {
        error = "'" + std::string(text) + "' is out of range";
        return false;
    }
    if (ec != std::errc() || stop != end) {
        error = "'" + std::string(text) + "' is not a number";
        return false;
    }
    return true;
}

Option count_option(std::string_view name, int& target) {
    return {name, false, [&target](std::string_view value, std::string& error) {
                int n = 0;
                if (!read_number(value, n, error)) return false;
                if (n < 0) {
                    error = "'" + std::string(value) + "' is negative";
                    return false;
                }
                target = n;
                return true;
            }};
}

Option share_option(std::string_view name, double& target) {
    return {name, false, [&target](std::string_view value, std::string& error) {
                double x = 0;
                if (!read_number(value, x, error)) return false;
                if (!(x >= 0.0 && x <= 1.0)) {
                    error = "'" + std::string(value) + "' is not between 0 and 1";
                    return false;
                }
                target = x;
                return true;
            }};
}

// An option naming a file or a directory: an empty name is refused, since
// it would silently mean "none".
Option path_option(std::string_view name, std::string& target) {
    return {name, false, [&target](std::string_view value, std::string& error) {
                if (value.empty()) {
                    error = "an empty path";
                    return false;
                }
                target = std::string(value);
                return true;
            }};
}

bool parse_init(const std::vector<std::string_view>& args, Command& command, std::string& error) {
    std::vector<std::string> positionals;
    if (!parse_arguments("init", args, {}, positionals, error)) return false;
    if (!take_positionals("init", positionals, {"DB"}, error)) return false;
    command = InitCommand{positionals[0]};
    return true;
}

bool parse_import(const std::vector<std::string_view>& args, Command& command, std::string& error) {
    ImportCommand import;
    std::vector<Option> options = {
        {"--quiet", true,
         [&](std::string_view, std::string&) {
             import.quiet = true;
             return true;
         }},
        {"--show-trace", true,
         [&](std::string_view, std::string&) {
             import.show_trace = true;
             return true;
         }},
    };
    options.push_back(path_option("--scratch", import.scratch_dir));
    options.push_back(path_option("--trace", import.trace_path));
    options.push_back(path_option("--report", import.report_path));
    std::vector<std::string> positionals;
    if (!parse_arguments("import", args, options, positionals, error)) return false;
    // DB SOURCE alone, or the four arguments scripts have always given.
    if (!take_positionals("import", positionals,
                          positionals.size() <= 2 ? std::vector<std::string_view>{"DB", "SOURCE"}
                                                  : std::vector<std::string_view>{"DB", "SOURCE", "SCRATCH", "TRACE"},
                          error))
        return false;
    if (positionals.size() == 4) {
        if (!import.scratch_dir.empty() || !import.trace_path.empty()) {
            error = "import: SCRATCH and TRACE are given as arguments, so --scratch and --trace cannot be" +
                    see_help("import");
            return false;
        }
        import.scratch_dir = positionals[2];
        import.trace_path = positionals[3];
    } else {
        import.temporary_scratch = import.scratch_dir.empty();
        import.trace_beside_database = import.trace_path.empty();
    }
    import.database = positionals[0];
    import.source_dir = positionals[1];
    command = import;
    return true;
}

bool parse_check(const std::vector<std::string_view>& args, Command& command, std::string& error) {
    CheckCommand check;
    const std::vector<Option> options = {
        {"--quiet", true,
         [&](std::string_view, std::string&) {
             check.quiet = true;
             return true;
         }},
        {"--show-trace", true,
         [&](std::string_view, std::string&) {
             check.show_trace = true;
             return true;
         }},
        path_option("--scratch", check.scratch_dir),
        path_option("--trace", check.trace_path),
        path_option("--report", check.report_path),
    };
    std::vector<std::string> positionals;
    if (!parse_arguments("check", args, options, positionals, error)) return false;
    if (!take_positionals("check", positionals, {"DB", "SOURCE"}, error)) return false;
    check.database = positionals[0];
    check.source_dir = positionals[1];
    command = check;
    return true;
}

bool parse_generate(const std::vector<std::string_view>& args, Command& command, std::string& error) {
    GenerateCommand generate;
    samples::SampleExportOptions& o = generate.options;
    const std::vector<Option> options = {
        count_option("--clubs", o.clubs),
        count_option("--licences", o.licences),
        count_option("--performances", o.performances),
        count_option("--relays", o.relays),
        {"--seed", false, [&](std::string_view value, std::string& e) { return read_number(value, o.seed, e); }},
        share_option("--faults", o.faults),
        share_option("--unknown", o.unknown),
    };
    std::vector<std::string> positionals;
    if (!parse_arguments("generate", args, options, positionals, error)) return false;
    if (!take_positionals("generate", positionals, {"DIR"}, error)) return false;
    generate.dir = positionals[0];
    command = generate;
    return true;
}

}  // namespace

bool parse_command_line(int argc, const char* const* argv, Command& command, std::string& error) {
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    if (args.empty()) {
        error = "missing command" + see_help("");
        return false;
    }
    const std::string_view first = args[0];
    if (is_help(first) || first == "help") {
        if (args.size() > 2 || (args.size() == 2 && !is_command(args[1]))) {
            error = "help: no help for '" + std::string(args.back()) + "'" + see_help("");
            return false;
        }
        command = HelpCommand{args.size() == 2 ? std::string(args[1]) : ""};
        return true;
    }
    if (first == "--version") {
        if (args.size() > 1) {
            error = "--version: unexpected argument '" + std::string(args[1]) + "'";
            return false;
        }
        command = VersionCommand{};
        return true;
    }
    if (!is_command(first)) {
        error = (first.starts_with('-') ? "unknown option '" : "unknown command '") + std::string(first) + "'" +
                see_help("");
        return false;
    }
    const std::vector<std::string_view> rest(args.begin() + 1, args.end());
    // --help wins over everything else on the line, so that a user halfway
    // through typing a command can always ask how it goes on.
    for (std::string_view arg : rest) {
        if (arg == "--") break;
        if (is_help(arg)) {
            command = HelpCommand{std::string(first)};
            return true;
        }
    }
    if (first == "init") return parse_init(rest, command, error);
    if (first == "import") return parse_import(rest, command, error);
    if (first == "check") return parse_check(rest, command, error);
    return parse_generate(rest, command, error);
}

std::string help_text(const std::string& command) {
    // Where a server's password goes, since a command line is not the place.
    const std::string password_note = "Leave the password out of a server address: other users of the machine\n"
                                      "can read a command line. libpq finds it in PGPASSWORD, in ~/.pgpass (or\n"
                                      "the file PGPASSFILE names), or through a service file\n"
                                      "(postgresql://?service=NAME, see PGSERVICEFILE). An address that carries\n"
                                      "a password still works, with a warning on stderr.\n";
    if (command == "init") {
        return "Usage: ondival init DB\n"
               "\n"
               "Creates a new host database at DB: the club, licence, performance,\n"
               "competition and pool tables, the stroke codes and the geography the\n"
               "import checks club codes against, and the reference licence \"Null\".\n"
               "Refuses, touching nothing, when DB already exists.\n"
               "\n"
               "DB is a file path (SQLite), or the address of a database on a PostgreSQL\n"
               "server, postgresql://user@host:port/dbname, where the tables are created\n"
               "unless they already exist.\n"
               "\n" +
               password_note +
               "\n"
               "Exit codes: 0 created, 2 not created (the message says why).\n";
    }
    if (command == "import") {
        return "Usage: ondival import DB SOURCE [--scratch DIR] [--trace FILE] [--report FILE]\n"
               "                      [--quiet] [--show-trace]\n"
               "\n"
               "Imports the federation export in SOURCE (club.txt, licence.txt, liffn.txt,\n"
               "origine.txt) into the host database DB: a file, or\n"
               "postgresql://user@host:port/dbname for a database on a PostgreSQL server.\n"
               "SOURCE is a directory, or the .zip archive the federation hands out (its\n"
               "four files found by name, whatever their folder and capitals; an archive\n"
               "that is damaged, holds a path with '..' or from the root, or a file far\n"
               "larger than an export is refused, nothing imported). The files are\n"
               "copied into a scratch directory and read from there; the French trace of\n"
               "the import is written to a file (Windows-1252, CRLF), created or emptied.\n"
               "\n" +
               password_note +
               "\n"
               "On a terminal a progress bar shows the step, the share done, lines per\n"
               "second and the time left. Afterwards a summary gives the result, the\n"
               "clubs, licences and performances the database holds, the time taken and\n"
               "the trace path.\n"
               "\n"
               "Options:\n"
               "  --scratch DIR  copy the export into DIR, created when missing (default: a\n"
               "                 temporary directory, removed afterwards)\n"
               "  --trace FILE   write the trace to FILE (default: beside the database, in\n"
               "                 DB's directory, named after it and the time, such as\n"
               "                 club-import-20261207-091500.txt; in the current directory\n"
               "                 for a server)\n"
               "  --report FILE  write what the import did as JSON (UTF-8) to FILE: the\n"
               "                 result, the files, the counts, the competition, every\n"
               "                 refused line; nothing is imported when FILE cannot be\n"
               "                 written\n"
               "  --quiet        no progress bar and no summary; only errors are written\n"
               "  --show-trace   print the trace (in UTF-8) after the import\n"
               "\n"
               "Scripts may give the scratch directory and the trace as arguments, in\n"
               "that order: 'ondival import DB SOURCE SCRATCH TRACE' (then without\n"
               "--scratch and --trace).\n"
               "\n"
               "The import is true when this import's performances were attached to a new\n"
               "competition, or when liffn.txt held no line and nothing failed. It is\n"
               "false when it stopped early (source not ready, database not opened,\n"
               "liffn.txt missing) or when its performances were withdrawn; the trace\n"
               "says why.\n"
               "\n"
               "The scratch directory, the trace and the report must each be a place of\n"
               "its own: a trace or report at the database's path or at an export file's,\n"
               "or a scratch directory that is SOURCE, is refused before anything is\n"
               "touched.\n"
               "\n"
               "Ctrl-C stops the import at its next line: the step under way is rolled\n"
               "back, no performance is kept, the trace ends \"Import interrompu.\". A\n"
               "second Ctrl-C ends the program at once.\n"
               "\n"
               "Exit codes: 0 the import was true, 1 it was false, 2 an error stopped it\n"
               "(\"Erreur n° N: ...\" on stderr) or the command line was wrong, 130 Ctrl-C\n"
               "stopped it.\n";
    }
    if (command == "check") {
        return "Usage: ondival check DB SOURCE [--scratch DIR] [--trace FILE] [--report FILE]\n"
               "                     [--quiet] [--show-trace]\n"
               "\n"
               "Checks the federation export in SOURCE (a directory or a .zip archive, as\n"
               "for 'ondival import') against the host database DB (a file, or\n"
               "postgresql://user@host:port/dbname): runs the whole import\n"
               "exactly as 'ondival import' does, with the same trace and result, then\n"
               "rolls it back. The database is left as it was: no row added or changed,\n"
               "no competition or pool created, Info.LastClose untouched, even when the\n"
               "check is killed half-way. Like an import, a check waits for another\n"
               "import that is writing, and other imports wait for it.\n"
               "\n" +
               password_note +
               "\n"
               "Afterwards a summary says what the import would do: the result, the clubs,\n"
               "licences, swimmers and performances it would add, the competition it would\n"
               "create, the lines it would refuse and where it would stop.\n"
               "\n"
               "Options:\n"
               "  --scratch DIR  copy the export into DIR, created when missing (default: a\n"
               "                 temporary directory, removed afterwards)\n"
               "  --trace FILE   keep the trace in FILE (Windows-1252, CRLF; default: none)\n"
               "  --report FILE  write what the import would do as JSON (UTF-8) to FILE;\n"
               "                 nothing is checked when FILE cannot be written; files\n"
               "                 removed afterwards are null in it\n"
               "  --quiet        no progress bar and no summary\n"
               "  --show-trace   print the trace (in UTF-8) afterwards\n"
               "\n"
               "Exit codes: 0 the import would be true, 1 it would be false, 2 an error\n"
               "stopped it (\"Erreur n° N: ...\" on stderr) or the command line was wrong,\n"
               "130 Ctrl-C stopped it (nothing kept, temporary files removed).\n";
    }
    if (command == "generate") {
        const samples::SampleExportOptions d;
        std::ostringstream text;
        text << "Usage: ondival generate DIR [OPTIONS]\n"
                "\n"
                "Writes an invented federation export into DIR (created when missing):\n"
                "club.txt, licence.txt, liffn.txt and origine.txt, with DOS-coded accents\n"
                "and CRLF line ends. Without --faults every line imports cleanly into a\n"
                "database made by 'ondival init'. The same seed and options always give\n"
                "the same bytes. Refuses, writing nothing, when DIR already holds one of\n"
                "the four files.\n"
                "\n"
                "Options:\n"
                "  --clubs N          lines of club.txt (default "
             << d.clubs << ")\n"
             << "  --licences N       lines of licence.txt (default " << d.licences << ")\n"
             << "  --performances N   individual performance lines of liffn.txt (default " << d.performances << ")\n"
             << "  --relays N         relay lines of liffn.txt (default " << d.relays << ")\n"
             << "  --seed S           seed of the invented data (default " << d.seed << ")\n"
             << "  --faults RATE      chance, 0 to 1, that a line is damaged (default " << d.faults << ")\n"
             << "  --unknown SHARE    share, 0 to 1, of performance lines whose swimmer is\n"
                "                     not in licence.txt (default "
             << d.unknown << ")\n"
             << "\n"
                "Exit codes: 0 written, 2 not written (the message says why).\n";
        return text.str();
    }
    return "Usage: ondival COMMAND [ARGUMENTS]\n"
           "\n"
           "Imports a swimming federation's export of clubs, licences and performances\n"
           "into a club's host database.\n"
           "\n"
           "Commands:\n"
           "  init DB                          create a new host database\n"
           "  import DB SOURCE                 import the export in SOURCE into DB\n"
           "  check DB SOURCE                  what that import would do, keeping nothing\n"
           "  generate DIR                     write an invented export into DIR\n"
           "\n"
           "Options:\n"
           "  -h, --help      this help; 'ondival COMMAND --help' for a command's\n"
           "  --version       the version of ondival\n"
           "\n"
           "Exit codes: 0 success (for import: the import was true), 1 the import was\n"
           "false, 2 an error stopped the command or the command line was wrong, 130\n"
           "Ctrl-C stopped an import or a check.\n";
}

}  // namespace ondival::cli
