#include "import/report_json.h"

#include <cstdio>
#include <nlohmann/json.hpp>
#include <string_view>

#include "platform/cp1252.h"

#ifndef ONDIVAL_VERSION
#error "ONDIVAL_VERSION must be defined for the component (target_compile_definitions in CMakeLists.txt)"
#endif

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

// Linux file names are bytes, and need not be UTF-8: a club's export
// unpacked from an old Windows share keeps its Latin-1 folder names
// ("r\xe9sultats"). A JSON string must be UTF-8, so such a path is written
// for display with U+FFFD in place of the bytes that are not (see the end of
// report_to_json), and whole, byte for byte, as lowercase hexadecimal in a
// sibling field "<name>_bytes", so that a program can still open the very
// file. A path that is valid UTF-8 has no such field.
bool is_utf8(std::string_view text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    for (std::size_t i = 0; i < n;) {
        const unsigned char c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        std::size_t length;
        unsigned char low = 0x80, high = 0xBF;  // what the second byte may be
        if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            if (c == 0xE0) low = 0xA0;   // no overlong form
            if (c == 0xED) high = 0x9F;  // no surrogate
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            if (c == 0xF0) low = 0x90;   // no overlong form
            if (c == 0xF4) high = 0x8F;  // nothing past U+10FFFF
        } else {
            return false;
        }
        if (n - i < length || p[i + 1] < low || p[i + 1] > high) return false;
        for (std::size_t k = 2; k < length; ++k)
            if (p[i + k] < 0x80 || p[i + k] > 0xBF) return false;
        i += length;
    }
    return true;
}

std::string hex(std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (const char b : bytes) {
        out += kDigits[static_cast<unsigned char>(b) >> 4];
        out += kDigits[static_cast<unsigned char>(b) & 0x0F];
    }
    return out;
}

// A file the report names may be gone once the call ends (a check's
// temporary trace and copies): then it is null, never a path to nothing.
void put_path(json& out, const std::string& name, const std::string& path, bool null_when_empty = false) {
    if (null_when_empty && path.empty()) {
        out[name] = nullptr;
        return;
    }
    out[name] = path;
    if (!is_utf8(path)) out[name + "_bytes"] = hex(path);
}

json source_file(const ReportSourceFile& f) {
    json out;
    out["name"] = f.name;
    out["found"] = f.found;
    out["lines"] = f.found ? json(f.lines) : json(nullptr);
    if (f.found) {
        put_path(out, "copy", f.copy, true);
    } else {
        out["copy"] = nullptr;
    }
    const bool measured = f.record_length > 0;
    out["short_lines"] = measured ? json(f.short_lines) : json(nullptr);
    out["first_line_length"] = measured ? json(f.first_line_length) : json(nullptr);
    out["record_length"] = measured ? json(f.record_length) : json(nullptr);
    return out;
}

json entry(const ReportEntry& e) {
    json out{{"file", file_or_null(e.file)}, {"line", e.line}, {"kind", e.kind}, {"lines", lines(e.lines)}};
    out["text"] = e.text ? json(text(*e.text)) : json(nullptr);
    if (e.text_cut) out["text_cut"] = true;
    return out;
}

json created(const Report& report) {
    json clubs = json::array();
    for (const ReportClub& c : report.clubs_created)
        clubs.push_back({{"code", text(c.code)}, {"label", text(c.label)}});
    json swimmers = json::array();
    for (const ReportSwimmer& s : report.swimmers_created)
        swimmers.push_back({{"club", text(s.club)},
                            {"licence", text(s.licence)},
                            {"name", text(s.name)},
                            {"first_name", text(s.first_name)},
                            {"birth", text(s.birth)}});
    return {{"clubs", std::move(clubs)}, {"swimmers", std::move(swimmers)}};
}

}  // namespace

std::string report_to_json(const Report& report) {
    json out;
    out["format"] = "ondival-report";
    out["version"] = kReportFormatVersion;
    out["mode"] = report.check ? "check" : "import";
    out["program_version"] = ONDIVAL_VERSION;
    put_path(out, "database", report.database);
    put_path(out, "source_dir", report.source_dir);
    put_path(out, "trace", report.trace_path, true);
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
    out["created"] = created(report);

    if (!report.line_by_line.empty()) out["line_by_line"] = lines(report.line_by_line);

    if (const std::optional<ReportStop> stop = first_stop(report)) {
        out["stop"] = {{"file", stop->file},
                       {"line", stop->line ? json(*stop->line) : json(nullptr)},
                       {"lines", lines(stop->lines)}};
    } else {
        out["stop"] = nullptr;
    }

    json entries = json::array();
    for (const ReportEntry& e : report.entries) entries.push_back(entry(e));
    out["entries"] = std::move(entries);

    json messages = json::array();
    for (const ReportMessage& m : report.messages)
        messages.push_back({{"file", file_or_null(m.file)}, {"lines", lines(m.lines)}});
    out["messages"] = std::move(messages);

    // A path that is not UTF-8 is shown with U+FFFD for the bytes that are
    // not (its "_bytes" field keeps it whole) rather than making the whole
    // report unreadable.
    return out.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

}  // namespace ondival
