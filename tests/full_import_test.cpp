// One call of the component on small exports written here, against a host
// database made as `ondival init` makes it: the rows that result and the
// trace, byte for byte.
#include <gtest/gtest.h>

#include "import/cls_ondival.h"
#include "platform/cp1252.h"
#include "tests/test_support.h"

namespace ondival::test {
namespace {

class FullImport : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(source());
        std::filesystem::create_directories(scratch());
        db = make_host_database(dir);
    }
    std::filesystem::path source() const { return dir.path() / "src"; }
    std::filesystem::path scratch() const { return dir.path() / "tmp"; }
    std::string trace_path() const { return dir.file("trace.txt"); }
    bool run(platform::ProgressForm* form = nullptr) {
        return clsOndival().bimport_perf(db, source().string(), scratch().string(), trace_path(), form);
    }
    std::string count(const std::string& where) { return sql1(db, "select count(*) from " + where); }

    FixedClock clock;
    ScratchDir dir;
    std::string db;
};

// A complete export as a club receives it: two clubs (one new, one that
// will be created from a licence), ordinary, selection and relay
// licences, individual and relay performances, one unknown swimmer.
const std::string kClubA = "FRA5110750001";  // Paris, Ile-de-France
const std::string kClubB = "FRA5110920002";  // Hauts-de-Seine
const std::string kSelection = "FRA5110000000";

void write_small_export(const std::filesystem::path& src) {
    write_lines(src / "club.txt", {club_line(kClubA, "CN PARIS"), club_line(kClubB, "C'EST NOUS")});
    LicenceLine a1{.club = kClubA, .licence = "851234", .nom = "Lef\x8Avre", .prenom = "H\x82l\x8Ane"};
    LicenceLine a2{
        .club = kClubA, .licence = "902001", .nom = "MARTIN", .prenom = "Paul", .sexe = "M", .naissance = "14021990"};
    LicenceLine sel{.club = kSelection,
                    .licence = "990001",
                    .nom = "MARTIN",
                    .prenom = "Paul",
                    .sexe = "M",
                    .naissance = "14021990",
                    .origine = kClubA + "902001"};
    LicenceLine relay{.club = kClubA, .licence = "R00001", .nom = "RELAIS"};
    write_lines(src / "licence.txt", {a1.str(), a2.str(), sel.str(), relay.str()});
    PerfLine p1{
        .club = kClubA, .licence = "851234", .nom = "LEFEVRE", .prenom = "H\x82l\x8Ane", .lieu = "L'HAY-LES-ROSES"};
    PerfLine p2{
        .nage = "52", .club = kClubA, .licence = "902001", .date = "13062025", .nom = "MARTIN", .prenom = "Paul"};
    PerfLine p3{.club = kClubB, .licence = "104321", .nom = "Dupr\x82", .prenom = "Zo\x89", .type = "t"};
    PerfLine r1{.nage = "18",
                .club = kClubA,
                .licence = "R0012",
                .temps = "25010",
                .relayeurs = {"851234", "902001", "123456"}};
    write_lines(src / "liffn.txt", {p1.str(), p2.str(), p3.str(), r1.str()});
    write_lines(src / "origine.txt", {"Extraction f\x82"
                                      "d\x82rale 2026"});
}

std::string expected_trace(const std::vector<std::string>& utf8_lines) {
    std::string bytes;
    for (const std::string& l : utf8_lines) bytes += platform::utf8_to_cp1252(l) + "\r\n";
    return bytes;
}

