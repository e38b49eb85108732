#include "samples/sample_export.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <span>
#include <string_view>
#include <system_error>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "clubs/club_record.h"
#include "common/dos_letters.h"
#include "common/record_layout.h"
#include "host/reference_data.h"
#include "licences/licence_record.h"
#include "perfs/perf_record.h"

namespace ondival::samples {
using namespace ondival::host;  // the reference data the sample exports draw from
namespace {

// ---------------------------------------------------------------------------
// Randomness and the calendar
// ---------------------------------------------------------------------------

// splitmix64. The <random> distributions may give other numbers on another
// standard library, and a seed must name the same export everywhere: the
// benchmarks and the tests compare runs across machines.
class Rng {
public:
    explicit Rng(std::uint64_t seed) : state_(seed) {}

    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }

    // Uniform in [0, n), n > 0. Multiply-shift keeps it one draw a number.
    std::size_t below(std::size_t n) {
        return static_cast<std::size_t>((static_cast<unsigned __int128>(next()) * n) >> 64);
    }

    int between(int lo, int hi) { return lo + static_cast<int>(below(static_cast<std::size_t>(hi - lo + 1))); }

    bool chance(double p) { return static_cast<double>(next() >> 11) * 0x1.0p-53 < p; }

    template <class T>
    const T& pick(const std::vector<T>& items) {
        return items[below(items.size())];
    }

private:
    std::uint64_t state_;
};

struct Date {
    int year, month, day;
};

// Days since 1970-01-01 and back (proleptic Gregorian), so that a date can
// be drawn uniformly from a range and still be a real calendar day: the
// import refuses 31 February in a performance date.
int day_number(Date d) {
    const int y = d.year - (d.month <= 2);
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int yoe = y - era * 400;
    const int doy = (153 * (d.month + (d.month > 2 ? -3 : 9)) + 2) / 5 + d.day - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

Date from_day_number(int z) {
    z += 719468;
    const int era = (z >= 0 ? z : z - 146096) / 146097;
    const int doe = z - era * 146097;
    const int yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int mp = (5 * doy + 2) / 153;
    const int day = doy - (153 * mp + 2) / 5 + 1;
    const int month = mp < 10 ? mp + 3 : mp - 9;
    return {yoe + era * 400 + (month <= 2), month, day};
}

// The export is dated against a fixed day, not the clock, so that a seed
// gives the same files every day of the year.
constexpr Date kLastDay{2026, 11, 30};
constexpr Date kFirstPerformanceDay{2024, 1, 1};
constexpr Date kFirstDepositDay{2025, 1, 1};
// Born no later than 2016 and swimming from 2024 on: always at least one
// year old at the performance, which the import requires.
constexpr int kFirstBirthYear = 1960;
constexpr int kLastBirthYear = 2016;

Date random_date(Rng& rng, Date from, Date to) {
    return from_day_number(rng.between(day_number(from), day_number(to)));
}

void append_digits(std::string& out, int value, int width) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%0*d", width, value);
    out += buffer;
}

std::string digits(int value, int width) {
    std::string out;
    append_digits(out, value, width);
    return out;
}

// The federation writes dates day first, eight digits.
std::string ddmmyyyy(Date d) {
    std::string out;
    append_digits(out, d.day, 2);
    append_digits(out, d.month, 2);
    append_digits(out, d.year, 4);
    return out;
}

// ---------------------------------------------------------------------------
// Words
// ---------------------------------------------------------------------------

// The word lists are written here in UTF-8; the federation writes the
// accented small letters of names and places as DOS bytes, the very ones
// the import turns back into letters. Only those letters occur in the
// lists; anything else would come out as '?'.
std::string to_dos(std::string_view utf8) {
    std::string out;
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
            continue;
        }
        char dos = '?';
        if (c == 0xC3 && i + 1 < utf8.size()) {
            // C3 xx is the Windows-1252 letter xx + 0x40.
            const auto letter = static_cast<unsigned char>(static_cast<unsigned char>(utf8[++i]) + 0x40);
            for (auto [from, to] : kDosLetters)
                if (to == letter) dos = static_cast<char>(from);
        }
        out.push_back(dos);
    }
    return out;
}

// Family names in plain capitals: the import stores them so, and a second
// import of the same file must find the very same names.
constexpr const char* kSurnames[] = {
    "MARTIN",  "BERNARD",  "DUBOIS",   "THOMAS",    "ROBERT",  "RICHARD",   "PETIT",          "DURAND",   "LEROY",
    "MOREAU",  "SIMON",    "LAURENT",  "LEFEBVRE",  "MICHEL",  "GARCIA",    "DAVID",          "BERTRAND", "ROUX",
    "VINCENT", "FOURNIER", "MOREL",    "GIRARD",    "ANDRE",   "LEFEVRE",   "MERCIER",        "DUPONT",   "LAMBERT",
    "BONNET",  "FRANCOIS", "MARTINEZ", "LEGRAND",   "GARNIER", "FAURE",     "ROUSSEAU",       "BLANC",    "GUERIN",
    "MULLER",  "HENRY",    "ROUSSEL",  "NICOLAS",   "PERRIN",  "MORIN",     "MATHIEU",        "CLEMENT",  "GAUTHIER",
    "DUMONT",  "LOPEZ",    "FONTAINE", "CHEVALIER", "ROBIN",   "MASSON",    "SANCHEZ",        "GERARD",   "NGUYEN",
    "BOYER",   "DENIS",    "LE GALL",  "LE BRIS",   "N'DIAYE", "D'ALMEIDA", "DE LA FONTAINE", "KERGOAT",
};

