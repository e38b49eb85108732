// The text every import shares: DOS letters put back in fixed-width lines,
// family names in plain capitals, the keyed lists behind the swimmer caches,
// numbers read the host's way, and the trace and progress bar the host shows.
#include <gtest/gtest.h>

#include <cfenv>
#include <functional>

#include "common/dos_letters.h"
#include "common/keyed_list.h"
#include "common/letters.h"
#include "common/numeric.h"
#include "common/progress.h"
#include "common/trace.h"
#include "core/cst.h"
#include "platform/cp1252.h"
#include "platform/error.h"
#include "platform/text_file.h"
#include "tests/test_support.h"

namespace ondival::test {
namespace {

TEST(AccentMap, FamilyNamesComeOutInPlainCapitals) {
    TextList accents, capitals;
    charge_accents(accents, capitals);
    const std::pair<std::string, std::string> cases[] = {
        {"Lefèvre-Dupré"_w, "LEFEVRE-DUPRE"},
        {"BÉRARD"_w, "BERARD"},
        {"éèêëàäâîïôöüûç"_w, "EEEEAAAIIOOUUC"},
        {"ÉÈÊËÀÄÂÎÏÔÖÜÛÇ"_w, "EEEEAAAIIOOUUC"},
        {"Nùnez"_w, "NÙNEZ"_w},  // ù has no plain capital in the map
        {"Sánchez"_w, "SÁNCHEZ"_w},
        {"d'Œuvre"_w, "D'ŒUVRE"_w},
        {"\x90MILE", "\x90MILE"},  // DOS É left by accents_dos stays as it is
        {"", ""},
    };
    for (const auto& [name, expected] : cases)
        EXPECT_EQ(majuscules_sans_accents(name, accents, capitals), expected) << name;
}

TEST(KeyedListTest, KeysIgnoreLetterCaseAccentedLettersIncluded) {
    TextList list;
    list.Add("1", "FRA5110750001851234");
    list.Add("2", "Élodie"_w);
    list.Add("3", "Œuf"_w);
    EXPECT_EQ(list.Item("fra5110750001851234"), "1");
    EXPECT_EQ(list.Item("éLODIE"_w), "2");
    EXPECT_EQ(list.Item("œUF"_w), "3");
    EXPECT_FALSE(list.Contains("Elodie"));  // É and E are different letters
    EXPECT_EQ(error_number([&] { list.Add("x", "fra5110750001851234"); }), platform::err::kKeyAlreadyAssociated);
    EXPECT_EQ(error_number([&] { list.Add("x", "ÉLODIE"_w); }), platform::err::kKeyAlreadyAssociated);
    EXPECT_EQ(list.Count(), 3u);  // a refused item is not added
    EXPECT_EQ(error_number([&] { list.Item("absent"); }), platform::err::kInvalidCall);
}

TEST(KeyedListTest, PositionsCountFromOneBesideTheKeys) {
    TextList list;
    for (const char* k : {"a", "b", "c", "d"}) list.Add(std::string("item ") + k, k);
    list.Add("unkeyed");
    EXPECT_EQ(list.Item(1), "item a");
    EXPECT_EQ(list.Item(5), "unkeyed");
    EXPECT_EQ(error_number([&] { list.Item(0); }), platform::err::kSubscript);
    EXPECT_EQ(error_number([&] { list.Item(6); }), platform::err::kSubscript);
    ASSERT_EQ(list.Count(), 5u);
    EXPECT_EQ(list.Item(3), "item c");
    EXPECT_EQ(list.Item("c"), "item c");
    EXPECT_EQ(list.Item("D"), "item d");

    std::string value = "stale";
    EXPECT_FALSE(blit_collection(list, "zz", value));
    EXPECT_EQ(value, "");
    EXPECT_TRUE(blit_collection(list, "a", value));
    EXPECT_EQ(value, "item a");

    vide_collection(list);
    EXPECT_EQ(list.Count(), 0u);
    EXPECT_FALSE(list.Contains("a"));
    vide_collection(static_cast<TextList*>(nullptr));  // a list not created yet
}

// A national export files hundreds of thousands of swimmers in one list:
// every key stays found under either case through the index's growth, a
// key met again is refused after it, and a cleared list is filled anew.
TEST(KeyedListTest, ManyKeysStayFoundAcrossGrowthAndClearing) {
    TextList list;
    const auto key = [](int i) { return "Fra" + std::to_string(511075 + i) + "ÉpÉe"_w + std::to_string(i % 7); };
    for (int round = 0; round < 2; ++round) {
        for (int i = 0; i < 20000; ++i) list.Add(std::to_string(i), key(i));
        ASSERT_EQ(list.Count(), 20000u);
        for (int i = 0; i < 20000; i += 37) {
            EXPECT_EQ(list.Item(upper_1252(key(i))), std::to_string(i)) << i;
            std::string lower = key(i);
            for (char& c : lower) c = to_lower_1252(c);
            EXPECT_EQ(error_number([&] { list.Add("x", lower); }), platform::err::kKeyAlreadyAssociated) << i;
        }
        EXPECT_FALSE(list.Contains(key(20000)));
        // A key refused by TryAdd adds nothing and leaves the first in place.
        EXPECT_FALSE(list.TryAdd("again", upper_1252(key(5))));
        EXPECT_EQ(list.Count(), 20000u);
        EXPECT_EQ(list.Item(key(5)), "5");
        list.Add("unkeyed");
        EXPECT_EQ(list.Item(20001), "unkeyed");
        vide_collection(list);
        EXPECT_FALSE(list.Contains(key(0)));
    }
}

TEST(Numeric, ReadsNumbersAsTheHostDoes) {
    const std::pair<const char*, double> values[] = {
        {"7 ", 7},
        {"AB", 0},
        {" 12abc", 12},
        {"-1", -1},
        {"1a", 1},
        {"", 0},
        {"   ", 0},
        {"12.5", 12.5},
        {"12,5", 12},
        {".5", 0.5},
        {"+3", 3},
        {"1 2", 12},
        {"1e3", 1000},
        {"- 3", -3},
        {"+-3", 0},
        {"3-", 3},
        {"\t5\r", 5},
        {"-", 0},
        {"999999999999999", 999999999999999},
        {"12345678901234567", 12345678901234567.0},
        {"98765432109876543210", 98765432109876543210.0},
    };
    for (const auto& [text, v] : values) EXPECT_EQ(numeric_value(text), v) << '"' << text << '"';

    const std::pair<double, double> rounded[] = {{2.5, 2},   {3.5, 4},    {0.5, 0}, {1.5, 2},
                                                 {-2.5, -2}, {2.4999, 2}, {2.6, 3}, {-3.5, -4}};
    for (const auto& [v, r] : rounded) EXPECT_EQ(arrondi_pair(v), r) << v;
    // The caller's rounding mode neither changes the result nor is lost.
    std::fesetround(FE_UPWARD);
    EXPECT_EQ(arrondi_pair(2.5), 2);
    EXPECT_EQ(std::fegetround(), FE_UPWARD);
    std::fesetround(FE_TONEAREST);

    EXPECT_EQ(entier_16(32767.4), 32767);
    EXPECT_EQ(entier_16(-32768.5), -32768);  // the half goes to the even -32768
    EXPECT_EQ(error_number([] { entier_16(32767.5); }), platform::err::kOverflow);

    for (const auto& [v, t] : std::vector<std::pair<double, std::string>>{
             {12, "12"}, {1.5, "1.5"}, {-3, "-3"}, {0, "0"}, {-0.0, "0"}, {65.32, "65.32"}, {0.1 + 0.2, "0.3"}})
        EXPECT_EQ(texte_nombre(v), t);
}

TEST(Numeric, OnlyPlainDecimalsGoBareIntoAStatement) {
    for (const char* ok : {"10523", "-1", "12.5", "0", "007"}) EXPECT_TRUE(est_nombre_decimal(ok)) << ok;
    for (const char* bad :
         {"", "-", "1e3", "12,5", "1 2", "1;DROP", "0x10", "12.", ".5", "+1", " 1", "1 ", "--1", "1.2.3"})
        EXPECT_FALSE(est_nombre_decimal(bad)) << '"' << bad << '"';
}

// The trace helpers write through the numbered files, as the import does.
class TraceFile : public ::testing::Test {
protected:
    void SetUp() override { platform::files().OpenOutput(kTraceFile, path); }
    void TearDown() override {
        platform::files().Close(kTraceFile);
        cst().objForm = nullptr;
    }
    std::string written() {
        platform::files().Close(kTraceFile);
        return read_bytes(path);
    }
    ScratchDir dir;
    std::string path = dir.file("trace.txt");
};

TEST_F(TraceFile, PluralMarkersFollowTheCount) {
    const std::string msg = " club<PLURIEL> déjà connu<PLURIEL>."_w;
    for (int count : {0, 1, 2, -1, 3}) trace_pluriel(kTraceFile, count, msg);
    trace_pluriel(kTraceFile, 2, "<PLURIEL>x <pluriel>");  // exact marker only
    trace_pluriel(kTraceFile, 0, "<PLURIEL<PLURIEL>>");    // one pass, no new marker
    EXPECT_EQ(written(), (" club déjà connu.\r\n club déjà connu.\r\n clubs déjà connus.\r\n"
                          " club déjà connu.\r\n clubs déjà connus.\r\nsx <pluriel>\r\n<PLURIEL>\r\n"_w));
}

TEST_F(TraceFile, LocatedAndErrorEntries) {
    trace_ligne(kTraceFile, 5, "msg", "Erreur");
    trace_ligne(kTraceFile, 123456, "Le code club est erronné"_w, "Warning");
    trace_erreur(kTraceFile, "plain", 0);
    trace_erreur(kTraceFile, "at five", 5);
    const platform::Error none{0, "ignored"};
    trace_erreur(kTraceFile, "nothing pending", 0, &none);
    try {
        platform::raise(3021, "Aucun enregistrement en cours");
    } catch (...) {
        const platform::Error pending = platform::current_error();
        trace_erreur(kTraceFile, "Import interrompu.", 0, &pending);
        trace_erreur(kTraceFile, "Ligne rejetée."_w, 7, &pending);
    }
    EXPECT_EQ(written(),
              ("Erreur Ligne n° : 5.\r\nmsg\r\n"
               "Warning Ligne n° : 123456.\r\nLe code club est erronné\r\n"
               "plain\r\n"
               "Erreur Ligne n° : 5.\r\nat five\r\n"
               "nothing pending\r\n"
               "Import interrompu.\r\nErreur n° 3021: Aucun enregistrement en cours\r\n"
               "Erreur Ligne n° : 7.\r\nLigne rejetée.\r\nErreur n° 3021: Aucun enregistrement en cours\r\n"_w));
    EXPECT_EQ(texte_erreur(-2147217900, "Syntaxe"), "Erreur n° -2147217900: Syntaxe"_w);
    EXPECT_EQ(texte_erreur(0, ""), "Erreur n° 0: "_w);
}

TEST_F(TraceFile, StepsAndProgressBar) {
    RecordingForm form;
    form.value = 55;
    avance_progression(30);  // no form yet: nothing to move, no failure
    cst().objForm = &form;
    affiche_etape("Étape 2 : import des licences"_w, "Import des licences", kTraceFile);
    EXPECT_EQ(form.titles, std::vector<std::string>{"Étape 2 : import des licences"});
    EXPECT_EQ(form.value, 0);
    EXPECT_EQ(form.refreshes, 1);
    std::vector<double> seen;
    for (int i = 0; i < 5; ++i) {
        avance_progression(30);
        seen.push_back(form.value);
    }
    EXPECT_EQ(seen, (std::vector<double>{30, 60, 90, 100, 100}));
    EXPECT_EQ(form.refreshes, 1);  // advancing does not repaint

    // A step of 100/7 from an underestimated line count never passes 100.
    form.value = 0;
    form.max_seen = 0;
    for (int i = 0; i < 20; ++i) avance_progression(100.0 / 7);
    EXPECT_EQ(form.value, 100);
    EXPECT_LE(form.max_seen, 100);
    EXPECT_EQ(written(), "\r\nImport des licences\r\n");
}

}  // namespace
}  // namespace ondival::test
