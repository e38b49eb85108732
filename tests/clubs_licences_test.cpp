// Club save, geographic code checks, licence records and creation, against
// a real host database, and the club and licence file imports end to end.
#include <gtest/gtest.h>

#include "clubs/club_code.h"
#include "clubs/club_save.h"
#include "common/dos_letters.h"
#include "core/cst.h"
#include "core/database_access.h"
#include "licences/licence_creation.h"
#include "licences/licence_record.h"
#include "platform/cp1252.h"
#include "platform/text_file.h"
#include "tests/test_support.h"

namespace ondival::test {
namespace {

// The component's connection opened on a fresh host database, with a
// trace file open as file 1, as during an import.
class Connected : public ::testing::Test {
protected:
    void SetUp() override {
        db = make_host_database(dir);
        cst().objConnexion = std::make_unique<platform::Connection>();
        cst().objRecordset = std::make_unique<platform::Recordset>();
        std::string message;
        ASSERT_TRUE(bconnexion(db, message)) << message;
        vide_listes();
        platform::files().OpenOutput(1, dir.file("trace.txt"));
    }
    void TearDown() override {
        platform::files().CloseAll();
        std::string message;
        bdeconnexion(message);
        cst().objConnexion.reset();
        cst().objRecordset.reset();
        vide_listes();
    }
    std::vector<std::string> trace() {
        platform::files().Flush(1);
        return trace_lines(dir.file("trace.txt"));
    }
    FixedClock clock;
    ScratchDir dir;
    std::string db;
};

struct CodeCase {
    const char* name;
    const char* code;
    bool valid;
};

class ClubCode : public Connected, public ::testing::WithParamInterface<CodeCase> {};

TEST_P(ClubCode, AgainstTheGeographicTables) { EXPECT_EQ(code_club_valide(GetParam().code), GetParam().valid); }

INSTANTIATE_TEST_SUITE_P(
    Codes, ClubCode,
    ::testing::Values(
        CodeCase{"DepartmentOfItsRegion", "FRA5110750001", true}, CodeCase{"TwelveCharacters", "FRA511075001", false},
        CodeCase{"FourteenCharacters", "FRA51107500011", false},
        CodeCase{"ForeignWithInterRegionZero", "BEL0123456789", true},
        CodeCase{"ForeignWithAnInterRegion", "BEL5000000001", false}, CodeCase{"National", "FRA0000000001", true},
        CodeCase{"NationalWithARegion", "FRA0110000001", false}, CodeCase{"InterRegionLevel", "FRA5000000001", true},
        CodeCase{"RegionZeroWithADepartment", "FRA5000750001", false},
        CodeCase{"RegionUnderAnotherInterRegion", "FRA1110000001", false},
        CodeCase{"RegionLevelWithoutDepartmentQuery", "FRA5110000001", true},
        CodeCase{"DepartmentOfAnotherRegion", "FRA5110130001", false},
        CodeCase{"UnknownCountry", "ZZZ0000000001", false}, CodeCase{"InterRegionNotADigit", "FRAX110750001", false},
        CodeCase{"FourteenWithQuotes", "FRA5'1'0750001", false}, CodeCase{"QuoteInTheRegion", "FRA511' OR '1", false},
        // Each zero part above a non-zero one.
        CodeCase{"NationalWithADepartment", "FRA0000750001", false},
        CodeCase{"NationalWithRegionAndDepartment", "FRA0110750001", false},
        CodeCase{"ForeignWithZeroParts", "BEL0000000001", true},
        // The first and last of each reference table, and one past.
        CodeCase{"LastCountry", "AND0000000001", true}, CodeCase{"CountryInLowerCase", "fra5110750001", false},
        CodeCase{"LastInterRegion", "FRA6000000001", true}, CodeCase{"InterRegionOnePast", "FRA7000000001", false},
        CodeCase{"FirstRegion", "FRA6010000001", true}, CodeCase{"RegionInAGap", "FRA6050000001", false},
        CodeCase{"LastRegion", "FRA3940000001", true}, CodeCase{"RegionOnePast", "FRA3950000001", false},
        CodeCase{"FirstDepartment", "FRA3840010001", true}, CodeCase{"DepartmentWithALetter", "FRA39402A0001", true},
        CodeCase{"LastDepartment", "FRA6069760001", true}, CodeCase{"DepartmentOnePast", "FRA6069770001", false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Connected, SauveClubEveryStatus) {
    std::string m = "untouched";
    EXPECT_EQ(sauve_club("FRA5110750001", "Null", m), kClubCreated);
    EXPECT_EQ(m, "");
    EXPECT_EQ(sauve_club("FRA5110750001", "CN PARIS", m), kClubRelabelled);
    EXPECT_EQ(sauve_club("FRA5110750001", "CN PARIS", m), kClubKnown);
    EXPECT_EQ(sauve_club("FRA5110750001", "CN Paris", m), kClubOtherLabel);  // case counts
    EXPECT_EQ(m, platform::utf8_to_cp1252("Le code club FRA5110750001 est déjà utilisé pour le club : CN PARIS"));
    EXPECT_EQ(sauve_club("FRA5110750001", "Null", m), kClubOtherLabel);
    EXPECT_EQ(sauve_club("FRA51107500", "X", m), kClubNotSaved);
    EXPECT_EQ(m, platform::utf8_to_cp1252("Le code club est erronné : FRA51107500"));
    cst().colClubsTraites.Add("FRA5110750001", "fra5110750001");
    m = "kept";
    EXPECT_EQ(sauve_club("FRA5110750001", "OTHER", m), kClubHandled);
    EXPECT_EQ(m, "kept");
    EXPECT_EQ(sql(db, "select Code_federal || '|' || Intitule || '|' || CAST(Selection AS INTEGER) from Club"),
              (std::vector<std::string>{"FRA5110750001|CN PARIS|0"}));

    EXPECT_EQ(sauve_club("FRA5110000000", "L'EQUIPE", m), kClubCreated);
    EXPECT_EQ(
        sql1(db, "select Intitule || '|' || CAST(Selection AS INTEGER) from Club where Code_federal = 'FRA5110000000'"),
        "L'EQUIPE|1");
    // A database that lost its table gives -1 with the engine's text.
    sql(db, "drop table Pays");
    EXPECT_EQ(sauve_club("FRA5110920001", "X", m), kClubFailure);
    EXPECT_EQ(m.rfind(platform::utf8_to_cp1252("Erreur n° "), 0), 0u);
}

LicenceRecord parse(const std::string& line) {
    TextList accents, capitals;
    WidthList widths;
    charge_accents(accents, capitals);
    charge_largeurs_licence(widths);
    LicenceRecord r;
    decoupe_licence(accents_dos(line), widths, accents, capitals, r);
    return r;
}

struct RecordCase {
    const char* name;
    LicenceLine line;
    std::size_t field;
    std::string expected;  // UTF-8
};

class LicenceParse : public ::testing::TestWithParam<RecordCase> {
protected:
    FixedClock clock;
};

TEST_P(LicenceParse, Field) {
    const LicenceRecord r = parse(GetParam().line.str());
    EXPECT_EQ(platform::cp1252_to_utf8(r[GetParam().field]), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Records, LicenceParse,
    ::testing::Values(
        RecordCase{"DosNameToPlainCapitals", {.licence = "851234", .nom = "Lef\x8Avre-Dupr\x82"}, 2, "LEFEVRE-DUPRE"},
        RecordCase{"UGraveKeepsItsAccent", {.licence = "851234", .nom = "N\x97nez"}, 2, "NÙNEZ"},
        RecordCase{"InnerBlanksStay", {.licence = "851234", .nom = "LE  GALL"}, 2, "LE  GALL"},
        RecordCase{"FirstNameKeepsAccents", {.licence = "851234", .prenom = "H\x82l\x8Ane"}, 3, "Hélène"},
        RecordCase{"BirthAgrees", {.licence = "851234", .naissance = "03051985"}, 5, "19850503"},
        RecordCase{"BirthDisagrees", {.licence = "851234", .naissance = "03051986"}, 5, "19850101"},
        RecordCase{"BirthInvalid", {.licence = "851234", .naissance = "00000000"}, 5, "19850101"},
        RecordCase{"BirthNotAgainstMonthLength", {.licence = "851234", .naissance = "31021985"}, 5, "19850231"},
        RecordCase{"CenturyRule", {.licence = "271234", .naissance = "01011927"}, 5, "19270101"},
        RecordCase{"DepositDate", {.licence = "851234", .depot = "01092025"}, 18, "20250901"},
        RecordCase{"Origin", {.licence = "851234", .origine = "FRA5110750001902001"}, 22, "FRA5110750001902001"},
        RecordCase{"QuoteStaysInField", {.licence = "851234", .adresse = "2 RUE DE L'ORME"}, 7, "2 RUE DE L'ORME"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LicenceParseLength, ShortLinesGiveEmptyFieldsAndLongOnesAreCut) {
    FixedClock clock;
    const std::string full = LicenceLine{.licence = "851234", .nom = "DUPONT"}.str();
    ASSERT_EQ(full.size(), 248u);
    EXPECT_EQ(parse(full + "EXTRA"), parse(full));
    const LicenceRecord cut = parse(full.substr(0, 175));  // stops inside the telephone
    EXPECT_EQ(cut[11], "010203");
    for (std::size_t i = kLicSportive; i < kLicenceFields; ++i) EXPECT_EQ(cut[i], "") << "field " << i + 1;
    EXPECT_THROW(parse(LicenceLine{.licence = "AB1234", .naissance = "03051985"}.str()), platform::Failure);
}

TEST_F(Connected, SelectionRecordWithUnknownOriginClubCreatesItAndTheMembership) {
    LicenceRecord r = parse(
        LicenceLine{.club = "FRA5110000000", .licence = "990001", .nom = "MARTIN", .origine = "FRA5110920007851234"}
            .str());
    std::int32_t clubs_added = 0;
    std::string num;
    ASSERT_TRUE(ajoute_licence(r, 1, clubs_added, num, 7));
    EXPECT_EQ(clubs_added, 1);
    EXPECT_EQ(r[0], "FRA5110920007");
    EXPECT_EQ(r[1], "851234");
    EXPECT_EQ(sql1(db, "select Code_club || licence from Licence where Num = " + num), "FRA5110920007851234");
    EXPECT_EQ(sql1(db, "select Code_Sel from Selection where Num_Lic = " + num), "FRA5110000000");
    EXPECT_EQ(trace(), (std::vector<std::string>{"Création d'un club avec le code FRA5110920007 et libellé Null"}));
}

TEST_F(Connected, SelectionRecordWithoutOriginLicenceUsesTheSelectionNumber) {
    LicenceRecord r = parse(LicenceLine{.club = "FRA5110000000", .licence = "990001", .origine = ""}.str());
    std::int32_t clubs_added = 0;
    std::string num;
    EXPECT_FALSE(ajoute_licence(r, 1, clubs_added, num, 7));
    EXPECT_EQ(trace(),
              (std::vector<std::string>{
                  "Erreur Ligne n° : 7.",
                  "Véritable numéro de licence introuvable, utilisation de celui de la sélection : 990001",
                  "Une erreur s'est produite dans la fonction d'ajout de club.", "Le code club est erronné : "}));
    EXPECT_EQ(sql1(db, "select count(*) from Licence"), "1");  // the reference licence only
}

// club.txt and licence.txt through a whole call.
class FileImports : public ImportFixture, public ::testing::Test {
protected:
    void write_liffn() { write_lines(source() / "liffn.txt", {}); }
};

// Every answer the club save can give, met in one club.txt beside lines too
// short or badly coded: a club created, one stored as "Null" that gets its
// label, one known under the same label, one known under another label
// (reported, never changed), a club repeated further down.
TEST_F(FileImports, ClubFileMeetsEveryStatusAndReportsErrorsAtTheirLines) {
    for (const auto& [code, label] :
         {std::pair{"FRA5110750002", "Null"}, {"FRA5110750003", "CN TROIS"}, {"FRA5110750004", "ANCIEN NOM"}})
        sql(db, std::string("insert into Club (Code_federal, Intitule, Selection) values ('") + code + "', '" + label +
                    "', false)");
    write_lines(source() / "club.txt",
                {club_line(kClub, "CN PARIS"), "", kClub, club_line("FRA511075", "SHORT CODE"),
                 club_line(kClub, "OTHER"), club_line("FRA5110920002", ""), club_line("FRA5110750002", "CN DEUX"),
                 club_line("FRA5110750003", "CN TROIS"), club_line("FRA5110750004", "NOUVEAU NOM")});
    write_liffn();
    EXPECT_TRUE(run());
    const std::vector<std::string> too_short = {
        "La longueur de la ligne ne permet de contenir le code et le libellé du club"};
    EXPECT_EQ(after("Erreur Ligne n° : 2."), too_short);
    EXPECT_EQ(after("Erreur Ligne n° : 3."), too_short);
    EXPECT_EQ(after("Erreur Ligne n° : 4."), std::vector<std::string>{"Le code club est erronné : FRA511075"});
    for (const char* line : {"Récupération de 2 clubs sur 9.", "1 club déjà connu.",
                             "1 club déjà connu sous un autre libellé.", "1 club mis à jour.", "3 clubs en erreur."})
        EXPECT_TRUE(trace_has(line)) << line;
    EXPECT_EQ(sql(db, "select Code_federal || '|' || Intitule from Club order by Code_federal"),
              (std::vector<std::string>{"FRA5110750001|CN PARIS", "FRA5110750002|CN DEUX", "FRA5110750003|CN TROIS",
                                        "FRA5110750004|ANCIEN NOM", "FRA5110920002|Null"}));
}

TEST_F(FileImports, LicenceLinesInErrorAndWarningsCarryTheirLineNumbers) {
    sql(db, "insert into Club (Code_federal, Intitule, Selection) values ('" + kClub + "', 'CN PARIS', false)");
    sql(db, "insert into Licence (Code_club, licence, Nom, Prenom, Date_Naissance) values ('" + kClub +
                "', '902001', 'MARTIN', 'Paul', '19900214')");
    write_lines(source() / "licence.txt",
                {LicenceLine{.club = kClub, .licence = "851234", .nom = "DUPONT"}.str(),
                 LicenceLine{.club = "BAD", .licence = "861234", .nom = "X"}.str(),
                 LicenceLine{.club = kClub, .licence = "902001", .nom = "Martin", .prenom = "Paul"}.str(),
                 LicenceLine{.club = kClub, .licence = "r00001"}.str(),
                 LicenceLine{.club = kClub, .licence = "851234", .nom = "DUPONT"}.str()});
    write_liffn();
    EXPECT_TRUE(run());
    EXPECT_EQ(after("Erreur Ligne n° : 2."),
              std::vector<std::string>{
                  "Code club (BAD          ) inconnu de la base. Echec de la création avec Le libelle Null."});
    EXPECT_EQ(after("Warning Ligne n° : 3.", 3),
              (std::vector<std::string>{"Licence (" + kClub + " + 902001) déjà utilisée.",
                                        "Nom dans la base : MARTIN Paul", "Nom dans fichier : Martin Paul"}));
    for (const char* line : {"Récupération de 1 licence sur 5.", "1 licence déjà connue.", "1 licence de type relais.",
                             "1 entrée en erreur.", "0 club ajouté avec le libellé Null."})
        EXPECT_TRUE(trace_has(line)) << line;
    EXPECT_EQ(count("Licence"), "3");
}

TEST_F(FileImports, InterruptedLicenceImportKeepsWhatWentInAndNamesTheLine) {
    write_lines(source() / "licence.txt",
                {LicenceLine{.club = kClub, .licence = "851234", .nom = "DUPONT"}.str(),
                 LicenceLine{.club = kClub, .licence = "AB1234", .naissance = "01011990"}.str(),
                 LicenceLine{.club = kClub, .licence = "861234", .nom = "NEVER"}.str()});
    write_liffn();
    EXPECT_TRUE(run());
    const auto stop = after("Erreur Ligne n° : 2.", 2);
    ASSERT_EQ(stop.size(), 2u);
    EXPECT_EQ(stop[0], "Import des licences interrompu.");
    EXPECT_EQ(stop[1].rfind("Erreur n° 13: ", 0), 0u);
    EXPECT_FALSE(trace_has("Récupération de 1 licence sur 3."));
    EXPECT_EQ(sql(db, "select Nom from Licence where Nom in ('DUPONT', 'NEVER')"), std::vector<std::string>{"DUPONT"});
}

TEST_F(FileImports, RepeatedSelectionPlaceInterruptsWithItsReason) {
    const std::string selection = "FRA5110000000";
    write_lines(source() / "licence.txt",
                {LicenceLine{.club = selection, .licence = "990001", .nom = "A", .origine = kClub + "851234"}.str(),
                 LicenceLine{.club = selection, .licence = "990001", .nom = "B", .origine = kClub + "861234"}.str()});
    write_liffn();
    EXPECT_TRUE(run());
    const auto stop = after("Erreur Ligne n° : 2.", 2);
    ASSERT_EQ(stop.size(), 2u);
    EXPECT_EQ(stop[0], "Import des licences interrompu.");
    EXPECT_NE(stop[1].find(selection + "990001"), std::string::npos);
    EXPECT_EQ(count("Licence where Nom in ('A', 'B')"), "2");  // both rows written before the stop stay
}

}  // namespace
}  // namespace ondival::test