// First names stay at most 15 characters: the performance file has room for
// no more.
constexpr const char* kFemaleNames[] = {
    "Françoise", "Hélène",   "Zoé",      "Chloé",  "Anaïs",    "Léa",      "Amélie", "Cécile", "Céline",  "Mélanie",
    "Océane",    "Inès",     "Agnès",    "Maëlle", "Béatrice", "Noémie",   "Gaëlle", "Marie",  "Camille", "Emma",
    "Louise",    "Manon",    "Sarah",    "Julie",  "Laura",    "Pauline",  "Sophie", "Claire", "Lucie",   "Jeanne",
    "Brigitte",  "Isabelle", "Nathalie", "Anne",   "Ophélie",  "Clémence", "Joëlle", "Mégane", "Héloïse",
};

constexpr const char* kMaleNames[] = {
    "Jérôme",   "François",  "Noël",     "Joël",   "Gaël",    "Loïc",    "Benoît", "Jérémy", "Clément", "Sébastien",
    "Stéphane", "Frédéric",  "Aurélien", "Théo",   "Raphaël", "Hervé",   "René",   "André",  "Mathéo",  "Léo",
    "Jean",     "Pierre",    "Nicolas",  "Thomas", "Lucas",   "Hugo",    "Louis",  "Paul",   "Antoine", "Maxime",
    "Julien",   "Alexandre", "Quentin",  "Arthur", "Gabriel", "Yannick", "Cédric", "Valéry", "Anaël",   "Jean-Noël",
};

// Places of competitions (20 characters at most) and localities of
// addresses; some carry an apostrophe, which every statement must double.
constexpr const char* kPlaces[] = {
    "L'HAY-LES-ROSES", "Besançon",  "Sète",       "Orléans",   "Montluçon",   "Châlons",      "Alençon",
    "Mâcon",           "Nîmes",     "Béziers",    "Fréjus",    "Vénissieux",  "L'Isle-Adam",  "Vitré",
    "Saint-Brieuc",    "Dunkerque", "Rennes",     "Nantes",    "Lyon",        "Marseille",    "Toulouse",
    "Bordeaux",        "Lille",     "Strasbourg", "Angoulême", "Châteauroux", "L'ORME BLANC", "Pontoise",
    "Créteil",         "Mérignac",  "Lézignan",   "Hyères",    "Gérardmer",   "Lunéville",
};

constexpr const char* kStreets[] = {
    "rue de la Paix",    "allée des Tilleuls", "avenue Jean Jaurès",     "place du Marché",
    "rue Pasteur",       "boulevard Gambetta", "chemin des Prés",        "rue de l'Hôtel de Ville",
    "impasse des Lilas", "rue Victor Hugo",    "quai de la Loire",       "route de Mâcon",
    "rue du Château",    "avenue de la Gare",  "rue des Frères Lumière", "square de la Forêt",
};

constexpr const char* kAddressExtras[] = {"Bâtiment B", "Appartement 12", "Résidence les Pins", "Escalier 3",
                                          "Lieu-dit la Croix"};

// Free text of the performance file: the name of the competition.
constexpr const char* kMeetNames[] = {
    "Meeting d'hiver",    "Championnats régionaux", "Interclubs départementaux",    "Coupe de France des clubs",
    "Meeting national",   "Championnats de France", "Trophée des Maîtres",          "Natathlon",
    "Meeting de l'Avent", "Critérium d'été",        "Championnats inter-régionaux",
};

// Club labels: plain capitals, at most 30 characters, a few with an
// apostrophe because the club save must double it.
constexpr const char* kClubPrefixes[] = {
    "CN",      "AS",       "US",          "SN",        "STADE NAUTIQUE", "CERCLE DES NAGEURS",
    "ENTENTE", "DAUPHINS", "NAUTIC CLUB", "OLYMPIQUE", "AQUA CLUB",
};
constexpr const char* kClubTowns[] = {
    "PARIS",        "L'ISLE",     "L'HAY-LES-ROSES", "RENNES", "NANTES", "LYON",     "MARSEILLE",
    "TOULOUSE",     "BORDEAUX",   "LILLE",           "NICE",   "ANGERS", "D'ANGERS", "DIJON",
    "BREST",        "SAINT-MALO", "LIMOGES",         "METZ",   "AMIENS", "TOURS",    "PAU",
    "L'ORME BLANC", "CHARTRES",   "AJACCIO",
};
constexpr const char* kClubNames[] = {"C'EST NOUS", "ENTENTE L'ISLE", "LES MOUETTES", "NAGEURS DE L'OUEST",
                                      "L'EAU VIVE"};

struct Words {
    std::vector<std::string> surnames, female, male, places, streets, extras, meets;
};

std::vector<std::string> dos_list(std::span<const char* const> items) {
    std::vector<std::string> out;
    for (const char* item : items) out.push_back(to_dos(item));
    return out;
}

const Words& words() {
    static const Words w{
        dos_list(kSurnames), dos_list(kFemaleNames),   dos_list(kMaleNames), dos_list(kPlaces),
        dos_list(kStreets),  dos_list(kAddressExtras), dos_list(kMeetNames),
    };
    return w;
}

