#include "samples/sample_export.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "host/reference_data.h"
#include "tests/test_support.h"

namespace ondival::samples {
using namespace ondival::host;
namespace {

namespace fs = std::filesystem;

// The records of a file; a line not ended by CRLF, or a bare CR or LF, makes
// the file unreadable for the import and fails here.
std::vector<std::string> records(const std::string& text) {
    std::vector<std::string> out;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find("\r\n", start);
        EXPECT_NE(end, std::string::npos) << "last line without CRLF";
        if (end == std::string::npos) break;
        out.push_back(text.substr(start, end - start));
        EXPECT_EQ(out.back().find_first_of("\r\n"), std::string::npos) << out.back();
        start = end + 2;
    }
    return out;
}

// Column cut as the import does it: 1-based, blanks trimmed.
std::string cut(const std::string& line, std::size_t column, std::size_t width) {
    if (column > line.size()) return "";
    std::string piece = line.substr(column - 1, width);
    const auto first = piece.find_first_not_of(' ');
    return first == std::string::npos ? "" : piece.substr(first, piece.find_last_not_of(' ') - first + 1);
}

// The geographic rules the club save applies before it creates a club.
bool valid_club_code(const std::string& code) {
    if (code.size() != 13) return false;
    const std::string country = code.substr(0, 3), region = code.substr(4, 2), dept = code.substr(6, 3);
    const int inter = code[3] - '0';
    bool known_country = false, known_inter = false;
    for (const Country& c : countries()) known_country |= country == c.code;
    for (const InterRegion& i : inter_regions()) known_inter |= inter == i.code;
    if (!known_country || !known_inter) return false;
    if (country != "FRA") return inter == 0;
    if (inter == 0 || region == "00") return region == "00" && dept == "000";
    bool region_ok = false, dept_ok = dept == "000";
    for (const Region& r : regions()) region_ok |= region == r.code && inter == r.inter_region;
    for (const Department& d : departments()) dept_ok |= dept == d.code && region == d.region;
    return region_ok && dept_ok;
}

// A real calendar day written ddmmyyyy, returned as yyyymmdd, else 0.
int real_date(const std::string& ddmmyyyy) {
    if (ddmmyyyy.size() != 8 || ddmmyyyy.find_first_not_of("0123456789") != std::string::npos) return 0;
    const int d = std::stoi(ddmmyyyy.substr(0, 2)), m = std::stoi(ddmmyyyy.substr(2, 2)),
              y = std::stoi(ddmmyyyy.substr(4));
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    const int month_days[] = {31, leap ? 29 : 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m >= 1 && m <= 12 && d >= 1 && d <= month_days[m - 1] ? y * 10000 + m * 100 + d : 0;
}

const Stroke* find_stroke(const std::string& code) {
    for (const Stroke& s : strokes())
        if (code.size() == 2 && std::to_string(s.code) == std::to_string(std::stoi(code))) return &s;
    return nullptr;
}

bool is_dos_letter(unsigned char c) {
    return (c >= 0x81 && c <= 0x8C && c != 0x86) || c == 0x93 || c == 0x94 || c == 0x96 || c == 0x97;
}

// (That a seed alone decides the bytes, and that an earlier export is never
// written over, the command line's own tests show through `ondival generate`.)
class SampleExportTest : public ::testing::Test {
protected:
    // Generates into a subdirectory and returns the records of the files.
    struct Export {
        std::vector<std::string> clubs, licences, liffn, origine;
    };
    Export generate(const SampleExportOptions& options, const std::string& sub = "export") {
        const fs::path dir = scratch_.path() / sub;
        EXPECT_EQ(generate_sample_export(dir, options), "");
        const auto file = [&](const char* name) { return records(test::read_bytes(dir / name)); };
        return {file("club.txt"), file("licence.txt"), file("liffn.txt"), file("origine.txt")};
    }

    test::ScratchDir scratch_;
};

TEST_F(SampleExportTest, EveryLineHasItsRecordLengthAndTheAskedCount) {
    const SampleExportOptions cases[] = {
        {.clubs = 20, .licences = 500, .performances = 2000, .relays = 100},
        {.clubs = 0, .licences = 0, .performances = 50, .relays = 10},  // every club and swimmer unknown
        {.clubs = 1, .licences = 3, .performances = 0, .relays = 5},    // relays from a tiny club
        {.clubs = 3, .licences = 40, .performances = 100, .relays = 0, .unknown = 1.0},
    };
    for (const SampleExportOptions& options : cases) {
        const std::string sub = "c" + std::to_string(options.clubs) + "-" + std::to_string(options.licences);
        const Export e = generate(options, sub);
        EXPECT_EQ(e.clubs.size(), static_cast<std::size_t>(options.clubs)) << sub;
        EXPECT_EQ(e.licences.size(), static_cast<std::size_t>(options.licences)) << sub;
        EXPECT_EQ(e.liffn.size(), static_cast<std::size_t>(options.performances + options.relays)) << sub;
        ASSERT_EQ(e.origine.size(), 1u);
        EXPECT_FALSE(e.origine[0].empty());
        for (const auto& [file, length] : {std::pair{&e.clubs, 43u}, {&e.licences, 248u}, {&e.liffn, 202u}})
            for (const std::string& line : *file) ASSERT_EQ(line.size(), length) << sub << ": " << line;
    }
}

TEST_F(SampleExportTest, RefusesImpossibleOptions) {
    const SampleExportOptions cases[] = {{.clubs = -1},   {.licences = -5},  {.relays = -1},
                                         {.faults = 1.5}, {.unknown = -0.1}, {.unknown = NAN}};
    for (const SampleExportOptions& options : cases) {
        EXPECT_NE(generate_sample_export(scratch_.path(), options), "");
        EXPECT_FALSE(fs::exists(scratch_.path() / "liffn.txt"));
    }
}

TEST_F(SampleExportTest, ClubCodesPassTheGeographicCheck) {
    const Export e = generate({.clubs = 30, .licences = 800, .performances = 1500, .relays = 50});
    std::set<std::string> listed;
    for (const std::string& line : e.clubs) {
        EXPECT_TRUE(valid_club_code(cut(line, 1, 13))) << line;
        EXPECT_NE(cut(line, 1, 13).substr(9), "0000") << "a club of the list is no selection";
        EXPECT_TRUE(listed.insert(cut(line, 1, 13)).second) << "code listed twice: " << line;
        EXPECT_FALSE(cut(line, 14, 30).empty());
    }
    int unlisted_licence_clubs = 0, unlisted_perf_clubs = 0, selections = 0;
    std::set<std::string> ordinary;  // club code + licence of ordinary records
    for (const std::string& line : e.licences)
        if (cut(line, 14, 1) != "R" && cut(line, 1, 13).substr(9) != "0000") ordinary.insert(line.substr(0, 19));
    for (const std::string& line : e.licences) {
        const std::string code = cut(line, 1, 13);
        EXPECT_TRUE(valid_club_code(code)) << line;
        if (code.substr(9) == "0000") {
            ++selections;
            EXPECT_TRUE(valid_club_code(cut(line, 208, 13))) << line;
            EXPECT_TRUE(ordinary.count(line.substr(207, 19))) << "origin is no licence of the file: " << line;
        } else {
            unlisted_licence_clubs += !listed.count(code);
        }
    }
    for (const std::string& line : e.liffn) {
        EXPECT_TRUE(valid_club_code(cut(line, 3, 13))) << line;
        unlisted_perf_clubs += !listed.count(cut(line, 3, 13));
    }
    EXPECT_EQ(selections, 800 / 20);
    EXPECT_GT(unlisted_licence_clubs, 0);
    EXPECT_GT(unlisted_perf_clubs, 0);
}

TEST_F(SampleExportTest, LicencesAreConsistentAndNeverRepeatAPair) {
    const Export e = generate({.clubs = 10, .licences = 2000, .performances = 0, .relays = 0});
    std::set<std::string> pairs;
    int relays = 0, dos_first_names = 0;
    for (const std::string& line : e.licences) {
        EXPECT_TRUE(pairs.insert(line.substr(0, 19)).second) << "club + licence repeated: " << line;
        if (line[13] == 'R') {
            ++relays;
            continue;
        }
        const int birth = real_date(line.substr(65, 8));
        ASSERT_NE(birth, 0) << line;
        EXPECT_GE(birth / 10000, 1960);
        EXPECT_LE(birth / 10000, 2016);
        EXPECT_EQ(line.substr(13, 2), line.substr(71, 2)) << "licence does not open with the birth year: " << line;
        EXPECT_TRUE(line[64] == 'F' || line[64] == 'M') << line;
        EXPECT_EQ(cut(line, 20, 25).find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ '-"), std::string::npos)
            << "family name not in plain capitals: " << line;
        for (unsigned char c : cut(line, 45, 20)) dos_first_names += is_dos_letter(c);
        for (std::size_t column : {190u, 198u}) {
            const int date = real_date(line.substr(column - 1, 8));
            EXPECT_TRUE(date >= 20250101 && date <= 20261130) << line;
        }
        for (unsigned char c : line) EXPECT_TRUE(c >= 0x20 && (c < 0x7F || is_dos_letter(c))) << line;
    }
    EXPECT_EQ(relays, 2000 / 100);
    EXPECT_GT(dos_first_names, 100);
}

TEST_F(SampleExportTest, CleanPerformancesPassEveryImportCheck) {
    const Export e = generate({.clubs = 12, .licences = 600, .performances = 3000, .relays = 200});
    std::map<std::string, char> sex_of;  // club code + licence -> sex
    for (const std::string& line : e.licences) sex_of[line.substr(0, 19)] = line[64];
    int relays = 0, relay_members_known = 0, relay_members = 0;
    for (const std::string& line : e.liffn) {
        const Stroke* stroke = find_stroke(line.substr(0, 2));
        ASSERT_NE(stroke, nullptr) << line;
        EXPECT_TRUE(cut(line, 22, 2) == "25" || cut(line, 22, 2) == "50") << line;
        const int date = real_date(line.substr(23, 8));
        EXPECT_TRUE(date >= 20240101 && date <= 20261130) << line;
        EXPECT_GT(std::stoi(cut(line, 32, 7)), 0) << line;
        const std::string club = line.substr(2, 13), licence = cut(line, 16, 6);
        if (licence[0] == 'R') {
            ++relays;
            EXPECT_TRUE(stroke->relay) << line;
            EXPECT_EQ(licence.size(), 6u);
            for (int slot = 0; slot < 10; ++slot) {
                const std::string member = cut(line, 138 + 6 * slot, 6);
                if (member.empty()) continue;
                ++relay_members;
                relay_members_known += sex_of.count(club + member);
            }
            continue;
        }
        EXPECT_FALSE(stroke->relay) << line;
        // The import computes the age from the licence's two-digit year.
        const int yy = std::stoi(licence.substr(0, 2));
        EXPECT_GT(date / 10000 - (yy <= 16 ? 2000 + yy : 1900 + yy), 0) << line;
        const auto known = sex_of.find(club + licence);
        if (known != sex_of.end()) {
            EXPECT_EQ(stroke->sex[0], known->second) << line;
        }
    }
    EXPECT_EQ(relays, 200);
    EXPECT_GT(relay_members_known, relay_members * 9 / 10) << "relay members should be the club's licences";
}

TEST_F(SampleExportTest, UnknownSwimmersMakeTheAskedShare) {
    for (double share : {0.0, 0.2, 1.0}) {
        const Export e = generate({.clubs = 10, .licences = 300, .performances = 1000, .relays = 0, .unknown = share},
                                  "u" + std::to_string(share));
        std::set<std::string> licensed;
        for (const std::string& line : e.licences) licensed.insert(line.substr(0, 19));
        int unknown = 0;
        for (const std::string& line : e.liffn) unknown += !licensed.count(line.substr(2, 19));
        EXPECT_EQ(unknown, std::lround(share * 1000)) << share;
    }
}

TEST_F(SampleExportTest, FaultsDamageOnlyTheLinesTheyHit) {
    SampleExportOptions options{.clubs = 10, .licences = 500, .performances = 2000, .relays = 100};
    const Export clean = generate(options, "clean");
    options.faults = 0.1;
    const Export damaged = generate(options, "damaged");
    ASSERT_EQ(clean.liffn.size(), damaged.liffn.size());
    int differing = 0, short_lines = 0, bad_pools = 0;
    for (std::size_t i = 0; i < clean.liffn.size(); ++i) {
        differing += clean.liffn[i] != damaged.liffn[i];
        short_lines += damaged.liffn[i].size() < 202;
        bad_pools += damaged.liffn[i].size() == 202 && cut(damaged.liffn[i], 22, 2) == "33";
    }
    EXPECT_GT(differing, 2100 / 20);
    EXPECT_LT(differing, 2100 / 5);
    EXPECT_GT(short_lines, 0);
    EXPECT_GT(bad_pools, 0);
    EXPECT_EQ(damaged.licences.size(), clean.licences.size());
    EXPECT_NE(damaged.licences, clean.licences);
}

}  // namespace
}  // namespace ondival::samples