TEST_F(FullImport, SmallExportGoesInWithItsTrace) {
    write_small_export(source());
    RecordingForm form;
    ASSERT_TRUE(run(&form));

    // Written from the trace rules, not from a previous run.
    std::string expected = expected_trace({
        "Début de l'import : 06/12/2026 14:03:27",
        "",
        "Données source générées par l'application : Extraction f‚d‚rale 2026",
        "",
        "",
        "Vérification des clubs depuis fichier Club.txt",
        "",
        "Récupération de 2 clubs sur 2.",
        "0 club déjà connu.",
        "0 club déjà connu sous un autre libellé.",
        "0 club mis à jour.",
        "0 club en erreur.",
        "",
        "",
        "Traitement des licences depuis fichier Licence.txt",
        "Warning Ligne n° : 3.",
        "Code club (FRA5110000000) inconnu de la base. Création avec Le libelle Null",
        "",
        "Récupération de 2 licences sur 4.",
        "0 licence déjà connue.",
        "1 licence de type relais.",
        "0 entrée en erreur.",
        "1 club ajouté avec le libellé Null.",
        "",
        "",
        "Traitement des performances depuis fichier Liffn.txt",
        "Ligne n° : 3. Nageur inconnu dans la base.",
        "Ajout du nageur avec les données suivantes :",
        "Nom : DUPRE, Prénom : Zoë",
        "Licence : 104321, Date naissance : 20100101",
        "Nationalité : FRA",
        "Warning Ligne n° : 4.",
        "Le relayeur de licence 123456 est introuvable dans le club de code FRA5110750001.",
        "Traitement de 4 lignes de données.",
        "Récupération de 3 performances individuelles.",
        "Récupération de 1 performance de relais.",
        "0 club ajouté avec le libellé Null.",
        "",
        "",
        "Création de la référence dans la table des compétitions",
        "Impossible de trouver la piscine référence. Création de celle ci.",
        "Création réussie de la piscine de référence.",
        "Création réussie de la référence dans la table des compétitions.",
        "",
        "",
        "",
        "Fin importation : 06/12/2026 14:03:27",
    });
    // The origin line is copied as the file holds it: DOS bytes and all.
    const std::string origin_utf8 = platform::utf8_to_cp1252("Extraction f‚d‚rale 2026");
    expected.replace(expected.find(origin_utf8), origin_utf8.size(),
                     "Extraction f\x82"
                     "d\x82rale 2026");
    EXPECT_EQ(read_bytes(trace_path()), expected);

    EXPECT_EQ(sql(db,
                  "select Code_federal || '|' || Intitule || '|' || CAST(Selection AS INTEGER) from Club order by Num"),
              (std::vector<std::string>{kClubA + "|CN PARIS|0", kClubB + "|C'EST NOUS|0", kSelection + "|Null|1"}));
    EXPECT_EQ(sql(db, "select Code_club || '|' || licence || '|' || Nom || '|' || Prenom || '|' || "
                      "Date_Naissance || '|' || Date_Depot || '|' || Type_licence from Licence where Nom <> 'Null' "
                      "order by Num"),
              (std::vector<std::string>{kClubA + "|851234|LEFEVRE|Hélène|19850503|20250901|N",
                                        kClubA + "|902001|MARTIN|Paul|19900214|20250901|N",
                                        kClubB + "|104321|DUPRE|Zoë|20100101|20250901|T"}));
    // The selection record went to the swimmer's real licence.
    EXPECT_EQ(sql1(db, "select count(*) from Selection s join Licence l on l.Num = s.Num_Lic "
                       "where s.Code_Sel = '" +
                           kSelection + "' and l.licence = '902001'"),
              "1");
    const std::string compet = sql1(db, "select AutoNum from Rcomp");
    EXPECT_EQ(sql1(db, "select Nom || '|' || debut || '|' || fin || '|' || CAST(Deroule AS INTEGER) || CAST(Visible AS "
                       "INTEGER) from Rcomp"),
              "1er import perf du 20261206|20261206|20261206|10");
    EXPECT_EQ(sql(db, "select Code_epreuve || '|' || Age || '|' || Lieu || '|' || Date_perf || '|' || Num_compet "
                      "from Liffn order by Num"),
              (std::vector<std::string>{"12|40|L'HAY-LES-ROSES|20250612|" + compet, "52|35|PARIS|20250613|" + compet,
                                        "12|15|PARIS|20250612|" + compet}));
    // Two known members, one unknown, seven empty places: the reference
    // licence fills the last eight.
    const std::string ref = sql1(db, "select Num from Licence where Nom = 'Null'");
    EXPECT_EQ(sql1(db, "select Num_Lic || '|' || Licence3 || '|' || Licence10 || '|' || Num_compet from Liffn_relais"),
              "12|" + ref + "|" + ref + "|" + compet);
    EXPECT_EQ(sql1(db, "select LastClose from Info"), "1");
    EXPECT_EQ(form.titles, (std::vector<std::string>{"Fichier club.txt", "Fichier licence.txt", "Fichier Liffn.txt"}));
    EXPECT_EQ(form.value, 100);
}

TEST_F(FullImport, SecondCallRecognisesClubsAndLicencesAndOpensASecondCompetition) {
    write_small_export(source());
    ASSERT_TRUE(run());
    ASSERT_TRUE(run());
    const auto trace = trace_lines(trace_path());
    auto has = [&](const std::string& line) { return std::find(trace.begin(), trace.end(), line) != trace.end(); };
    EXPECT_TRUE(has("Récupération de 0 club sur 2."));
    EXPECT_TRUE(has("2 clubs déjà connus."));
    EXPECT_TRUE(has("Récupération de 0 licence sur 4."));
    EXPECT_TRUE(has("2 licences déjà connues."));
    EXPECT_FALSE(has("Ligne n° : 3. Nageur inconnu dans la base."));
    EXPECT_EQ(count("Club"), "3");
    EXPECT_EQ(count("Licence"), "4");
    EXPECT_EQ(count("Selection"), "1");
    EXPECT_EQ(sql(db, "select Nom from Rcomp order by AutoNum"),
              (std::vector<std::string>{"1er import perf du 20261206", "2ème import perf du 20261206"}));
    EXPECT_EQ(count("Piscine"), "1");
    EXPECT_EQ(count("Liffn where Num_compet = (select max(AutoNum) from Rcomp)"), "3");
    EXPECT_EQ(count("Liffn where Num_compet = -1"), "0");
}

}  // namespace
}  // namespace ondival::test