template <class T, std::size_t N>
const T& pick(Rng& rng, const T (&items)[N]) {
    return items[rng.below(N)];
}

// ---------------------------------------------------------------------------
// Records
// ---------------------------------------------------------------------------

// One fixed-width record being filled, in the layout the import cuts it
// with. Every field starts blank and a text longer than its field is cut,
// so a line always has its record length and every column stays where the
// import looks for it.
class FixedLine {
public:
    template <std::size_t N>
    explicit FixedLine(const RecordLayout<N>& layout) : widths_(layout.widths), length_(layout.length()) {
        for (std::size_t field = 0; field < N; ++field) starts_.push_back(layout.first(field) - 1);
    }

    void clear() { text_.assign(length_, ' '); }
    void set(std::size_t field, std::string_view value) {
        const std::size_t width = widths_[field];
        text_.replace(start(field), std::min(width, value.size()), value.substr(0, width));
    }
    void set(std::size_t field, char value) { text_[start(field)] = value; }

    std::size_t start(std::size_t field) const { return starts_[field]; }
    std::size_t width(std::size_t field) const { return widths_[field]; }
    std::string& text() { return text_; }

private:
    std::span<const std::size_t> widths_;
    std::vector<std::size_t> starts_;  // from 0
    std::size_t length_;
    std::string text_;
};

// ---------------------------------------------------------------------------
// Damage
// ---------------------------------------------------------------------------

enum class Fault { Truncate, BadPool, BadDate, Quote, StrayByte, UnknownStroke, UnknownCountry };

enum class ExportFile { Clubs, Licences, Performances };

// A stroke code the reference table does not hold: the first free number.
std::string unknown_stroke_code() {
    for (int code = 1; code < 100; ++code) {
        bool used = false;
        for (const Stroke& s : strokes()) used = used || s.code == code;
        if (!used) return digits(code, 2);
    }
    return "00";
}

// Damages one rendered line the way exports get damaged in the field: a
// copy cut short, a hand-edited pool length or date, a stray quote that
// breaks a statement, bytes no code page defines, codes the host database
// does not know. The draws come from their own stream so that the clean
// lines stay those of the undamaged export.
void damage(std::string& line, ExportFile file, const FixedLine& layout, Rng& rng) {
    static const std::vector<Fault> kClubFaults = {Fault::Truncate, Fault::Quote, Fault::StrayByte,
                                                   Fault::UnknownCountry};
    static const std::vector<Fault> kLicenceFaults = {Fault::Truncate, Fault::BadDate, Fault::Quote, Fault::StrayByte,
                                                      Fault::UnknownCountry};
    static const std::vector<Fault> kLiffnFaults = {Fault::Truncate, Fault::BadPool,   Fault::BadDate,
                                                    Fault::Quote,    Fault::StrayByte, Fault::UnknownStroke};
    static const std::string kUnknownStroke = unknown_stroke_code();
    static constexpr unsigned char kStrayBytes[] = {0x81, 0x8D, 0x8F, 0x90, 0x9D};

    const std::vector<Fault>& faults = file == ExportFile::Clubs      ? kClubFaults
                                       : file == ExportFile::Licences ? kLicenceFaults
                                                                      : kLiffnFaults;
    // The fields of the club code, the names and the date, per file (a
    // club line has no date and is never given a bad one).
    std::size_t code_field = kPerfCodeClub, name_field = kPerfNom, date_field = kPerfDate;
    if (file == ExportFile::Clubs) {
        code_field = kClubCode;
        name_field = kClubIntitule;
    } else if (file == ExportFile::Licences) {
        code_field = kLicCodeClub;
        name_field = kLicNom;
        date_field = kLicNaissance;
    }

    auto inside = [&](std::size_t field) { return layout.start(field) + rng.below(layout.width(field)); };
    switch (rng.pick(faults)) {
        case Fault::Truncate:
            line.resize(rng.below(line.size()));
            break;
        case Fault::BadPool:
            line.replace(layout.start(kPerfBassin), layout.width(kPerfBassin), "33");
            break;
        case Fault::BadDate:
            line.replace(layout.start(date_field), layout.width(date_field), "32132025");
            break;
        case Fault::Quote:
            // Half the time in the club code, where it breaks the look-up,
            // else in a name, where the statements must double it.
            line[inside(rng.chance(0.5) ? code_field : name_field)] = '\'';
            break;
        case Fault::StrayByte:
            line[inside(name_field)] = static_cast<char>(kStrayBytes[rng.below(std::size(kStrayBytes))]);
            break;
        case Fault::UnknownStroke:
            line.replace(layout.start(kPerfNage), layout.width(kPerfNage), kUnknownStroke);
            break;
        case Fault::UnknownCountry:
            line.replace(layout.start(code_field), 3, "ZZZ");
            break;
    }
}

// ---------------------------------------------------------------------------
// The export
// ---------------------------------------------------------------------------

enum class ClubKind {
    Listed,     // in club.txt
    Unlisted,   // named by licences or performances only: created with the label "Null"
    Selection,  // a team formed by a federation body; its code ends in "0000"
};

struct Club {
    std::string code;
    std::string label;
    ClubKind kind;
};

struct Swimmer {
    int club;
    std::string licence;
    std::string surname, first_name;  // DOS bytes
    char sex;
    Date birth;
    Date deposit, obliteration;
    char licence_type;
    bool in_licence_file;  // has an ordinary record in licence.txt
};

