#include "import/report_json.h"

#include <cstdio>
#include <nlohmann/json.hpp>

#include "platform/cp1252.h"

namespace ondival {
namespace {

// Fields keep the order they are written in, the order a reader expects them.
using json = nlohmann::ordered_json;

// Texts of the trace are Windows-1252; paths are the platform's own bytes.
std::string text(const std::string& cp1252) { return platform::cp1252_to_utf8(cp1252); }

json lines(const std::vector<std::string>& cp1252_lines) {
    json out = json::array();
    for (const std::string& l : cp1252_lines) out.push_back(text(l));
    return out;
}

std::string iso_time(const platform::LocalTime& t) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute,
                  t.second);
    return buffer;
}

json count_or_null(std::int64_t n) { return n < 0 ? json(nullptr) : json(n); }

json file_or_null(const std::string& file) { return file.empty() ? json(nullptr) : json(file); }

json source_file(const ReportSourceFile& f) {
    json out = {{"name", f.name},          {"found", f.found},       {"lines", nullptr},
                {"copy", nullptr},         {"short_lines", nullptr}, {"first_line_length", nullptr},
                {"record_length", nullptr}};
    if (f.found) {
        out["lines"] = f.lines;
        out["copy"] = file_or_null(f.copy);
    }
    if (f.record_length > 0) {
        out["short_lines"] = f.short_lines;
        out["first_line_length"] = f.first_line_length;
        out["record_length"] = f.record_length;
    }
    return out;
}

}  // namespace

std::string rapport_json(const Report& report) {
    json out;
    out["format"] = "ondival-report";
    out["version"] = kReportFormatVersion;
    out["mode"] = report.check ? "check" : "import";
    out["database"] = report.database;
    out["source_dir"] = report.source_dir;
    out["trace"] = file_or_null(report.trace_path);
    out["started"] = iso_time(report.started);
    out["ended"] = iso_time(report.ended);
    out["result"] = report.result ? json(*report.result) : json(nullptr);
    out["error"] = report.error ? json{{"number", report.error->number}, {"text", text(report.error->description)}}
                                : json(nullptr);

    json files = json::array();
    for (const ReportSourceFile& f : report.source_files) files.push_back(source_file(f));
    out["source_files"] = std::move(files);

    json imports = json::array();
    for (const ReportImport& i : report.imports) {
        json counts = json::array();
        for (const ReportCount& c : i.counts) counts.push_back({{"count", c.count}, {"text", text(c.text)}});
        imports.push_back({{"file", i.file}, {"completed", !i.counts.empty()}, {"counts", std::move(counts)}});
    }
    out["imports"] = std::move(imports);

    out["competition"] = report.competition
                             ? json{{"number", report.competition->number}, {"name", text(report.competition->name)}}
                             : json(nullptr);
    out["purged"] = report.purged;
    out["added"] = {{"clubs", count_or_null(report.added.clubs)},
                    {"licences", count_or_null(report.added.licences)},
                    {"swimmers", count_or_null(report.added.swimmers)},
                    {"performances", count_or_null(report.added.performances)}};

    if (const std::optional<ReportStop> stop = first_stop(report)) {
        out["stop"] = {{"file", stop->file},
                       {"line", stop->line ? json(*stop->line) : json(nullptr)},
                       {"lines", lines(stop->lines)}};
    } else {
        out["stop"] = nullptr;
    }

    json entries = json::array();
    for (const ReportEntry& e : report.entries)
        entries.push_back(
            {{"file", file_or_null(e.file)}, {"line", e.line}, {"kind", e.kind}, {"lines", lines(e.lines)}});
    out["entries"] = std::move(entries);

    json messages = json::array();
    for (const ReportMessage& m : report.messages)
        messages.push_back({{"file", file_or_null(m.file)}, {"lines", lines(m.lines)}});
    out["messages"] = std::move(messages);

    // Paths are bytes that need not be UTF-8: such a byte becomes U+FFFD
    // rather than making the whole report unreadable.
    return out.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

}  // namespace ondival
