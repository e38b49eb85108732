// Exports as a federation's damaged or unusual files deliver them: lines
// cut anywhere, a last line without its end, stroke codes at both ends of
// their range, club codes that look almost like a selection, relay members
// that only the database knows. Each case runs a whole import on real files
// and a real host database.
#include <gtest/gtest.h>

#include "clubs/club_save.h"
#include "licences/licence_record.h"
#include "platform/error.h"
#include "tests/test_support.h"

namespace ondival::test {
namespace {

class ImportEdges : public ImportFixture, public ::testing::Test {};

TEST_F(ImportEdges, LicenceLinesCutAnywhereLetEveryGoodLineIn) {
    const std::string good1 = LicenceLine{.club = kClub, .licence = "851234", .nom = "DUPONT"}.str();
    const std::string good2 = LicenceLine{.club = kClub, .licence = "902001", .nom = "MARTIN"}.str();
    const std::string good3 = LicenceLine{.club = kClub, .licence = "881111", .nom = "PETIT"}.str();
    write_lines(source() / "licence.txt", {good1,
                                           kClub,         // cut after the club code: no licence number, no birth date
                                           kClub + "90",  // cut inside the licence number
                                           "",            // a blank line
                                           good1.substr(0, 100),  // cut inside the address
                                           good2, good3});
    write_lines(source() / "liffn.txt", {PerfLine{.club = kClub, .licence = "881111", .nom = "PETIT"}.str()});
    EXPECT_TRUE(run());
    EXPECT_FALSE(trace_has("Import des licences interrompu."));
    EXPECT_TRUE(trace_has("1 entrée en erreur."));  // the blank line: it names no club
    for (const char* nom : {"DUPONT", "MARTIN", "PETIT"})
        EXPECT_EQ(count(std::string("Licence where Nom = '") + nom + "'"), "1") << nom;
    // The swimmer of the performance came from the licence file, not from a
    // creation of its own.
    EXPECT_FALSE(trace_has("Ligne n° : 1. Nageur inconnu dans la base."));
    EXPECT_EQ(count("Liffn where Num_compet <> -1"), "1");
}

TEST_F(ImportEdges, LastLineWithoutItsEndIsCountedAndImported) {
    write_bytes(source() / "liffn.txt", PerfLine{.club = kClub, .licence = "851234"}.str());
    EXPECT_TRUE(run());
    EXPECT_TRUE(trace_has("Traitement de 1 ligne de données."));
    EXPECT_EQ(count("Liffn where Num_compet <> -1"), "1");
}

// The first line's length is measured with its line end, as the record
// length counts it; a first line one or two characters short is no reason
// to warn, three is.
struct ShortLineCase {
    const char* name;
    std::size_t length;
    bool warned;
};

class ShortFirstLine : public ImportFixture, public ::testing::TestWithParam<ShortLineCase> {};

TEST_P(ShortFirstLine, WarnsOnlyWhenTheLineIsReallyShort) {
    const std::string line = club_line(kClub, "CN PARIS").substr(0, GetParam().length);
    write_lines(source() / "club.txt", {line, club_line("FRA5110920002", "CN BOULOGNE")});
    write_lines(source() / "liffn.txt", {});
    EXPECT_TRUE(run());
    const auto t = trace();
    const bool warned = std::any_of(t.begin(), t.end(), [](const std::string& l) {
        return l.find("n'ont pas la longueur requise.") != std::string::npos;
    });
    EXPECT_EQ(warned, GetParam().warned);
}

INSTANTIATE_TEST_SUITE_P(ClubRecordOf43, ShortFirstLine,
                         ::testing::Values(ShortLineCase{"ThreeShort", 40, true}, ShortLineCase{"TwoShort", 41, false},
                                           ShortLineCase{"OneShort", 42, false}, ShortLineCase{"Whole", 43, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ImportEdges, StrokeCodesAtBothEndsOfTheRangeAreImported) {
    sql(db, "insert into Nage (Code_Nage, Sexe, Libelle) values (0, 'F', 'Code zero')");
    sql(db, "insert into Nage (Code_Nage, Sexe, Libelle) values (99, 'M', 'Code 99')");
    write_lines(source() / "liffn.txt", {PerfLine{.nage = "00", .club = kClub, .licence = "851234"}.str(),
                                         PerfLine{.nage = "99", .club = kClub, .licence = "851234"}.str()});
    EXPECT_TRUE(run());
    EXPECT_EQ(sql(db, "select Code_epreuve from Liffn order by Num"), (std::vector<std::string>{"0", "99"}));
}

// A host event numbered outside 0-99 could never be named by a line's two
// characters; the import refuses to start on it rather than write outside
// its stroke table, and says which code it met.
struct HostStrokeCase {
    const char* name;
    const char* code;
};

class HostStrokeOutOfRange : public ImportFixture, public ::testing::TestWithParam<HostStrokeCase> {};

TEST_P(HostStrokeOutOfRange, StopsTheCallNamingTheCodeAndLeavesNothingStaged) {
    sql(db, std::string("insert into Nage (Code_Nage, Sexe, Libelle) values (") + GetParam().code + ", 'M', 'Autre')");
    write_lines(source() / "liffn.txt", {PerfLine{.club = kClub, .licence = "851234"}.str()});
    EXPECT_EQ(error_number([&] { run(); }), platform::err::kSubscript);
    const auto t = trace();
    ASSERT_GE(t.size(), 2u);
    EXPECT_EQ(t[t.size() - 2], "Import interrompu.");
    EXPECT_EQ(t.back(),
              std::string("Erreur n° 9: Code de nage hors de la plage 0 à 99 dans la table Nage : ") + GetParam().code);
    EXPECT_EQ(count("Liffn"), "0");
    EXPECT_EQ(count("Rcomp"), "0");
    EXPECT_EQ(sql1(db, "select LastClose from Info"), "1");
}

INSTANTIATE_TEST_SUITE_P(Codes, HostStrokeOutOfRange,
                         ::testing::Values(HostStrokeCase{"OneAbove", "100"}, HostStrokeCase{"Negative", "-1"}),
                         [](const auto& info) { return std::string(info.param.name); });

// A selection is a club code ending in four zeros, and nothing shorter.
TEST_F(ImportEdges, OnlyFourFinalZerosMakeASelection) {
    const std::string almost = "FRA5110751000";
    const std::string selection = "FRA5110750000";
    write_lines(
        source() / "licence.txt",
        {LicenceLine{.club = almost, .licence = "851234", .nom = "ALMOST", .origine = kClub + "861234"}.str(),
         LicenceLine{.club = selection, .licence = "990001", .nom = "SELECTED", .origine = kClub + "871234"}.str()});
    write_lines(source() / "liffn.txt", {PerfLine{.club = almost, .licence = "851234", .nom = "ALMOST"}.str()});
    EXPECT_TRUE(run());
    EXPECT_EQ(sql1(db, "select Code_club from Licence where Nom = 'ALMOST'"), almost);
    EXPECT_EQ(sql1(db, "select Code_club from Licence where Nom = 'SELECTED'"), kClub);
    EXPECT_EQ(sql(db, "select Code_Sel from Selection"), std::vector<std::string>{selection});
    EXPECT_EQ(sql1(db, "select Selection from Club where Code_federal = '" + almost + "'"), "0");
    EXPECT_EQ(sql1(db, "select Selection from Club where Code_federal = '" + selection + "'"), "1");
}

// A selection record whose swimmer the database already holds: nothing is
// created, the swimmer joins the selection once, and a second import of
// the same record adds no second membership.
TEST_F(ImportEdges, KnownSwimmerOfASelectionRecordJoinsItOnce) {
    const std::string selection = "FRA5110000000";
    sql(db, "insert into Club (Code_federal, Intitule, Selection) values ('" + kClub + "', 'CN PARIS', false)");
    sql(db, "insert into Licence (Code_club, licence, Nom, Prenom, Date_Naissance) values ('" + kClub +
                "', '851234', 'DUPONT', 'Marie', '19850503')");
    const std::string num = sql1(db, "select Num from Licence where licence = '851234'");
    write_lines(source() / "licence.txt", {LicenceLine{.club = selection,
                                                       .licence = "990001",
                                                       .nom = "DUPONT",
                                                       .prenom = "Marie",
                                                       .origine = kClub + "851234"}
                                               .str()});
    write_lines(source() / "liffn.txt", {});
    ASSERT_TRUE(run());
    ASSERT_TRUE(run());
    EXPECT_TRUE(trace_has("1 licence déjà connue."));
    EXPECT_EQ(count("Licence"), "2");  // the swimmer and the reference licence "Null"
    EXPECT_EQ(sql(db, "select Num_Lic from Selection where Code_Sel = '" + selection + "'"),
              std::vector<std::string>{num});
}

// A selection record whose origin names a club code that cannot exist: the
// import warns and goes on with the selection's own pair, then licence
// creation, which resolves the origin again, refuses the club; the line
// ends in error and nothing of it is written but the selection club.
TEST_F(ImportEdges, SelectionRecordWithAnImpossibleOriginClubIsWarnedThenRefused) {
    const std::string selection = "FRA5110000000";
    write_lines(
        source() / "licence.txt",
        {LicenceLine{.club = selection, .licence = "990001", .nom = "SEUL", .origine = "XXX0000000001851234"}.str()});
    write_lines(source() / "liffn.txt", {});
    EXPECT_TRUE(run());
    const auto t = trace();
    const auto warning = std::find(t.begin(), t.end(),
                                   "Enregistrement dans une sélection, mais information sur la licence origine "
                                   "(code club + licence) erronée.");
    ASSERT_NE(warning, t.end());
    EXPECT_EQ(*(warning - 1), "Warning Ligne n° : 1.");
    const auto error = std::find(warning, t.end(), "Erreur Ligne n° : 1.");
    ASSERT_NE(error, t.end());
    EXPECT_EQ(*(error + 2), "Le code club est erronné : XXX0000000001");
    EXPECT_TRUE(trace_has("1 entrée en erreur."));
    EXPECT_EQ(count("Licence where Nom = 'SEUL'"), "0");
    EXPECT_EQ(count("Club where Code_federal = 'XXX0000000001'"), "0");
}

TEST_F(ImportEdges, StopAfterRelayLinesLeavesNoStagedRelay) {
    PerfLine relay{.nage = "18", .club = kClub, .licence = "R0007", .relayeurs = {"851234"}};
    PerfLine bad{.club = kClub, .licence = "902001", .bassin = "33"};
    write_lines(source() / "liffn.txt",
                {PerfLine{.club = kClub, .licence = "851234"}.str(), relay.str(), relay.str(), bad.str()});
    EXPECT_FALSE(run());
    EXPECT_TRUE(trace_has("Erreur Ligne n° : 4."));
    EXPECT_EQ(count("Liffn_relais"), "0");
    EXPECT_EQ(count("Liffn"), "0");
}

// A relay member the database knows but no earlier line named: found by
// its own lookup, cached with the database's birth date, and a later
// individual line of the same swimmer takes its age from that date rather
// than from the licence number.
TEST_F(ImportEdges, RelayMemberKnownOnlyToTheDatabaseGivesItsBirthDateToLaterLines) {
    write_lines(source() / "licence.txt", {LicenceLine{.club = kClub, .licence = "851234", .nom = "DUPONT"}.str()});
    write_lines(source() / "liffn.txt", {});
    ASSERT_TRUE(run());
    sql(db, "update Licence set Date_Naissance = '19800315' where licence = '851234'");
    const std::string num = sql1(db, "select Num from Licence where licence = '851234'");

    std::filesystem::remove(source() / "licence.txt");
    PerfLine relay{.nage = "18", .club = kClub, .licence = "R0007", .relayeurs = {"851234"}};
    PerfLine individual{.club = kClub, .licence = "851234", .date = "12062025"};
    write_lines(source() / "liffn.txt", {relay.str(), individual.str()});
    ASSERT_TRUE(run());
    EXPECT_FALSE(trace_has("Le relayeur de licence 851234 est introuvable dans le club de code " + kClub + "."));
    EXPECT_FALSE(trace_has("Ligne n° : 2. Nageur inconnu dans la base."));
    EXPECT_EQ(sql1(db, "select Licence1 from Liffn_relais"), num);
    EXPECT_EQ(sql1(db, "select Num_Lic || '|' || Age from Liffn"), num + "|45");
    EXPECT_EQ(count("Licence where licence = '851234'"), "1");
}

// The birth-year rule on its own: what a cut line gives it.
struct BirthYearCase {
    const char* name;
    std::string birth, licence, kept;  // kept "" with raises: the rule refuses
    bool raises = false;
};

class BirthYearRule : public ::testing::TestWithParam<BirthYearCase> {};

TEST_P(BirthYearRule, KeepsOrReplacesTheBirthDate) {
    const BirthYearCase& c = GetParam();
    if (c.raises) {
        EXPECT_EQ(error_number([&] { annee_naissance_licence(c.birth, c.licence); }), platform::err::kTypeMismatch);
    } else {
        EXPECT_EQ(annee_naissance_licence(c.birth, c.licence), c.kept);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, BirthYearRule,
                         ::testing::Values(BirthYearCase{"YearsAgree", "19850503", "851234", "19850503"},
                                           BirthYearCase{"YearsDisagree", "19860503", "851234", "19850101"},
                                           BirthYearCase{"NoDateTakesTheLicenceYear", "", "851234", "19850101"},
                                           BirthYearCase{"NeitherDateNorNumber", "", "", ""},
                                           BirthYearCase{"NumberCutToOneDigit", "", "9", "20090101"},
                                           BirthYearCase{"DateWithoutNumberIsAMismatch", "19850503", "", "", true},
                                           BirthYearCase{"NumberWithoutYear", "19850503", "AB1234", "", true}),
                         [](const auto& info) { return std::string(info.param.name); });

struct SelectionCase {
    const char* name;
    std::string code;
    bool selection;
};

class SelectionCode : public ::testing::TestWithParam<SelectionCase> {};

TEST_P(SelectionCode, EndsInFourZeros) { EXPECT_EQ(est_selection(GetParam().code), GetParam().selection); }

INSTANTIATE_TEST_SUITE_P(Codes, SelectionCode,
                         ::testing::Values(SelectionCase{"FourZeros", "FRA5110750000", true},
                                           SelectionCase{"ThreeZeros", "FRA5110751000", false},
                                           SelectionCase{"ZerosInside", "FRA5110700001", false},
                                           SelectionCase{"OneInTheTens", "FRA5110750010", false},
                                           SelectionCase{"OneInTheHundreds", "FRA5110750100", false},
                                           SelectionCase{"FiveCharacters", "10000", true},
                                           SelectionCase{"OnlyZeros", "0000", true},
                                           SelectionCase{"ShorterThanFour", "000", false},
                                           SelectionCase{"Empty", "", false}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace ondival::test