struct LicenceEntry {
    enum Kind { Ordinary, Selection, Relay } kind;
    int club;
    std::string licence;
    int swimmer;  // the swimmer, or for a selection record the member it points back to
};

struct Meet {
    Date date;
    int pool;
    int place;
    int name;
};

struct Performance {
    int club;
    int swimmer;  // -1 for a relay line
    int stroke;   // index into strokes()
    int meet;
    int time;   // hundredths of a second
    int relay;  // index into relays_, or -1
};

struct RelayTeam {
    std::string number;           // "R" + 5 digits
    std::array<int, 10> members;  // swimmer indices, -1 for an empty slot
};

class Generator {
public:
    explicit Generator(const SampleExportOptions& options)
        : options_(options), rng_(options.seed), fault_rng_(options.seed ^ 0xD1B54A32D192ED03ull) {
        for (const Region& r : regions()) inter_of_region_[r.code] = r.inter_region;
        for (std::size_t i = 0; i < strokes().size(); ++i) {
            const Stroke& s = strokes()[i];
            distance_.push_back(stroke_distance(s.label));
            if (s.relay)
                relay_strokes_.push_back(static_cast<int>(i));
            else if (s.sex[0] == 'F')
                individual_strokes_[0].push_back(static_cast<int>(i));
            else if (s.sex[0] == 'M')
                individual_strokes_[1].push_back(static_cast<int>(i));
        }
    }

    // Builds the four files in memory; "" on success.
    std::string build() {
        make_clubs();
        if (std::string error = make_licences(); !error.empty()) return error;
        if (std::string error = make_performances(); !error.empty()) return error;
        render_clubs();
        render_licences();
        render_performances();
        origine_ = "Ondival generateur d'exemples 1.0\r\n";
        return "";
    }

    const std::string& clubs_file() const { return clubs_text_; }
    const std::string& licences_file() const { return licences_text_; }
    const std::string& performances_file() const { return liffn_text_; }
    const std::string& origine_file() const { return origine_; }

private:
    // "50 NL Dames" swims 50 m, "4x100 4N Mixte" 400 m.
    static int stroke_distance(std::string_view label) {
        int first = 0, i = 0;
        while (i < static_cast<int>(label.size()) && label[i] >= '0' && label[i] <= '9')
            first = first * 10 + (label[i++] - '0');
        if (i < static_cast<int>(label.size()) && label[i] == 'x') {
            int second = 0;
            ++i;
            while (i < static_cast<int>(label.size()) && label[i] >= '0' && label[i] <= '9')
                second = second * 10 + (label[i++] - '0');
            return first * second;
        }
        return first > 0 ? first : 100;
    }

    // --- Clubs -------------------------------------------------------------

    // A French code names a department, its region and the region's
    // inter-region, so that the geographic check of the import accepts it;
    // a foreign code carries inter-region 0 and free digits.
    std::string club_code() {
        for (;;) {
            std::string code;
            if (rng_.chance(0.08)) {
                const Country* country;
                do country = &countries()[rng_.below(countries().size())];
                while (std::string_view(country->code) == "FRA");
                code = std::string(country->code) + "0" + digits(rng_.between(0, 99999), 5);
            } else {
                const Department& d = departments()[rng_.below(departments().size())];
                code = "FRA" + std::to_string(inter_of_region_.at(d.region)) + d.region + d.code;
            }
            // "0000" would make it a selection code.
            code += digits(rng_.between(1, 9999), 4);
            if (codes_.insert(code).second) return code;
        }
    }

    // Selections stand at national, regional or departmental level; all
    // end in "0000".
    std::string selection_code() {
        for (int attempt = 0;; ++attempt) {
            std::string code;
            const auto level = attempt > 50 ? 2 : rng_.below(3);
            const Department& d = departments()[rng_.below(departments().size())];
            const std::string inter = std::to_string(inter_of_region_.at(d.region));
            if (level == 0)
                code = "FRA000000";
            else if (level == 1)
                code = "FRA" + inter + d.region + "000";
            else
                code = "FRA" + inter + d.region + d.code;
            code += "0000";
            if (codes_.insert(code).second) return code;
        }
    }

    std::string club_label() {
        std::string label;
        if (rng_.chance(0.15))
            label = pick(rng_, kClubNames);
        else
            label = std::string(pick(rng_, kClubPrefixes)) + " " + pick(rng_, kClubTowns);
        if (label.size() > 30) label.resize(30);
        return label;
    }

    void make_clubs() {
        for (int i = 0; i < options_.clubs; ++i) clubs_.push_back({club_code(), club_label(), ClubKind::Listed});
        // Real exports name clubs that the club list of the same export
        // lacks; a tenth more such clubs, at least one, so that the licence
        // and performance imports create clubs too.
        const int unlisted = 1 + options_.clubs / 10;
        for (int i = 0; i < unlisted; ++i) {
            const int index = static_cast<int>(clubs_.size());
            clubs_.push_back({club_code(), "", ClubKind::Unlisted});
            // The first half serves licences and performances, the rest
            // only the performances of swimmers the licence file lacks.
            if (i <= (unlisted - 1) / 2) licence_unlisted_.push_back(index);
            performance_unlisted_.push_back(index);
        }
        for (int i = 0; i < options_.clubs; ++i) listed_.push_back(i);
    }

