// One call of the component on small exports written here, against a host
// database made as `ondival init` makes it: the rows that result and the
// trace, byte for byte.
#include <gtest/gtest.h>

#include "import/cls_ondival.h"
#include "platform/cp1252.h"
#include "tests/report_support.h"

namespace ondival::test {
namespace {

class FullImport : public ImportFixture, public ::testing::Test {};

// A complete export as a club receives it, and a second one the same day.
// Clubs with and without a label, one created from a licence under "Null"
// and labelled by the second export, one whose stored label the second
// export spells otherwise; ordinary, selection and relay licences with DOS
// accents and Windows-1252 quotes (0x91 and 0x92 stay typographic, 0x93 and
// 0x94 are DOS letters), every date field; individual and relay
// performances, swimmers created from performance lines, one of them in a
// selection, one a relay member.
const std::string kClubA = "FRA5110750001";      // Paris, Ile-de-France
const std::string kClubB = "FRA5110920002";      // Hauts-de-Seine
const std::string kClubC = "FRA1320590003";      // Nord, given without a label
const std::string kClubD = "FRA4750330004";      // Gironde, first met in licence.txt
const std::string kSelection = "FRA5110000000";  // a regional selection

const LicenceLine kHelene{.club = kClubA, .licence = "851234", .nom = "Lef\x8Avre", .prenom = "H\x82l\x8Ane"};
const LicenceLine kFrancois{.club = kClubA,
                            .licence = "902001",
                            .nom = "D\x92"
                                   "ARTAGNAN",
                            .prenom = "Fran\x87ois",
                            .sexe = "M",
                            .naissance = "14021990",
                            .adresse = "3 QUAI D\x92ORSAY",
                            .suite = "\x91LES TILLEULS\x92",
                            .code_postal = "75007",
                            .localite = "PARIS 7E",
                            .telephone = "0611223344",
                            .flags = "ONOOON",
                            .depot = "31082025",
                            .obliteration = "01102025",
                            .nature = "R",
                            .code_unique = "U2"};

void write_rich_export(const std::filesystem::path& src) {
    write_lines(src / "club.txt", {club_line(kClubA, "CN PARIS"),
                                   club_line(kClubB, "C\x92"
                                                     "EST NOUS"),
                                   club_line(kClubC, "")});
    LicenceLine selected = kFrancois;
    selected.club = kSelection;
    selected.licence = "902222";  // a selection's number keeps the birth year
    selected.origine = kClubA + "902001";
    const LicenceLine new_in_selection{.club = kSelection,
                                       .licence = "082222",
                                       .nom = "L\x82ger",
                                       .prenom = "Bj\x94rn",
                                       .sexe = "M",
                                       .naissance = "29022008",
                                       .code_postal = "59000",
                                       .localite = "LILLE",
                                       .telephone = "",
                                       .flags = "NNNNNO",
                                       .depot = "05092025",
                                       .obliteration = "",
                                       .origine = kClubC + "081111",
                                       .code_unique = ""};
    // The licence number says 1992: the birth date gives way to it.
    const LicenceLine unknown_club{
        .club = kClubD, .licence = "921212", .nom = "MOREAU", .prenom = "In\x8As", .naissance = "05061993"};
    write_lines(src / "licence.txt", {kHelene.str(), kFrancois.str(), selected.str(), new_in_selection.str(),
                                      unknown_club.str(), LicenceLine{.club = kClubA, .licence = "R00001"}.str()});
    const PerfLine p1{.club = kClubA,
                      .licence = "851234",
                      .nom = "LEFEVRE",
                      .prenom = "H\x82l\x8Ane",
                      .lieu = "L\x92HAY-LES-ROSES",
                      .codifs = "ONON"};
    const PerfLine p2{.nage = "52",
                      .club = kClubA,
                      .licence = "902001",
                      .bassin = "25",
                      .date = "13022025",
                      .temps = "5831",
                      .lieu = "VICHY",
                      .passage = "R"};
    const PerfLine unknown{.club = kClubB,
                           .licence = "104321",
                           .nom = "Dupr\x82",
                           .prenom = "Zo\x89",
                           .date_licence = "02092025",
                           .type = "t"};
    const PerfLine unknown_in_selection{.nage = "02",
                                        .club = kSelection,
                                        .licence = "093333",
                                        .date = "14062025",
                                        .temps = "6012",
                                        .nom = "PETIT",
                                        .prenom = "L\x82"
                                                  "a",
                                        .lieu = "LILLE"};
    const PerfLine relay{.nage = "18",
                         .club = kClubA,
                         .licence = "R0012",
                         .temps = "25010",
                         .relayeurs = {"851234", "", "902001", "123456"},
                         .codifs = "OOON"};
    const PerfLine relay_of_created{.nage = "19",
                                    .club = kClubB,
                                    .licence = "R0003",
                                    .bassin = "25",
                                    .date = "15062025",
                                    .temps = "41544",
                                    .lieu = "SAINT-MAUR",
                                    .relayeurs = {"104321"}};
    write_lines(src / "liffn.txt",
                {p1.str(), p2.str(), unknown.str(), unknown_in_selection.str(), relay.str(), relay_of_created.str()});
    write_lines(src / "origine.txt", {"Extraction f\x82"
                                      "d\x82rale 2026"});
}

void write_second_export_of_the_day(const std::filesystem::path& src) {
    write_lines(src / "club.txt",
                {club_line(kClubA, "CN PARIS"), club_line(kClubB, "C'EST NOUS"), club_line(kClubC, ""),
                 club_line(kClubD, "ENTENTE L\x92"
                                   "ESTUAIRE")});
    write_lines(src / "licence.txt", {kFrancois.str()});
    write_lines(src / "liffn.txt", {PerfLine{.nage = "01",
                                             .club = kClubD,
                                             .licence = "921212",
                                             .bassin = "25",
                                             .date = "30112026",
                                             .temps = "3050",
                                             .lieu = "BORDEAUX"}
                                        .str()});
}

std::string expected_trace(const std::vector<std::string>& utf8_lines) {
    std::string bytes;
    for (const std::string& l : utf8_lines) bytes += platform::utf8_to_cp1252(l) + "\r\n";
    return bytes;
}

TEST_F(FullImport, RichExportThenASecondOfTheDayStoreEveryValue) {
    write_rich_export(source());
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
        "Récupération de 3 clubs sur 3.",
        "0 club déjà connu.",
        "0 club déjà connu sous un autre libellé.",
        "0 club mis à jour.",
        "0 club en erreur.",
        "",
        "",
        "Traitement des licences depuis fichier Licence.txt",
        "Warning Ligne n° : 3.",
        "Code club (FRA5110000000) inconnu de la base. Création avec Le libelle Null",
        "Warning Ligne n° : 5.",
        "Code club (FRA4750330004) inconnu de la base. Création avec Le libelle Null",
        "",
        "Récupération de 4 licences sur 6.",
        "0 licence déjà connue.",
        "1 licence de type relais.",
        "0 entrée en erreur.",
        "2 clubs ajoutés avec le libellé Null.",
        "",
        "",
        "Traitement des performances depuis fichier Liffn.txt",
        "Ligne n° : 3. Nageur inconnu dans la base.",
        "Ajout du nageur avec les données suivantes :",
        "Nom : DUPRE, Prénom : Zoë",
        "Licence : 104321, Date naissance : 20100101",
        "Nationalité : FRA",
        "Ligne n° : 4. Nageur inconnu dans la base.",
        "Ajout du nageur avec les données suivantes :",
        "Nom : PETIT, Prénom : Léa",
        "Licence : 093333, Date naissance : 20090101",
        "Nationalité : FRA",
        "Warning Ligne n° : 5.",
        "Le relayeur de licence 123456 est introuvable dans le club de code FRA5110750001.",
        "Traitement de 6 lignes de données.",
        "Récupération de 4 performances individuelles.",
        "Récupération de 2 performances de relais.",
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
    EXPECT_EQ(form.titles, (std::vector<std::string>{"Fichier club.txt", "Fichier licence.txt", "Fichier Liffn.txt"}));
    EXPECT_EQ(form.value, 100);

    write_second_export_of_the_day(source());
    ASSERT_TRUE(run());
    for (const char* line :
         {"Le code club FRA5110920002 est déjà utilisé pour le club : C’EST NOUS", "Récupération de 0 club sur 4.",
          "2 clubs déjà connus.", "1 club déjà connu sous un autre libellé.", "1 club mis à jour.",
          "Récupération de 0 licence sur 1.", "1 licence déjà connue."})
        EXPECT_TRUE(trace_has(line)) << line;

    // Every column of every row the two imports wrote, keys first (compared
    // on a file only); a licence, a competition or a pool named by another
    // row shows as ">" and its natural key, the reference swimmer as ">/".
    expect_stored_rows(db, "Club",
                       {"1|FRA5110750001|CN PARIS|0", "2|FRA5110920002|C’EST NOUS|0", "3|FRA1320590003|Null|0",
                        "4|FRA5110000000|Null|1", "5|FRA4750330004|ENTENTE L’ESTUAIRE|0"});
    expect_stored_rows(
        db, "Licence",
        {"1|||Null||<null>|<null>|<null>|<null>|<null>|<null>|<null>|<null>|<null>|<null>|<null>|<null>|<null>|<null>|"
         "<null>|<null>|<null>|<null>|<null>|<null>",
         "2|FRA5110750001|851234|LEFEVRE|Hélène|F|19850503|FRA|1 RUE DU PORT||75001|PARIS|0102030405|O|N|N|N|N|N|"
         "20250901|20250915|N|N|U1|",
         "3|FRA5110750001|902001|D’ARTAGNAN|François|M|19900214|FRA|3 QUAI D’ORSAY|‘LES TILLEULS’|75007|PARIS 7E|"
         "0611223344|O|N|O|O|O|N|20250831|20251001|N|R|U2|",
         "4|FRA1320590003|081111|LEGER|Björn|M|20080229|FRA|1 RUE DU PORT||59000|LILLE||N|N|N|N|N|O|20250905||N|N||",
         "5|FRA4750330004|921212|MOREAU|Inès|F|19920101|FRA|1 RUE DU PORT||75001|PARIS|0102030405|O|N|N|N|N|N|"
         "20250901|20250915|N|N|U1|",
         "6|FRA5110920002|104321|DUPRE|Zoë|F|20100101|FRA|<null>|<null>|<null>|<null>|<null>|O|<null>|<null>|<null>|"
         "<null>|<null>|20250902|20250902|T|N|<null>|<null>",
         "7|FRA5110000000|093333|PETIT|Léa|F|20090101|FRA|<null>|<null>|<null>|<null>|<null>|O|<null>|<null>|<null>|"
         "<null>|<null>|20250901|20250901|N|N|<null>|<null>"});
    expect_stored_rows(db, "Selection",
                       {"FRA5110000000|>FRA5110750001/902001", "FRA5110000000|>FRA1320590003/081111",
                        "FRA5110000000|>FRA5110000000/093333"});
    expect_stored_rows(
        db, "Liffn",
        {"1|12|FRA5110750001|>FRA5110750001/851234|50|20250612|10523|L’HAY-LES-ROSES|O|N|O|N||40|"
         ">1er import perf du 20261206",
         "2|52|FRA5110750001|>FRA5110750001/902001|25|20250213|5831|VICHY|N|N|N|N|R|35|>1er import perf du 20261206",
         "3|12|FRA5110920002|>FRA5110920002/104321|50|20250612|10523|PARIS|N|N|N|N||15|>1er import perf du 20261206",
         "4|2|FRA5110000000|>FRA5110000000/093333|50|20250614|6012|LILLE|N|N|N|N||16|>1er import perf du 20261206",
         "5|1|FRA4750330004|>FRA4750330004/921212|25|20261130|3050|BORDEAUX|N|N|N|N||34|>2ème import perf du "
         "20261206"});
    expect_stored_rows(db, "Liffn_relais",
                       {"1|18|FRA5110750001|12|50|20250612|25010|PARIS|>FRA5110750001/851234|>/|>FRA5110750001/902001|"
                        ">/|>/|>/|>/|>/|>/|>/|O|O|O|N|>1er import perf du 20261206",
                        "2|19|FRA5110920002|3|25|20250615|41544|SAINT-MAUR|>FRA5110920002/104321|>/|>/|>/|>/|>/|>/|>/|"
                        ">/|>/|N|N|N|N|>1er import perf du 20261206"});
    expect_stored_rows(db, "Rcomp",
                       {"1| |C|1er import perf du 20261206|20261206|20261206|1|0|>Null",
                        "2| |C|2ème import perf du 20261206|20261206|20261206|1|0|>Null"});
    expect_stored_rows(db, "Piscine", {"1|Null"});
    EXPECT_EQ(sql1(db, "select LastClose from Info"), "1");
}

}  // namespace
}  // namespace ondival::test
