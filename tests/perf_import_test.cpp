// The performance import is all or nothing: each cause that stops it at a
// line leaves no staged row, attaches nothing and keeps earlier
// competitions as they were.
#include <gtest/gtest.h>

#include "tests/test_support.h"

namespace ondival::test {
namespace {


PerfLine good(const std::string& licence, const std::string& nom = "DUPONT") {
    return PerfLine{.club = kClub, .licence = licence, .nom = nom};
}

struct StopCase {
    const char* name;
    PerfLine line;
    std::vector<std::string> message;  // the lines after "Erreur Ligne n° : 3."
};

class PerfStop : public ImportFixture, public ::testing::TestWithParam<StopCase> {};

TEST_P(PerfStop, ThirdLineStopsTheImportAndNothingStays) {
    // A first, clean import gives a competition whose rows must survive.
    write_lines(source() / "liffn.txt", {good("851234").str()});
    ASSERT_TRUE(run());
    const std::string first = sql1(db, "select AutoNum from Rcomp");

    write_lines(source() / "liffn.txt", {good("851234").str(), good("902001", "MARTIN").str(), GetParam().line.str()});
    EXPECT_FALSE(run());

    const auto trace = this->trace();
    const auto at = std::find(trace.begin(), trace.end(), "Erreur Ligne n° : 3.");
    ASSERT_NE(at, trace.end()) << "no located error at line 3";
    for (std::size_t i = 0; i < GetParam().message.size(); ++i) {
        ASSERT_LT(at + 1 + static_cast<long>(i), trace.end());
        const std::string& got = *(at + 1 + static_cast<long>(i));
        EXPECT_EQ(got.substr(0, GetParam().message[i].size()), GetParam().message[i]);
    }
    EXPECT_TRUE(trace_has("Efface toutes les données déjà importées."));
    EXPECT_FALSE(trace_has("Création de la référence dans la table des compétitions"));
    EXPECT_EQ(count("Liffn where Num_compet = -1"), "0");
    EXPECT_EQ(count("Liffn_relais where Num_compet = -1"), "0");
    EXPECT_EQ(count("Rcomp"), "1");
    EXPECT_EQ(count("Liffn where Num_compet = " + first), "1");
    EXPECT_EQ(sql1(db, "select LastClose from Info"), "1");
}

PerfLine with(PerfLine l, void (*change)(PerfLine&)) {
    change(l);
    return l;
}

const char* kCancelled = "Importation des performances annulées.";
const char* kInsertFailed = "Une erreur s'est produite lors de l'ajout de la performance individuelle.";

INSTANTIATE_TEST_SUITE_P(
    EachCause, PerfStop,
    ::testing::Values(StopCase{"PoolLength",
                               with(good("953333"), [](PerfLine& l) { l.bassin = "33"; }),
                               {"Type de bassin incorrect : 33.", kCancelled}},
                      StopCase{"UnknownStroke",
                               with(good("953333"), [](PerfLine& l) { l.nage = "99"; }),
                               {"Code nage invalide : 99", kCancelled}},
                      StopCase{"StrokeOutOfRange",
                               with(good("953333"), [](PerfLine& l) { l.nage = "-1"; }),
                               {"Import des performances annulé.", "Erreur n° 9: "}},
                      StopCase{"InvalidClub",
                               with(good("953333"), [](PerfLine& l) { l.club = "XXX0000000001"; }),
                               {"Le code club est erronné : XXX0000000001", kCancelled}},
                      StopCase{"AgeZero",
                               with(good("253333"), [](PerfLine& l) { l.date = "01022025"; }),
                               {"Résultat négatif du calcul de l'âge lors de la performance.", kCancelled}},
                      StopCase{"EmptyTime",
                               with(good("953333"), [](PerfLine& l) { l.temps = ""; }),
                               {kInsertFailed, "Importation annulée.", "Erreur n° "}},
                      // A time is written bare: anything but a plain number is refused
                      // before it reaches the statement.
                      StopCase{"TimeCarryingSql",
                               with(good("953333"), [](PerfLine& l) { l.temps = "1);--"; }),
                               {kInsertFailed, "Importation annulée.", "Erreur n° 13: "}},
                      StopCase{"TimeWithQuote",
                               with(good("953333"), [](PerfLine& l) { l.temps = "10'23"; }),
                               {kInsertFailed, "Importation annulée.", "Erreur n° 13: "}},
                      StopCase{"InvalidDate",
                               with(good("953333"), [](PerfLine& l) { l.date = "32132025"; }),
                               {"Import des performances annulé.", "Erreur n° 13: "}},
                      StopCase{"LicenceWithoutYear",
                               with(good("AB3333"), [](PerfLine&) {}),
                               {"Import des performances annulé.", "Erreur n° 13: "}},
                      StopCase{"RelayWithBadTime",
                               with(good("R0001"),
                                    [](PerfLine& l) {
                                        l.relayeurs = {"851234"};
                                        l.temps = "x";
                                    }),
                               {"Une erreur s'est produite lors de l'ajout de la performance relais.",
                                "Importation annulée."}}),
    [](const auto& info) { return std::string(info.param.name); });

class PerfImport : public ImportFixture, public ::testing::Test {};

TEST_F(PerfImport, WithoutReferenceLicenceNothingIsReadEvenWithoutRelays) {
    sql(db, "delete from Licence where Nom = 'Null'");
    write_lines(source() / "liffn.txt", {good("851234").str()});
    EXPECT_FALSE(run());
    const auto t = trace();
    const auto at = std::find(t.begin(), t.end(), "Erreur Ligne n° : 0.");
    ASSERT_NE(at, t.end());
    EXPECT_EQ(*(at + 1), "Impossible de trouver la licence du nageur de référence.");
    EXPECT_EQ(count("Licence"), "0");
}

TEST_F(PerfImport, UnknownSwimmerIsCreatedOnceAndCachedAcrossOtherSwimmers) {
    write_lines(source() / "liffn.txt", {good("851234").str(), good("902001", "MARTIN").str(), good("851234").str()});
    ASSERT_TRUE(run());
    const auto t = trace();
    EXPECT_EQ(std::count_if(t.begin(), t.end(),
                            [](const std::string& l) {
                                return l.find("Nageur inconnu dans la base.") != std::string::npos;
                            }),
              2);
    EXPECT_EQ(count("Licence where licence = '851234'"), "1");
    EXPECT_EQ(count("Liffn where Num_compet <> -1"), "3");
}

TEST_F(PerfImport, ConsecutiveLinesOfOneSwimmerKeepTheFirstAge) {
    PerfLine second = good("851234");
    second.date = "12062024";
    write_lines(source() / "liffn.txt", {good("851234").str(), second.str()});
    ASSERT_TRUE(run());
    EXPECT_EQ(sql(db, "select Age from Liffn order by Num"), (std::vector<std::string>{"40", "40"}));
}

TEST_F(PerfImport, RelayMembersKnownUnknownAndEmpty) {
    PerfLine a = good("851234"), b = good("902001", "MARTIN");
    PerfLine relay{.nage = "18", .club = kClub, .licence = "R0007", .relayeurs = {"851234", "", "902001", "777777"}};
    write_lines(source() / "liffn.txt", {a.str(), b.str(), relay.str(), relay.str()});
    ASSERT_TRUE(run());
    const std::string ref = sql1(db, "select Num from Licence where Nom = 'Null'");
    const std::string na = sql1(db, "select Num from Licence where licence = '851234'");
    const std::string nb = sql1(db, "select Num from Licence where licence = '902001'");
    EXPECT_EQ(sql1(db, "select Num_Lic ||'|'|| Licence1 ||'|'|| Licence2 ||'|'|| Licence3 ||'|'|| Licence4 ||'|'|| "
                       "Licence5 ||'|'|| Licence10 from Liffn_relais limit 1"),
              "7|" + na + "|" + ref + "|" + nb + "|" + ref + "|" + ref + "|" + ref);
    // Unknown members are not cached: one warning per relay line.
    const auto t = trace();
    EXPECT_EQ(std::count(t.begin(), t.end(),
                         "Le relayeur de licence 777777 est introuvable dans le club de code " + kClub + "."),
              2);
}

TEST_F(PerfImport, EmptyFileStoresNothingAndSucceeds) {
    write_bytes(source() / "liffn.txt", "");
    EXPECT_TRUE(run());
    EXPECT_EQ(count("Rcomp"), "0");
    EXPECT_FALSE(trace_has("Efface toutes les données déjà importées."));
}

TEST_F(PerfImport, SwimmerOfASelectionJoinsItAndTakesTheStrokeSex) {
    const std::string selection = "FRA5110000000";
    PerfLine p{.nage = "52",
               .club = selection,
               .licence = "990001",
               .nom = "Gar\x87on",
               .date_licence = "31132025",
               .type = "x"};
    write_lines(source() / "liffn.txt", {p.str()});
    ASSERT_TRUE(run());
    EXPECT_EQ(sql1(db, "select Nom ||'|'|| sexe ||'|'|| Type_licence ||'|'|| Date_Depot ||'|'|| Date_obliteration "
                       "from Licence where licence = '990001'"),
              "GARCON|M|N||");
    EXPECT_EQ(count("Selection where Code_Sel = '" + selection + "'"), "1");
    EXPECT_EQ(sql1(db, "select Selection from Club where Code_federal = '" + selection + "'"), "1");
}

TEST_F(PerfImport, CompetitionTakesTheFirstFreeNameOfTheDay) {
    write_lines(source() / "liffn.txt", {good("851234").str()});
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(run());
    sql(db, "delete from Rcomp where Nom like '1er%'");
    ASSERT_TRUE(run());
    EXPECT_EQ(sql(db, "select Nom from Rcomp order by AutoNum"),
              (std::vector<std::string>{"2ème import perf du 20261206", "3ème import perf du 20261206",
                                        "1er import perf du 20261206"}));
    EXPECT_EQ(count("Piscine"), "1");
}

}  // namespace
}  // namespace ondival::test