    int club_for_licence() {
        if (listed_.empty() || rng_.chance(0.03)) return rng_.pick(licence_unlisted_);
        return rng_.pick(listed_);
    }

    int club_for_unknown_swimmer() {
        if (listed_.empty() || rng_.chance(0.10)) return rng_.pick(performance_unlisted_);
        return rng_.pick(listed_);
    }

    // --- Licence numbers -----------------------------------------------------

    // A licence number opens with the last two digits of the birth year; the
    // four digits after them need only be unique within the club. Returns
    // false when the club has no number left for that year (or for any year
    // when year is 0, in which case the year is chosen here).
    bool allocate_licence(int club, int& year, std::string& licence) {
        const bool any_year = year == 0;
        auto take = [&](int y, int n) {
            const std::uint64_t key = (static_cast<std::uint64_t>(club) << 24) |
                                      static_cast<std::uint64_t>((y % 100) * 10000 + n);
            if (!licence_numbers_.insert(key).second) return false;
            year = y;
            licence = digits(y % 100, 2) + digits(n, 4);
            return true;
        };
        for (int attempt = 0; attempt < 32; ++attempt) {
            const int y = any_year ? rng_.between(kFirstBirthYear, kLastBirthYear) : year;
            if (take(y, rng_.between(1, 9999))) return true;
        }
        // A crowded club: take the first free number rather than guess on.
        // Numbers are never given back, so the scan resumes where the last
        // one stopped.
        const int first_year = any_year ? kFirstBirthYear : year;
        const int years = any_year ? kLastBirthYear - kFirstBirthYear + 1 : 1;
        const std::uint64_t cursor_key = (static_cast<std::uint64_t>(club) << 16) | (any_year ? 0xFFFF : year);
        int& cursor = scan_cursor_[cursor_key];
        for (; cursor < years * 9999; ++cursor)
            if (take(first_year + cursor / 9999, 1 + cursor % 9999)) return true;
        return false;
    }

    bool new_swimmer(int club, bool in_licence_file, Swimmer& out) {
        int year = 0;
        std::string licence;
        if (!allocate_licence(club, year, licence)) return false;
        const Words& w = words();
        out.club = club;
        out.licence = std::move(licence);
        out.sex = rng_.chance(0.5) ? 'F' : 'M';
        out.surname = rng_.pick(w.surnames);
        if (rng_.chance(0.08)) {
            std::string second = rng_.pick(w.surnames);
            if (out.surname.size() + 1 + second.size() <= 25 && second != out.surname) out.surname += "-" + second;
        }
        out.first_name = rng_.pick(out.sex == 'F' ? w.female : w.male);
        out.birth = random_date(rng_, {year, 1, 1}, {year, 12, 31});
        out.deposit = random_date(rng_, kFirstDepositDay, kLastDay);
        out.obliteration =
            from_day_number(std::min(day_number(out.deposit) + rng_.between(0, 30), day_number(kLastDay)));
        out.licence_type = rng_.chance(0.85) ? 'N' : 'T';
        out.in_licence_file = in_licence_file;
        return true;
    }

    // --- Licences ------------------------------------------------------------

    std::string make_licences() {
        const int total = options_.licences;
        const int relay_records = total / 100;
        const int selection_records = total / 20;
        const int ordinary = total - relay_records - selection_records;

        for (int i = 0; i < ordinary; ++i) {
            Swimmer s;
            if (!new_swimmer(club_for_licence(), true, s))
                return "Trop de licences pour " + std::to_string(clubs_.size()) +
                       " clubs : un club n'a plus de numéro de licence libre.";
            records_.push_back({LicenceEntry::Ordinary, s.club, s.licence, static_cast<int>(swimmers_.size())});
            swimmers_.push_back(std::move(s));
        }
        licensed_ = static_cast<int>(swimmers_.size());

        // A selection record is a swimmer's licence filed again under the
        // selection's code, with a number of its own, and pointing back at
        // the swimmer's club and licence. Each points at a different swimmer
        // and each selection number is used once: a selection pair met twice
        // stops the licence import.
        if (selection_records > 0) {
            const int codes = std::clamp(1 + selection_records / 25, 1, 12);
            std::vector<int> selections;
            for (int i = 0; i < codes; ++i) {
                selections.push_back(static_cast<int>(clubs_.size()));
                clubs_.push_back({selection_code(), "", ClubKind::Selection});
            }
            std::vector<int> members(static_cast<std::size_t>(licensed_));
            for (int i = 0; i < licensed_; ++i) members[i] = i;
            for (int i = 0; i < selection_records; ++i) {
                std::swap(members[i], members[i + rng_.below(members.size() - i)]);
                const Swimmer& member = swimmers_[members[i]];
                // The selection number keeps the member's birth year.
                int year = member.birth.year;
                std::string licence;
                const int selection = rng_.pick(selections);
                if (!allocate_licence(selection, year, licence))
                    return "Trop de membres de sélection nés la même année.";
                records_.push_back({LicenceEntry::Selection, selection, licence, members[i]});
            }
        }

        // Relay licences: the federation lists the relay teams among the
        // licences; the import sets them aside.
        for (int i = 0; i < relay_records; ++i) {
            const int club = club_for_licence();
            records_.push_back({LicenceEntry::Relay, club, relay_number(club), -1});
        }

        // Exports come sorted by club; this also puts some selection records
        // before the ordinary record they point at and some after it.
        rank_clubs();
        std::stable_sort(records_.begin(), records_.end(),
                         [&](const LicenceEntry& a, const LicenceEntry& b) { return rank_[a.club] < rank_[b.club]; });
        return "";
    }

