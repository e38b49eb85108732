#include "common/report.h"

#include "platform/file_system.h"

namespace ondival {
namespace {

thread_local Report* t_report = nullptr;

// The file import under way, for the entries it writes.
std::string current_file(const Report& r) {
    return r.imports.empty() || !r.imports.back().running ? std::string() : r.imports.back().file;
}

}  // namespace

Report* current_report() { return t_report; }

ReportScope::ReportScope(Report& report) : previous_(t_report) { t_report = &report; }
ReportScope::~ReportScope() { t_report = previous_; }

std::vector<std::string> report_lines(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find("\r\n", start);
        lines.emplace_back(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
        if (end == std::string_view::npos) break;
        start = end + 2;
    }
    while (!lines.empty() && lines.back().empty()) lines.pop_back();
    std::size_t blank = 0;
    while (blank < lines.size() && lines[blank].empty()) ++blank;
    lines.erase(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(blank));
    return lines;
}

void report_entry(std::int32_t line, std::string_view kind, std::string_view message) {
    Report* r = t_report;
    if (!r) return;
    r->entries.push_back(ReportEntry{current_file(*r), line, std::string(kind), report_lines(message)});
}

void report_message(std::string_view message) {
    Report* r = t_report;
    if (!r) return;
    r->messages.push_back(ReportMessage{current_file(*r), report_lines(message)});
}

void report_count(std::int32_t count, std::string_view text) {
    Report* r = t_report;
    if (!r || r->imports.empty() || !r->imports.back().running) return;
    std::vector<std::string> lines = report_lines(text);
    std::string joined;
    for (const std::string& l : lines) {
        if (!joined.empty()) joined += ' ';
        joined += l;
    }
    r->imports.back().counts.push_back(ReportCount{count, std::move(joined)});
}

void report_import_started(std::string_view file) {
    if (Report* r = t_report) r->imports.push_back(ReportImport{std::string(file), {}, true});
}

void report_import_ended() {
    if (Report* r = t_report; r && !r->imports.empty()) r->imports.back().running = false;
}

ReportSourceFile* report_source_file(std::string_view name) {
    Report* r = t_report;
    if (!r) return nullptr;
    for (ReportSourceFile& f : r->source_files)
        if (f.name == name) return &f;
    r->source_files.push_back(ReportSourceFile{});
    r->source_files.back().name = std::string(name);
    return &r->source_files.back();
}

void report_row_inserted(AddedRow row) {
    Report* r = t_report;
    if (!r) return;
    switch (row) {
        case AddedRow::kClub:
            ++r->inserting.clubs;
            break;
        case AddedRow::kLicence:
            ++r->inserting.licences;
            break;
        case AddedRow::kSwimmer:
            ++r->inserting.swimmers;
            break;
        case AddedRow::kPerformance:
            ++r->inserting.performances;
            break;
    }
}

void report_rows_committed() {
    Report* r = t_report;
    if (!r) return;
    r->inserted.clubs += r->inserting.clubs;
    r->inserted.licences += r->inserting.licences;
    r->inserted.swimmers += r->inserting.swimmers;
    r->inserted.performances += r->inserting.performances;
    r->inserting = kNothingAdded;
}

void report_rows_rolled_back() {
    if (Report* r = t_report) r->inserting = kNothingAdded;
}

void report_staged_performances_deleted() {
    if (Report* r = t_report) r->inserting.performances = 0;
}

namespace {

bool lies_under(const std::string& path, const std::string& dir) {
    if (dir.empty() || path.size() <= dir.size() || path.compare(0, dir.size(), dir) != 0) return false;
    return dir.back() == platform::kPathSeparator || path[dir.size()] == platform::kPathSeparator;
}

}  // namespace

void forget_removed_files(Report& report, const std::string& removed_dir) {
    if (lies_under(report.trace_path, removed_dir)) report.trace_path.clear();
    for (ReportSourceFile& f : report.source_files)
        if (lies_under(f.copy, removed_dir)) f.copy.clear();
}

std::optional<ReportStop> first_stop(const Report& report) {
    for (const ReportImport& import : report.imports) {
        if (!import.counts.empty()) continue;
        ReportStop stop{import.file, std::nullopt, {}};
        // The stop is the last error the file import wrote: what came
        // before it were lines it refused and went past.
        for (const ReportEntry& e : report.entries)
            if (e.file == import.file && e.kind == "Erreur") {
                stop.line = e.line;
                stop.lines = e.lines;
            }
        if (!stop.line) {
            for (const ReportMessage& m : report.messages)
                if (m.file == import.file) stop.lines = m.lines;
        }
        return stop;
    }
    return std::nullopt;
}

}  // namespace ondival
