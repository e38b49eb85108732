#include "import/report_html.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <vector>

#include "import/report_json.h"
#include "platform/cp1252.h"
#include "platform/error.h"

namespace ondival {
namespace {

using json = nlohmann::ordered_json;  // as report_to_json writes it: one instantiation of the library

// A group, or a list of created clubs or swimmers, shows this many rows;
// the rest are folded under a <details>, so that a season's export with
// thousands of refused lines still opens at once, and nothing is dropped.
constexpr std::size_t kRowsShown = 200;

// The one script of the page: it shows a print button (without script the
// browser's own print does the same) and unfolds every folded list before
// printing, so that paper holds every line. The page's Content-Security-Policy
// lets this script run by its SHA-256 alone, and nothing else: a script
// smuggled in through a club name would not run even if it became markup.
// kScriptHash must be the base64 SHA-256 of kScript, byte for byte
// (tests/html_page_test.cpp recomputes it).
constexpr std::string_view kScript =
    "(function(){var b=document.getElementById(\"imprimer\");b.hidden=false;"
    "b.addEventListener(\"click\",function(){window.print()});"
    "addEventListener(\"beforeprint\",function(){document.querySelectorAll(\"details\").forEach("
    "function(d){d.open=true})})})();";
constexpr std::string_view kScriptHash = "sha256-ICRXywuCzfUiBswUTHkw5cA/V3qMrCVxfkEU7FDff/Q=";

constexpr std::string_view kStyle = R"(
:root{color-scheme:light;--ok:#1b7f3b;--ko:#b3261e;--warn:#a15c00;--muted:#5f6368;--line:#d9dce1}
*{box-sizing:border-box}
body{font:15px/1.45 system-ui,-apple-system,"Segoe UI",Roboto,"DejaVu Sans",sans-serif;color:#1f2328;margin:0;background:#f6f7f9}
main{max-width:1100px;margin:0 auto;padding:20px 24px 40px}
h1{font-size:22px;margin:0 0 4px}
h2{font-size:18px;margin:28px 0 10px;padding-bottom:4px;border-bottom:2px solid var(--line)}
h3{font-size:15px;margin:0 0 8px}
.sous-titre{color:var(--muted);margin:0 0 16px}
.carte{background:#fff;border:1px solid var(--line);border-radius:8px;padding:14px 16px;margin:0 0 12px}
#issue{border-left:8px solid var(--muted)}
#issue.vrai{border-left-color:var(--ok)}
#issue.faux,#issue.erreur{border-left-color:var(--ko)}
.verdict{font-size:20px;font-weight:700;margin:0 0 8px}
.vrai .verdict{color:var(--ok)}
.faux .verdict,.erreur .verdict{color:var(--ko)}
dl.faits{display:grid;grid-template-columns:max-content 1fr;gap:4px 14px;margin:8px 0 0}
dl.faits dt{color:var(--muted)}
dl.faits dd{margin:0}
.chiffres{display:flex;flex-wrap:wrap;gap:8px;margin:10px 0 0;padding:0;list-style:none}
.chiffres li{background:#f1f3f5;border-radius:6px;padding:4px 10px}
.chiffres b{font-size:17px}
.fichiers{display:grid;grid-template-columns:repeat(auto-fill,minmax(320px,1fr));gap:12px}
.fichiers .carte{margin:0}
.compte{margin:6px 0;padding-left:18px}
svg.barre{display:block;width:100%;height:22px;margin:8px 0 4px;border-radius:4px}
.legende{display:flex;flex-wrap:wrap;gap:4px 12px;margin:0;padding:0;list-style:none;font-size:13px}
.legende i{display:inline-block;width:11px;height:11px;border-radius:2px;margin-right:5px;vertical-align:-1px}
.groupe h3 .genre{display:inline-block;font-size:12px;font-weight:700;border-radius:4px;padding:1px 7px;margin-right:8px;color:#fff;background:var(--ko)}
.groupe.avertissement h3 .genre{background:var(--warn)}
.groupe h3 .nombre{color:var(--muted);font-weight:400;margin-left:6px;white-space:nowrap}
table{border-collapse:collapse;width:100%;font-size:13.5px}
table.sommaire td.num{text-align:right}
th,td{text-align:left;vertical-align:top;padding:4px 8px;border-top:1px solid var(--line)}
th{font-weight:600;color:var(--muted);border-top:0}
td.num{white-space:nowrap;font-variant-numeric:tabular-nums}
.texte{font:12px/1.35 ui-monospace,"DejaVu Sans Mono",monospace;white-space:pre-wrap;overflow-wrap:anywhere;background:#f6f8fa;border-radius:4px;padding:3px 6px;margin-top:4px}
.ctl{font:11px ui-monospace,"DejaVu Sans Mono",monospace;background:#ffe08a;color:#6b2c00;border-radius:3px;padding:0 2px;margin:0 1px}
details{margin-top:8px}
summary{cursor:pointer;color:#0b57d0}
.discret{color:var(--muted)}
button#imprimer{float:right;font:inherit;padding:4px 12px;border:1px solid var(--line);border-radius:6px;background:#fff;cursor:pointer}
@media print{
 body{background:#fff;font-size:11pt}
 main{max-width:none;padding:0}
 .carte{border-color:#999;break-inside:avoid}
 .groupe{break-inside:auto}
 button#imprimer{display:none}
 *{print-color-adjust:exact;-webkit-print-color-adjust:exact}
}
)";

// ---------------------------------------------------------------------------
// Reading the report: a kept report may come from an earlier build or have
// been edited by hand, so a field that is missing or of another type reads
// as absent, never as a crash.

const json& at(const json& object, const char* name) {
    static const json kAbsent;
    if (!object.is_object()) return kAbsent;
    const auto found = object.find(name);
    return found == object.end() ? kAbsent : *found;
}

std::string text_of(const json& value) { return value.is_string() ? value.get<std::string>() : std::string(); }

std::optional<long long> number_of(const json& value) {
    if (value.is_number_integer()) return value.get<long long>();
    return std::nullopt;
}

const json& items(const json& value) {
    static const json kEmpty = json::array();
    return value.is_array() ? value : kEmpty;
}

std::vector<std::string> lines_of(const json& value) {
    std::vector<std::string> out;
    for (const json& l : items(value)) out.push_back(text_of(l));
    return out;
}

// ---------------------------------------------------------------------------
// Writing the page.

// Appends text as HTML text, whatever it holds: the five characters that
// could open markup or close an attribute are escaped, and what a reader
// could not see or could be fooled by is shown as a visible mark, as the
// command line shows it on a terminal: C0 controls and NUL as ^@, the bytes
// Windows-1252 leaves undefined (U+0081...) as <81>, the controls that
// reorder or hide text (U+202E...) as <U+202E>, a byte that is not UTF-8 as
// <XX>.
void put_text(std::string& out, std::string_view s) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    const auto mark = [&out](const std::string& shown, const std::string& why) {
        out += "<span class=\"ctl\" title=\"";
        out += why;
        out += "\">";
        out += shown;
        out += "</span>";
    };
    const auto hex2 = [](unsigned v) { return std::string{kHex[(v >> 4) & 0xF], kHex[v & 0xF]}; };
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            switch (c) {
                case '&':
                    out += "&amp;";
                    break;
                case '<':
                    out += "&lt;";
                    break;
                case '>':
                    out += "&gt;";
                    break;
                case '"':
                    out += "&quot;";
                    break;
                case '\'':
                    out += "&#39;";
                    break;
                default:
                    if (c < 0x20)
                        mark("^" + std::string(1, static_cast<char>(c + 0x40)), "caractère de contrôle 0x" + hex2(c));
                    else if (c == 0x7F)
                        mark("^?", "caractère de contrôle 0x7F");
                    else
                        out += static_cast<char>(c);
            }
            ++i;
            continue;
        }
        // One UTF-8 sequence, checked as strictly as the JSON reader does.
        std::size_t length = 0;
        char32_t cp = 0;
        if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            cp = c & 0x07;
        }
        bool valid = length != 0 && i + length <= s.size();
        for (std::size_t k = 1; valid && k < length; ++k) {
            const auto b = static_cast<unsigned char>(s[i + k]);
            valid = (b & 0xC0) == 0x80;
            cp = (cp << 6) | (b & 0x3F);
        }
        if (valid)
            valid = !(length == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) &&
                    !(length == 4 && (cp < 0x10000 || cp > 0x10FFFF));
        if (!valid) {
            mark("&lt;" + hex2(c) + "&gt;", "octet qui n'est pas du texte UTF-8");
            ++i;
            continue;
        }
        if (cp <= 0x9F) {
            mark("&lt;" + hex2(cp) + "&gt;", "octet 0x" + hex2(cp) + " : caractère non défini en Windows-1252");
        } else if ((cp >= 0x200B && cp <= 0x200F) || (cp >= 0x202A && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069) ||
                   cp == 0xFEFF) {
            char code[16];
            std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(cp));
            mark("&lt;" + std::string(code) + "&gt;", "caractère invisible " + std::string(code));
        } else {
            out.append(s.substr(i, length));
        }
        i += length;
    }
}

std::string esc(std::string_view s) {
    std::string out;
    put_text(out, s);
    return out;
}

std::string number_text(long long n) {
    // 12 345: the French thousands separator (a narrow no-break space).
    std::string digits = std::to_string(n < 0 ? -n : n), out;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += "\u202F";
        out += digits[i];
    }
    return (n < 0 ? "-" : "") + out;
}

// "3 clubs", "1 club", "0 club": French keeps the singular below 2.
std::string counted(long long n, const char* one, const char* many) {
    return number_text(n) + " " + (n >= 2 || n <= -2 ? many : one);
}

constexpr const char* kMonths[] = {"janvier", "février", "mars",      "avril",   "mai",      "juin",
                                   "juillet", "août",    "septembre", "octobre", "novembre", "décembre"};

struct Moment {
    int year, month, day, hour, minute, second;
};

std::optional<Moment> moment_of(const std::string& iso) {
    Moment m{};
    char tail = 0;
    if (std::sscanf(iso.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c", &m.year, &m.month, &m.day, &m.hour, &m.minute, &m.second,
                    &tail) != 6 ||
        m.month < 1 || m.month > 12)
        return std::nullopt;
    return m;
}

// "7 décembre 2026 à 01:08:36".
std::string when(const std::string& iso) {
    const std::optional<Moment> m = moment_of(iso);
    if (!m) return esc(iso);
    char clock[16];
    std::snprintf(clock, sizeof clock, "%02d:%02d:%02d", m->hour, m->minute, m->second);
    return std::to_string(m->day) + (m->day == 1 ? "er " : " ") + kMonths[m->month - 1] + " " +
           std::to_string(m->year) + " à " + clock;
}

long long days(int y, int m, int d) {  // days since 1970-01-01 of a civil date
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const long long yoe = y - era * 400;
    const long long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    return era * 146097 + yoe * 365 + yoe / 4 - yoe / 100 + doy - 719468;
}

std::string duration(const std::string& from, const std::string& to) {
    const std::optional<Moment> a = moment_of(from), b = moment_of(to);
    if (!a || !b) return "";
    const auto seconds = [](const Moment& m) {
        return days(m.year, m.month, m.day) * 86400 + m.hour * 3600 + m.minute * 60 + m.second;
    };
    const long long s = seconds(*b) - seconds(*a);
    if (s < 0) return "";
    if (s < 60) return s < 1 ? "moins d'une seconde" : counted(s, "seconde", "secondes");
    char text[48];
    if (s < 3600)
        std::snprintf(text, sizeof text, "%lld min %02lld s", s / 60, s % 60);
    else
        std::snprintf(text, sizeof text, "%lld h %02lld min", s / 3600, s % 3600 / 60);
    return text;
}

// "20100101" as "1er janvier 2010"; anything else as it is.
std::string birth_date(const std::string& yyyymmdd) {
    int y = 0, m = 0, d = 0;
    char tail = 0;
    if (yyyymmdd.size() != 8 || std::sscanf(yyyymmdd.c_str(), "%4d%2d%2d%c", &y, &m, &d, &tail) != 3 || m < 1 || m > 12)
        return esc(yyyymmdd);
    return std::to_string(d) + (d == 1 ? "er " : " ") + kMonths[m - 1] + " " + std::to_string(y);
}

// ---------------------------------------------------------------------------
// Grouping the entries by kind of message.

bool has_digit(std::string_view word) { return word.find_first_of("0123456789") != std::string_view::npos; }

// One trace line with what changes from line to line taken out: what
// follows " : " (a refused code, a name, a number), what stands between
// parentheses (a club code, a licence), the name after "nageur " up to its
// comma, and every word holding a digit. So "Code nage invalide : 23" and
// "Code nage invalide : 41" are one kind of message, "Code nage invalide :
// …", and 400 of them read as one group.
std::string masked(std::string line) {
    if (const std::size_t colon = line.find(" : "); colon != std::string::npos) line = line.substr(0, colon) + " : …";
    for (std::size_t open = line.find('('); open != std::string::npos; open = line.find('(', open + 1)) {
        const std::size_t close = line.find(')', open);
        if (close == std::string::npos) break;
        line.replace(open + 1, close - open - 1, "…");
    }
    if (const std::size_t name = line.find("nageur "); name != std::string::npos) {
        const std::size_t comma = line.find(',', name);
        if (comma != std::string::npos) line.replace(name + 7, comma - name - 7, "…");
    }
    std::string out;
    std::size_t i = 0;
    while (i < line.size()) {
        if (line[i] == ' ') {
            out += line[i++];
            continue;
        }
        std::size_t end = line.find(' ', i);
        if (end == std::string::npos) end = line.size();
        std::string_view word(line.data() + i, end - i);
        if (has_digit(word)) {
            // Punctuation that closes the word stays: "licence …," reads.
            std::size_t keep = word.size();
            while (keep > 0 && std::string_view(".,;:)").find(word[keep - 1]) != std::string_view::npos) --keep;
            out += "…";
            out += word.substr(keep);
        } else {
            out += word;
        }
        i = end;
    }
    return out;
}

struct Group {
    std::string kind;  // "Erreur" or "Warning"
    std::string title;
    std::size_t first = 0;  // its first entry's place in the report
    std::vector<const json*> entries;
};

std::vector<Group> groups_of(const json& entries) {
    std::vector<Group> groups;
    std::map<std::pair<std::string, std::string>, std::size_t> index;
    std::size_t place = 0;
    for (const json& e : items(entries)) {
        std::string title;
        for (const std::string& l : lines_of(at(e, "lines"))) {
            if (!title.empty()) title += " / ";
            title += masked(l);
        }
        const std::string kind = text_of(at(e, "kind")) == "Warning" ? "Warning" : "Erreur";
        const auto [found, added] = index.try_emplace({kind, title}, groups.size());
        if (added) groups.push_back(Group{kind, title, place, {}});
        groups[found->second].entries.push_back(&e);
        ++place;
    }
    // Errors before warnings, the largest groups first.
    std::stable_sort(groups.begin(), groups.end(), [](const Group& a, const Group& b) {
        if (a.kind != b.kind) return a.kind == "Erreur";
        if (a.entries.size() != b.entries.size()) return a.entries.size() > b.entries.size();
        return a.first < b.first;
    });
    return groups;
}

// ---------------------------------------------------------------------------
// What became of each file's lines, from its summary counts (in the order
// the trace gives them) or, for a file import that stopped, from where it
// stopped.

struct Segment {
    std::string label;
    const char* colour;
    long long count;
};

constexpr const char* kAdded = "#2e7d32";
constexpr const char* kKnown = "#1565c0";
constexpr const char* kRefused = "#c62828";
constexpr const char* kWithdrawn = "#ef8f00";
constexpr const char* kOther = "#9aa0a6";
constexpr const char* kUnread = "#dadce0";

std::vector<long long> counts_of(const json& import) {
    std::vector<long long> out;
    for (const json& c : items(at(import, "counts"))) out.push_back(number_of(at(c, "count")).value_or(0));
    return out;
}

std::vector<Segment> segments(const std::string& file, const json& import, long long lines, bool purged,
                              std::optional<long long> stop_line) {
    std::vector<Segment> s;
    const std::vector<long long> c = counts_of(import);
    long long accounted = 0;
    const auto add = [&](std::string label, const char* colour, long long n) {
        if (n > 0) s.push_back(Segment{std::move(label), colour, n});
        accounted += std::max(0LL, n);
    };
    if (c.empty()) {
        if (!stop_line || *stop_line < 1) return s;
        add(file == "liffn.txt" && purged ? "lues puis retirées" : "lues avant l'arrêt",
            file == "liffn.txt" && purged ? kWithdrawn : kOther, *stop_line - 1);
        add("ligne d'arrêt", kRefused, 1);
        add("non lues", kUnread, lines - accounted);
        return s;
    }
    if (file == "club.txt" && c.size() >= 5) {
        add("ajoutés", kAdded, c[0]);
        add("déjà connus", kKnown, c[1] + c[2] + c[3]);
        add("refusés", kRefused, c[4]);
        add("déjà lus plus haut", kOther, lines - accounted);
    } else if (file == "licence.txt" && c.size() >= 4) {
        add("ajoutées", kAdded, c[0]);
        add("déjà connues", kKnown, c[1]);
        add("licences de relais", kOther, c[2]);
        add("refusées", kRefused, c[3]);
        add("déjà vues plus haut", kOther, lines - accounted);
    } else if (file == "liffn.txt" && c.size() >= 3) {
        add(purged ? "retirées" : "ajoutées", purged ? kWithdrawn : kAdded, c[1] + c[2]);
        add("autres", kOther, lines - accounted);
    }
    return s;
}

void put_chart(std::string& out, const std::vector<Segment>& parts) {
    long long total = 0;
    for (const Segment& p : parts) total += p.count;
    if (total <= 0) return;
    out += "<svg class=\"barre\" viewBox=\"0 0 1000 22\" preserveAspectRatio=\"none\" role=\"img\" "
           "aria-label=\"Ce que sont devenues les lignes\">";
    double x = 0;
    for (const Segment& p : parts) {
        const double w = 1000.0 * static_cast<double>(p.count) / static_cast<double>(total);
        char rect[160];
        std::snprintf(rect, sizeof rect, "<rect x=\"%.2f\" y=\"0\" width=\"%.2f\" height=\"22\" fill=\"%s\">", x,
                      std::max(w, 0.0), p.colour);
        out += rect;
        out += "<title>" + esc(p.label) + " : " + number_text(p.count) + "</title></rect>";
        x += w;
    }
    out += "</svg><ul class=\"legende\">";
    for (const Segment& p : parts)
        out += std::string("<li><i style=\"background:") + p.colour + "\"></i>" + esc(p.label) + " : <b>" +
               number_text(p.count) + "</b></li>";
    out += "</ul>";
}

// ---------------------------------------------------------------------------

class Page {
public:
    explicit Page(const json& report) : r_(report), check_(text_of(at(report, "mode")) == "check") {}

    std::string render() {
        head();
        out_ += "<body><main>";
        out_ += "<button id=\"imprimer\" type=\"button\" hidden>Imprimer</button>";
        out_ += std::string("<h1>") + (check_ ? "Vérification d'un export" : "Import d'un export") + "</h1>";
        out_ += "<p class=\"sous-titre\">" + when(text_of(at(r_, "started"))) + " · " +
                esc(text_of(at(r_, "source_dir"))) + "</p>";
        outcome();
        files();
        entries();
        created();
        run();
        out_ += "</main><script>";
        out_ += kScript;
        out_ += "</script></body></html>\n";
        return std::move(out_);
    }

private:
    // What the report says the import returned: "true", "false", or
    // "error" when an error reached the host.
    std::string verdict() const {
        const json& result = at(r_, "result");
        if (result.is_boolean()) return result.get<bool>() ? "true" : "false";
        return "error";
    }

    void head() {
        const std::string v = verdict();
        std::string title = check_ ? "Vérification : l'import " : "Import ";
        if (v == "true")
            title += check_ ? "réussirait" : "réussi";
        else if (v == "false")
            title += check_ ? "échouerait" : "échoué";
        else
            title += "arrêté par une erreur";
        out_ += "<!DOCTYPE html>\n<html lang=\"fr\"><head><meta charset=\"utf-8\">";
        // Nothing from elsewhere: no request leaves the page, whatever a
        // name in the export holds.
        out_ += "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; style-src "
                "'unsafe-inline'; script-src '";
        out_ += kScriptHash;
        out_ += "'; img-src data:; base-uri 'none'; form-action 'none'\">";
        out_ += "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">";
        out_ += "<meta name=\"generator\" content=\"ondival " + esc(text_of(at(r_, "program_version"))) + "\">";
        out_ += "<title>" + title + " — Ondival</title><style>";
        out_ += kStyle;
        out_ += "</style></head>";
    }

    void outcome() {
        const std::string v = verdict();
        const char* cls = v == "true" ? "vrai" : v == "false" ? "faux" : "erreur";
        out_ += std::string("<section id=\"issue\" class=\"carte ") + cls + "\" data-result=\"" + v + "\">";
        out_ += "<p class=\"verdict\">";
        if (v == "true")
            out_ += check_ ? "Vrai : l'import réussirait." : "Vrai : l'import a réussi.";
        else if (v == "false")
            out_ += check_ ? "Faux : l'import échouerait." : "Faux : l'import a échoué.";
        else
            out_ += "Erreur : l'import a été arrêté.";
        out_ += "</p>";
        if (check_) out_ += "<p>Vérification seulement : la base de données est restée telle qu'elle était.</p>";
        out_ += "<dl class=\"faits\">";

        const json& error = at(r_, "error");
        if (error.is_object())
            out_ += "<dt>Erreur</dt><dd data-error=\"" + std::to_string(number_of(at(error, "number")).value_or(0)) +
                    "\">Erreur n° " + std::to_string(number_of(at(error, "number")).value_or(0)) + " : " +
                    esc(text_of(at(error, "text"))) + "</dd>";

        const json& competition = at(r_, "competition");
        const json& stop = at(r_, "stop");
        out_ += std::string("<dt>Compétition</dt><dd>");
        if (competition.is_object()) {
            out_ += std::string(check_ ? "serait créée : " : "créée : ") + "« " +
                    esc(text_of(at(competition, "name"))) + " » (n° " +
                    std::to_string(number_of(at(competition, "number")).value_or(0)) + ")";
        } else if (at(r_, "purged") == true) {
            out_ += check_ ? "aucune : les performances seraient retirées"
                           : "aucune : les performances ont été retirées";
            if (stop.is_object())
                out_ += ", car l'import s'est arrêté sur une ligne (ci-dessous).";
            else
                out_ += ", car la compétition n'a pas pu être créée (voir la trace).";
        } else if (v == "true") {
            out_ += "aucune : liffn.txt ne contenait aucune performance.";
        } else {
            out_ += "aucune.";
        }
        out_ += "</dd>";

        if (stop.is_object()) {
            const std::optional<long long> line = number_of(at(stop, "line"));
            out_ += "<dt>Arrêt</dt><dd id=\"arret\" data-file=\"" + esc(text_of(at(stop, "file"))) + "\"" +
                    (line ? " data-line=\"" + std::to_string(*line) + "\"" : std::string()) + ">" +
                    esc(text_of(at(stop, "file")));
            if (line) out_ += ", ligne " + number_text(*line);
            out_ += " : ";
            bool first = true;
            for (const std::string& l : lines_of(at(stop, "lines"))) {
                out_ += (first ? "" : "<br>") + esc(l);
                first = false;
            }
            if (const json* e = stop_entry(); e && at(*e, "text").is_string())
                out_ += "<div class=\"texte\">" + esc(text_of(at(*e, "text"))) + "</div>";
            out_ += "</dd>";
        }

        const json& added = at(r_, "added");
        out_ += std::string("<dt>") + (check_ ? "Ajouterait" : "Ajouts") + "</dt><dd>";
        if (!number_of(at(added, "clubs"))) {
            out_ += "inconnus : l'import ne s'est pas rendu au bout de ses fichiers.";
        } else {
            out_ += "<ul class=\"chiffres\">";
            const auto put = [&](const char* key, const char* one, const char* many) {
                const long long n = number_of(at(added, key)).value_or(0);
                out_ += std::string("<li data-added=\"") + key + "\"><b>" + number_text(n) + "</b> " +
                        (n >= 2 ? many : one) + "</li>";
            };
            put("clubs", "club", "clubs");
            put("licences", "licence", "licences");
            put("swimmers", "nageur créé", "nageurs créés");
            put("performances", "performance", "performances");
            out_ += "</ul>";
        }
        out_ += "</dd>";

        long long errors = 0, warnings = 0;
        for (const json& e : items(at(r_, "entries"))) ++(text_of(at(e, "kind")) == "Warning" ? warnings : errors);
        out_ += "<dt>Lignes signalées</dt><dd>";
        if (errors + warnings == 0)
            out_ += "aucune.";
        else
            out_ += "<a href=\"#lignes\">" + counted(errors, "erreur", "erreurs") + ", " +
                    counted(warnings, "avertissement", "avertissements") + "</a>";
        out_ += "</dd></dl></section>";
    }

    // The located entry the import stopped on, for its line's text.
    const json* stop_entry() const {
        const json& stop = at(r_, "stop");
        const std::optional<long long> line = number_of(at(stop, "line"));
        if (!line) return nullptr;
        const json* found = nullptr;
        for (const json& e : items(at(r_, "entries")))
            if (text_of(at(e, "file")) == text_of(at(stop, "file")) && number_of(at(e, "line")) == line &&
                text_of(at(e, "kind")) == "Erreur")
                found = &e;
        return found;
    }

    void files() {
        out_ += "<h2>Fichiers de l'export</h2><div class=\"fichiers\">";
        const json& stop = at(r_, "stop");
        const bool purged = at(r_, "purged") == true;
        // In the order the import takes them, whatever order it looked for
        // them in.
        std::vector<const json*> ordered;
        for (const json& f : items(at(r_, "source_files"))) ordered.push_back(&f);
        const auto rank = [](const json* f) {
            const std::string name = text_of(at(*f, "name"));
            return name == "club.txt" ? 0 : name == "licence.txt" ? 1 : name == "liffn.txt" ? 2 : 3;
        };
        std::stable_sort(ordered.begin(), ordered.end(),
                         [&](const json* a, const json* b) { return rank(a) < rank(b); });
        for (const json* file : ordered) {
            const json& f = *file;
            const std::string name = text_of(at(f, "name"));
            const std::optional<long long> lines = number_of(at(f, "lines"));
            out_ += "<section class=\"carte fichier\" data-file=\"" + esc(name) + "\"" +
                    (lines ? " data-lines=\"" + std::to_string(*lines) + "\"" : std::string()) + "><h3>" + esc(name) +
                    "</h3>";
            if (at(f, "found") != true) {
                out_ += "<p>Absent de l'export.</p></section>";
                continue;
            }
            out_ += "<p>" + counted(lines.value_or(0), "ligne lue", "lignes lues") + ".</p>";
            if (at(f, "short_lines") == true)
                out_ += "<p>La première ligne est plus courte qu'un enregistrement (" +
                        number_text(number_of(at(f, "first_line_length")).value_or(0)) + " caractères au lieu de " +
                        number_text(number_of(at(f, "record_length")).value_or(0)) + ").</p>";
            const json* import = nullptr;
            for (const json& i : items(at(r_, "imports")))
                if (text_of(at(i, "file")) == name) import = &i;
            if (!import) {
                if (name != "origine.txt") out_ += "<p class=\"discret\">Pas importé.</p>";
                out_ += "</section>";
                continue;
            }
            const json& counts = at(*import, "counts");
            if (items(counts).empty()) {
                out_ += "<p><b>Import arrêté avant son bilan.</b></p>";
            } else {
                out_ += "<ul class=\"compte\">";
                for (const json& c : items(counts))
                    out_ += "<li data-count=\"" + std::to_string(number_of(at(c, "count")).value_or(0)) + "\">" +
                            esc(text_of(at(c, "text"))) + "</li>";
                out_ += "</ul>";
            }
            std::optional<long long> stop_line;
            if (text_of(at(stop, "file")) == name) stop_line = number_of(at(stop, "line"));
            put_chart(out_, segments(name, *import, lines.value_or(0), purged, stop_line));
            out_ += "</section>";
        }
        out_ += "</div>";
    }

    static void entry_row(std::string& out, const json& e) {
        const std::string file = text_of(at(e, "file"));
        const long long line = number_of(at(e, "line")).value_or(0);
        out += "<tr data-file=\"" + esc(file) + "\" data-line=\"" + std::to_string(line) + "\"><td class=\"num\">" +
               (file.empty() ? std::string() : esc(file) + ", ") + "ligne " + number_text(line) + "</td><td>";
        bool first = true;
        for (const std::string& l : lines_of(at(e, "lines"))) {
            out += (first ? "" : "<br>") + esc(l);
            first = false;
        }
        if (at(e, "text").is_string()) {
            out += "<div class=\"texte\">" + esc(text_of(at(e, "text")));
            if (at(e, "text_cut") == true) out += "<span class=\"discret\"> […]</span>";
            out += "</div>";
        }
        out += "</td></tr>";
    }

    // A table of rows, the first kRowsShown shown and the rest folded.
    template <typename Rows>
    void folded_table(const std::string& head, std::size_t count, Rows&& row, const char* rest) {
        const auto table = [&](std::size_t from, std::size_t to) {
            out_ += "<table><thead>" + head + "</thead><tbody>";
            for (std::size_t i = from; i < to; ++i) row(out_, i);
            out_ += "</tbody></table>";
        };
        table(0, std::min(count, kRowsShown));
        if (count > kRowsShown) {
            out_ += "<details><summary>" + counted(static_cast<long long>(count - kRowsShown), "autre", "autres") +
                    " " + rest + "</summary>";
            table(kRowsShown, count);
            out_ += "</details>";
        }
    }

    void entries() {
        out_ += "<h2 id=\"lignes\">Lignes refusées et avertissements</h2>";
        const std::vector<Group> groups = groups_of(at(r_, "entries"));
        if (groups.empty()) out_ += "<p>Aucune ligne n'a été refusée ni signalée.</p>";
        // Several kinds of message: first the list of them, each leading to
        // its lines, so that one long group does not hide the next.
        if (groups.size() > 1) {
            out_ += "<section class=\"carte\"><table class=\"sommaire\"><thead><tr><th>Genre</th><th>Message</th>"
                    "<th>Lignes</th></tr></thead><tbody>";
            for (std::size_t i = 0; i < groups.size(); ++i)
                out_ += std::string("<tr><td>") + (groups[i].kind == "Warning" ? "Avertissement" : "Erreur") +
                        "</td><td><a href=\"#groupe-" + std::to_string(i + 1) + "\">" + esc(groups[i].title) +
                        "</a></td><td class=\"num\">" + number_text(static_cast<long long>(groups[i].entries.size())) +
                        "</td></tr>";
            out_ += "</tbody></table></section>";
        }
        for (std::size_t i = 0; i < groups.size(); ++i) {
            const Group& g = groups[i];
            const bool warning = g.kind == "Warning";
            out_ += "<section id=\"groupe-" + std::to_string(i + 1) + "\" class=\"carte groupe" +
                    (warning ? " avertissement" : "") + "\" data-kind=\"" + g.kind + "\" data-count=\"" +
                    std::to_string(g.entries.size()) + "\"><h3><span class=\"genre\">" +
                    (warning ? "Avertissement" : "Erreur") + "</span>" + esc(g.title) + "<span class=\"nombre\">" +
                    counted(static_cast<long long>(g.entries.size()), "ligne", "lignes") + "</span></h3>";
            folded_table(
                "<tr><th>Où</th><th>Message et texte de la ligne</th></tr>", g.entries.size(),
                [&](std::string& out, std::size_t i) { entry_row(out, *g.entries[i]); }, "lignes de ce groupe");
            out_ += "</section>";
        }
        const json& messages = at(r_, "messages");
        if (!items(messages).empty()) {
            out_ += "<section class=\"carte\" id=\"messages\"><h3>Erreurs sans numéro de ligne</h3><ul>";
            for (const json& m : items(messages)) {
                out_ += "<li>";
                if (const std::string file = text_of(at(m, "file")); !file.empty()) out_ += esc(file) + " : ";
                bool first = true;
                for (const std::string& l : lines_of(at(m, "lines"))) {
                    out_ += (first ? "" : "<br>") + esc(l);
                    first = false;
                }
                out_ += "</li>";
            }
            out_ += "</ul></section>";
        }
    }

    void created() {
        const json& created = at(r_, "created");
        if (!created.is_object()) return;
        out_ += std::string("<h2>") + (check_ ? "Clubs et nageurs qui seraient créés" : "Clubs et nageurs créés") +
                "</h2>";
        const json& clubs = items(at(created, "clubs"));
        out_ += "<section class=\"carte\" id=\"clubs-crees\" data-count=\"" + std::to_string(clubs.size()) + "\"><h3>" +
                counted(static_cast<long long>(clubs.size()), "club", "clubs") + "</h3>";
        if (!clubs.empty()) {
            out_ += "<p class=\"discret\">« Null » : un club que seules une licence ou une performance nomment, "
                    "créé sans libellé.</p>";
            folded_table(
                "<tr><th>Code</th><th>Libellé</th></tr>", clubs.size(),
                [&](std::string& out, std::size_t i) {
                    out += "<tr class=\"club\"><td class=\"num\">" + esc(text_of(at(clubs[i], "code"))) + "</td><td>" +
                           esc(text_of(at(clubs[i], "label"))) + "</td></tr>";
                },
                "clubs");
        }
        out_ += "</section>";
        const json& swimmers = items(at(created, "swimmers"));
        out_ += "<section class=\"carte\" id=\"nageurs-crees\" data-count=\"" + std::to_string(swimmers.size()) +
                "\"><h3>" + counted(static_cast<long long>(swimmers.size()), "nageur", "nageurs") + "</h3>";
        if (!swimmers.empty()) {
            out_ += "<p class=\"discret\">Des nageurs que nomment des performances et que la base ne "
                    "connaissait pas : à comparer avec les licences du club.</p>";
            folded_table(
                "<tr><th>Club</th><th>Licence</th><th>Nom</th><th>Prénom</th><th>Naissance</th></tr>", swimmers.size(),
                [&](std::string& out, std::size_t i) {
                    const json& s = swimmers[i];
                    out += "<tr class=\"nageur\"><td class=\"num\">" + esc(text_of(at(s, "club"))) +
                           "</td><td class=\"num\">" + esc(text_of(at(s, "licence"))) + "</td><td>" +
                           esc(text_of(at(s, "name"))) + "</td><td>" + esc(text_of(at(s, "first_name"))) +
                           "</td><td class=\"num\">" + birth_date(text_of(at(s, "birth"))) + "</td></tr>";
                },
                "nageurs");
        }
        out_ += "</section>";
    }

    void run() {
        out_ += "<h2>Exécution</h2><section class=\"carte\" id=\"execution\"><dl class=\"faits\">";
        const auto fact = [&](const char* name, const std::string& html) {
            out_ += std::string("<dt>") + name + "</dt><dd>" + html + "</dd>";
        };
        fact("Mode", check_ ? "vérification (rien n'est gardé)" : "import");
        fact("Base de données", esc(text_of(at(r_, "database"))));
        fact("Répertoire source", esc(text_of(at(r_, "source_dir"))));
        fact("Trace", esc(text_of(at(r_, "trace"))));
        fact("Début", when(text_of(at(r_, "started"))));
        fact("Fin", when(text_of(at(r_, "ended"))));
        if (const std::string d = duration(text_of(at(r_, "started")), text_of(at(r_, "ended"))); !d.empty())
            fact("Durée", d);
        const std::string version = text_of(at(r_, "program_version"));
        fact("Programme", version.empty() ? std::string("ondival (version non indiquée)") : "ondival " + esc(version));
        if (const json& objects = at(r_, "line_by_line"); !items(objects).empty()) {
            std::string list;
            for (const std::string& o : lines_of(objects)) list += (list.empty() ? "" : ", ") + esc(o);
            fact("Une requête à la fois", "à cause de : " + list);
        }
        out_ += "</dl></section>";
    }

    const json& r_;
    const bool check_;
    std::string out_;
};

}  // namespace

std::string report_html_from_json(std::string_view report_json) {
    using platform::err::kInvalidCall;
    json report = json::parse(report_json, nullptr, false);
    if (report.is_discarded())
        platform::raise(kInvalidCall, "Le rapport n'est pas du JSON valide."_w, platform::ErrorKind::kBadData);
    if (!report.is_object() || at(report, "format") != "ondival-report")
        platform::raise(kInvalidCall, "Le fichier n'est pas un rapport d'import d'Ondival."_w,
                        platform::ErrorKind::kBadData);
    return Page(report).render();
}

std::string report_to_html(const Report& report) { return report_html_from_json(report_to_json(report)); }

}  // namespace ondival