    std::string relay_number(int club) { return "R" + digits(++relay_counter_[club], 5); }

    void rank_clubs() {
        std::vector<int> order(clubs_.size());
        for (std::size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int>(i);
        std::sort(order.begin(), order.end(), [&](int a, int b) { return clubs_[a].code < clubs_[b].code; });
        rank_.assign(clubs_.size(), 0);
        for (std::size_t i = 0; i < order.size(); ++i) rank_[order[i]] = static_cast<int>(i);
    }

    // --- Performances ----------------------------------------------------------

    int swim_time(int stroke) { return distance_[stroke] / 50 * rng_.between(2700, 4800) + rng_.between(0, 99); }

    std::string make_performances() {
        const int total_lines = options_.performances + options_.relays;
        const int meet_count = std::clamp(total_lines / 200, 1, 500);
        const Words& w = words();
        for (int i = 0; i < meet_count; ++i)
            meets_.push_back({random_date(rng_, kFirstPerformanceDay, kLastDay), rng_.chance(0.6) ? 25 : 50,
                              static_cast<int>(rng_.below(w.places.size())),
                              static_cast<int>(rng_.below(w.meets.size()))});

        // Exactly the asked share of individual lines names swimmers the
        // licence file lacks; the import creates them from the line.
        const int individual = options_.performances;
        int unknown_lines = static_cast<int>(std::llround(options_.unknown * individual));
        if (licensed_ == 0) unknown_lines = individual;
        std::vector<int> unknown_pool;
        for (int i = 0; i < (unknown_lines + 2) / 3; ++i) {
            Swimmer s;
            if (!new_swimmer(club_for_unknown_swimmer(), false, s))
                return "Trop de nageurs inconnus : un club n'a plus de numéro de licence libre.";
            unknown_pool.push_back(static_cast<int>(swimmers_.size()));
            swimmers_.push_back(std::move(s));
        }

        for (int i = 0; i < individual; ++i) {
            const int swimmer = i < unknown_lines ? rng_.pick(unknown_pool) : static_cast<int>(rng_.below(licensed_));
            const Swimmer& s = swimmers_[swimmer];
            // An event of the swimmer's own sex: an unknown swimmer is
            // created with the sex of the event.
            const int stroke = rng_.pick(individual_strokes_[s.sex == 'F' ? 0 : 1]);
            performances_.push_back(
                {s.club, swimmer, stroke, static_cast<int>(rng_.below(meets_.size())), swim_time(stroke), -1});
        }

        if (options_.relays > 0) make_relays();

        // Grouped by club, relays after the club's individual lines, and a
        // swimmer's lines together, as the federation writes them.
        rank_clubs();
        std::stable_sort(performances_.begin(), performances_.end(), [&](const Performance& a, const Performance& b) {
            if (a.club != b.club) return rank_[a.club] < rank_[b.club];
            if ((a.relay >= 0) != (b.relay >= 0)) return a.relay < 0;
            return a.swimmer < b.swimmer;
        });
        return "";
    }

    // A member whose licence the club does not hold: the import warns and
    // files the slot under the reference licence.
    int stranger(int club) {
        Swimmer s;
        if (!new_swimmer(club, false, s)) return -1;
        swimmers_.push_back(std::move(s));
        return static_cast<int>(swimmers_.size()) - 1;
    }

    void make_relays() {
        // Members by club and sex, among the licences of the licence file:
        // the import finds relay members only within the relay's club.
        std::unordered_map<int, std::array<std::vector<int>, 2>> squads;
        for (int i = 0; i < licensed_; ++i) squads[swimmers_[i].club][swimmers_[i].sex == 'F' ? 0 : 1].push_back(i);
        std::vector<int> full, partial;
        for (const auto& [club, squad] : squads)
            (squad[0].size() + squad[1].size() >= 4 ? full : partial).push_back(club);
        std::sort(full.begin(), full.end());
        std::sort(partial.begin(), partial.end());
        const std::vector<int>& relay_clubs = !full.empty() ? full : !partial.empty() ? partial : listed_;

        for (int r = 0; r < options_.relays; ++r) {
            const int club = relay_clubs.empty() ? rng_.pick(performance_unlisted_) : rng_.pick(relay_clubs);
            const int size = rng_.chance(0.9) ? 4 : rng_.between(8, 10);
            const auto& squad = squads[club];
            // An event the club can field, when it can field any.
            std::vector<int> fieldable;
            for (int stroke : relay_strokes_) {
                const char sex = strokes()[stroke].sex[0];
                const std::size_t available = sex == 'F'   ? squad[0].size()
                                              : sex == 'M' ? squad[1].size()
                                                           : squad[0].size() + squad[1].size();
                if (available >= static_cast<std::size_t>(size)) fieldable.push_back(stroke);
            }
            const int stroke = rng_.pick(fieldable.empty() ? relay_strokes_ : fieldable);
            const char sex = strokes()[stroke].sex[0];
            std::vector<int> candidates;
            if (sex != 'M') candidates.insert(candidates.end(), squad[0].begin(), squad[0].end());
            if (sex != 'F') candidates.insert(candidates.end(), squad[1].begin(), squad[1].end());

            RelayTeam team{relay_number(club), {}};
            team.members.fill(-1);
            for (int slot = 0; slot < size; ++slot) {
                if (candidates.size() > static_cast<std::size_t>(slot)) {
                    std::swap(candidates[slot], candidates[slot + rng_.below(candidates.size() - slot)]);
                    team.members[slot] = candidates[slot];
                } else {
                    team.members[slot] = stranger(club);
                }
            }
            if (rng_.chance(0.05)) team.members[rng_.below(size)] = stranger(club);

            performances_.push_back({club, -1, stroke, static_cast<int>(rng_.below(meets_.size())), swim_time(stroke),
                                     static_cast<int>(relays_.size())});
            relays_.push_back(std::move(team));
        }
    }

    // --- Rendering -------------------------------------------------------------

    void finish_line(std::string& out, FixedLine& line, ExportFile file) {
        if (options_.faults > 0 && fault_rng_.chance(options_.faults)) damage(line.text(), file, line, fault_rng_);
        out += line.text();
        out += "\r\n";
    }

    void render_clubs() {
        FixedLine line(kClubLayout);
        clubs_text_.reserve(static_cast<std::size_t>(options_.clubs) * 45);
        for (int i : listed_) {
            line.clear();
            line.set(kClubCode, clubs_[i].code);
            line.set(kClubIntitule, clubs_[i].label);
            finish_line(clubs_text_, line, ExportFile::Clubs);
        }
    }

    // A postcode of the club's department, so that addresses look local;
    // foreign and national codes name no department.
    std::string postcode(const std::string& club_code) {
        const std::string dept = club_code.substr(6, 3);
        if (club_code.compare(0, 3, "FRA") != 0 || dept == "000") return digits(rng_.between(1000, 95999), 5);
        if (dept == "02A" || dept == "02B") return "20" + digits(rng_.between(0, 999), 3);
        if (dept[0] == '9') return dept + digits(rng_.between(0, 99), 2);  // overseas
        return dept.substr(1) + digits(rng_.between(0, 999), 3);
    }

    // "01 23 45 67 89": fourteen characters, the width of the field.
    std::string phone() {
        std::string out = "0" + std::to_string(rng_.between(1, 7));
        for (int pair = 0; pair < 4; ++pair) out += " " + digits(rng_.between(0, 99), 2);
        return out;
    }

    static char yes_no(Rng& rng, double yes) { return rng.chance(yes) ? 'O' : 'N'; }

    void render_licences() {
        const Words& w = words();
        FixedLine line(kLicenceLayout);
        licences_text_.reserve(records_.size() * 250);
        int sequence = 0;
        for (const LicenceEntry& record : records_) {
            line.clear();
            line.set(kLicCodeClub, clubs_[record.club].code);
            line.set(kLicLicence, record.licence);
            if (record.kind == LicenceEntry::Relay) {
                line.set(kLicNom, "RELAIS");
                line.set(kLicPrenom, clubs_[record.club].label);
                line.set(kLicNationalite, "FRA");
                line.set(kLicSportive, 'O');
                line.set(kLicTypeLicence, 'N');
                line.set(kLicNature, 'N');
            } else {
                const Swimmer& s = swimmers_[record.swimmer];
                line.set(kLicNom, s.surname);
                line.set(kLicPrenom, s.first_name);
                line.set(kLicSexe, s.sex);
                line.set(kLicNaissance, ddmmyyyy(s.birth));
                line.set(kLicNationalite, "FRA");
                line.set(kLicAdresse, std::to_string(rng_.between(1, 150)) + " " + rng_.pick(w.streets));
                if (rng_.chance(0.2)) line.set(kLicSuiteAdresse, rng_.pick(w.extras));
                line.set(kLicCodePostal, postcode(clubs_[s.club].code));
                line.set(kLicLocalite, rng_.pick(w.places));
                line.set(kLicTelephone, phone());
                line.set(kLicSportive, 'O');
                line.set(kLicSynchro, yes_no(rng_, 0.05));
                line.set(kLicWaterPolo, yes_no(rng_, 0.05));
                line.set(kLicPlongeon, yes_no(rng_, 0.05));
                line.set(kLicDirigeant, yes_no(rng_, 0.10));
                line.set(kLicMaitre, s.birth.year <= 2000 ? yes_no(rng_, 0.5) : 'N');
                line.set(kLicDateDepot, ddmmyyyy(s.deposit));
                line.set(kLicDateObliteration, ddmmyyyy(s.obliteration));
                line.set(kLicTypeLicence, s.licence_type);
                line.set(kLicNature, 'N');
                if (record.kind == LicenceEntry::Selection) line.set(kLicOrigine, clubs_[s.club].code + s.licence);
            }
            // Unique by its sequence number in the file.
            line.set(kLicCodeUnique, digits(static_cast<int>(rng_.below(100000000)), 8) +
                                         digits(static_cast<int>(rng_.below(10000)), 4) + digits(++sequence, 10));
            finish_line(licences_text_, line, ExportFile::Licences);
        }
    }

    void render_performances() {
        const Words& w = words();
        FixedLine line(kPerfLayout);
        liffn_text_.reserve(performances_.size() * 204);
        for (const Performance& p : performances_) {
            const Meet& meet = meets_[p.meet];
            line.clear();
            line.set(kPerfNage, digits(strokes()[p.stroke].code, 2));
            line.set(kPerfCodeClub, clubs_[p.club].code);
            line.set(kPerfBassin, std::to_string(meet.pool));
            line.set(kPerfDate, ddmmyyyy(meet.date));
            line.set(kPerfTemps, std::to_string(p.time));
            line.set(kPerfLieu, w.places[meet.place]);
            line.set(kPerfLibre, w.meets[meet.name]);
            if (p.relay >= 0) {
                const RelayTeam& team = relays_[p.relay];
                line.set(kPerfLicence, team.number);
                for (int slot = 0; slot < 10; ++slot)
                    if (team.members[slot] >= 0) line.set(kPerfRelayeur1 + slot, swimmers_[team.members[slot]].licence);
            } else {
                const Swimmer& s = swimmers_[p.swimmer];
                line.set(kPerfLicence, s.licence);
                line.set(kPerfNom, s.surname);
                line.set(kPerfPrenom, s.first_name);
                line.set(kPerfDateLicence,
                         ddmmyyyy(s.in_licence_file ? s.obliteration
                                                    : random_date(rng_, kFirstPerformanceDay, kLastDay)));
                line.set(kPerfTypeLicence, s.in_licence_file ? s.licence_type : "NTR"[rng_.below(3)]);
                // An individual time taken from a relay leg.
                if (rng_.chance(0.05)) line.set(kPerfPassageRelais, 'R');
            }
            if (!rng_.chance(0.3))
                for (std::size_t flag = kPerfCodifFede; flag <= kPerfCodifDepart; ++flag)
                    line.set(flag, yes_no(rng_, 0.2));
            finish_line(liffn_text_, line, ExportFile::Performances);
        }
    }

    const SampleExportOptions& options_;
    Rng rng_;
    Rng fault_rng_;  // damage only, so that it leaves the clean lines alone

    std::unordered_map<std::string, int> inter_of_region_;
    std::vector<int> distance_;                           // metres, by stroke index
    std::vector<int> relay_strokes_;                      // stroke indices
    std::array<std::vector<int>, 2> individual_strokes_;  // ladies', men's

    std::vector<Club> clubs_;
    std::unordered_set<std::string> codes_;
    std::vector<int> listed_, licence_unlisted_, performance_unlisted_;
    std::vector<int> rank_;  // position of each club in code order

    std::vector<Swimmer> swimmers_;  // licence-file swimmers first, then the others
    int licensed_ = 0;               // swimmers with an ordinary licence record
    std::unordered_set<std::uint64_t> licence_numbers_;
    std::unordered_map<std::uint64_t, int> scan_cursor_;  // by club and year, see allocate_licence
    std::unordered_map<int, int> relay_counter_;
    std::vector<LicenceEntry> records_;

    std::vector<Meet> meets_;
    std::vector<Performance> performances_;
    std::vector<RelayTeam> relays_;

    std::string clubs_text_, licences_text_, liffn_text_, origine_;
};

std::string check_options(const SampleExportOptions& o) {
    if (o.clubs < 0 || o.licences < 0 || o.performances < 0 || o.relays < 0)
        return "Les nombres de clubs, de licences, de performances et de relais ne peuvent être négatifs.";
    if (!(o.faults >= 0.0 && o.faults <= 1.0)) return "La part de lignes abîmées doit être comprise entre 0 et 1.";
    if (!(o.unknown >= 0.0 && o.unknown <= 1.0)) return "La part de nageurs inconnus doit être comprise entre 0 et 1.";
    return "";
}

bool write_file(const std::filesystem::path& path, const std::string& content) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    const bool written = std::fwrite(content.data(), 1, content.size(), file) == content.size();
    return std::fclose(file) == 0 && written;
}

}  // namespace

std::string generate_sample_export(const std::filesystem::path& dir, const SampleExportOptions& options) {
    if (std::string error = check_options(options); !error.empty()) return error;

    static constexpr const char* kNames[] = {"club.txt", "licence.txt", "liffn.txt", "origine.txt"};
    std::error_code ec;
    if (std::filesystem::exists(dir, ec) && !std::filesystem::is_directory(dir, ec))
        return dir.string() + " n'est pas un répertoire.";
    for (const char* name : kNames)
        if (std::filesystem::exists(dir / name, ec))
            return "Le fichier " + (dir / name).string() + " existe déjà : aucun fichier n'a été écrit.";

    Generator generator(options);
    if (std::string error = generator.build(); !error.empty()) return error;

    if (!std::filesystem::exists(dir, ec) && !std::filesystem::create_directories(dir, ec))
        return "Impossible de créer le répertoire " + dir.string() + " : " + ec.message();
    const std::string* contents[] = {&generator.clubs_file(), &generator.licences_file(),
                                     &generator.performances_file(), &generator.origine_file()};
    for (std::size_t i = 0; i < std::size(kNames); ++i) {
        if (!write_file(dir / kNames[i], *contents[i])) {
            // Half an export would import as if it were whole: take back
            // what this call wrote.
            for (std::size_t j = 0; j <= i; ++j) std::filesystem::remove(dir / kNames[j], ec);
            return "Impossible d'écrire " + (dir / kNames[i]).string() + ".";
        }
    }
    return "";
}

}  // namespace ondival::samples
