// The character tables held against the standard rather than against our
// own copy of them: every byte of Windows-1252 both ways through UTF-8, and
// every DOS byte the export's accented letters come in, compared with the
// C library's own converters (glibc's iconv), which were written from the
// code pages' published tables by other hands.
#include <gtest/gtest.h>
#include <iconv.h>

#include <optional>
#include <stdexcept>
#include <string>

#include "common/dos_letters.h"
#include "platform/cp1252.h"

namespace ondival::test {
namespace {

// One of the C library's converters, opened once: the text converted, or
// nullopt when iconv refuses it (a byte the code page leaves undefined, a
// character it cannot hold).
class Iconv {
public:
    Iconv(const char* from, const char* to) : cd_(iconv_open(to, from)) {
        if (cd_ == reinterpret_cast<iconv_t>(-1))
            throw std::runtime_error(std::string("iconv_open ") + from + " to " + to);
    }
    ~Iconv() { iconv_close(cd_); }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;

    std::optional<std::string> operator()(const std::string& text) {
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);  // a fresh state for each text
        std::string in = text, out(8 * text.size() + 16, '\0');
        char* in_ptr = in.data();
        char* out_ptr = out.data();
        std::size_t in_left = in.size(), out_left = out.size();
        if (iconv(cd_, &in_ptr, &in_left, &out_ptr, &out_left) == static_cast<std::size_t>(-1)) return std::nullopt;
        out.resize(out.size() - out_left);
        return out;
    }

private:
    iconv_t cd_;
};

std::string byte(int b) { return std::string(1, static_cast<char>(b)); }

// The five bytes Windows-1252 leaves undefined travel as the C1 controls of
// the same value, so that a byte the export holds is never lost in the
// database; every other byte is the standard's character.
TEST(CharacterTables, EveryWindows1252ByteBothWaysAsTheStandardSays) {
    Iconv standard_utf8("CP1252", "UTF-8");
    for (int b = 0; b < 256; ++b) {
        const std::string utf8 = platform::cp1252_to_utf8(byte(b));
        const std::optional<std::string> standard = standard_utf8(byte(b));
        if (standard) {
            EXPECT_EQ(utf8, *standard) << "byte " << b;
        } else {
            EXPECT_TRUE(b == 0x81 || b == 0x8D || b == 0x8F || b == 0x90 || b == 0x9D) << "byte " << b;
            EXPECT_EQ(utf8, "\xC2" + byte(b)) << "byte " << b << " as its C1 control";
        }
        EXPECT_EQ(platform::utf8_to_cp1252(utf8), byte(b)) << "byte " << b << " back";
    }
}

// From UTF-8, every character of the Basic Multilingual Plane that the
// standard puts in Windows-1252 lands on its byte; every other one becomes
// '?' (and never a byte of another character's).
TEST(CharacterTables, EveryCharacterOfThePlaneToWindows1252AsTheStandardSays) {
    Iconv to_utf8("UTF-32LE", "UTF-8"), to_cp1252("UTF-8", "CP1252");
    for (char32_t c = 1; c < 0x10000; ++c) {
        if (c >= 0xD800 && c <= 0xDFFF) continue;  // surrogates are not characters
        const std::optional<std::string> utf8 = to_utf8(std::string(reinterpret_cast<const char*>(&c), 4));
        ASSERT_TRUE(utf8) << "U+" << std::hex << static_cast<unsigned>(c);
        const std::optional<std::string> standard = to_cp1252(*utf8);
        const bool c1_kept = c == 0x81 || c == 0x8D || c == 0x8F || c == 0x90 || c == 0x9D;
        const std::string expected = standard ? *standard : c1_kept ? byte(static_cast<int>(c)) : "?";
        ASSERT_EQ(platform::utf8_to_cp1252(*utf8), expected) << "U+" << std::hex << static_cast<unsigned>(c);
    }
}

// The export writes French accented letters in the DOS code page (850, the
// same as 437 for these letters); accents_dos puts them back as
// Windows-1252, byte for byte, and leaves every other byte alone, since a
// stray byte must not move a fixed-width column nor turn into a letter.
TEST(CharacterTables, DosAccentedLettersAsCodePage850Says) {
    const std::string french = "éèêëàâäîïôöûùüç";
    Iconv cp850("CP850", "UTF-8"), cp437("CP437", "UTF-8");
    int converted = 0;
    for (int b = 0; b < 256; ++b) {
        const std::string out = accents_dos(byte(b));
        ASSERT_EQ(out.size(), 1u) << "byte " << b;
        const std::optional<std::string> standard = cp850(byte(b));
        const bool french_letter = standard && standard->size() == 2 && french.find(*standard) != std::string::npos;
        if (french_letter) {
            ++converted;
            EXPECT_EQ(platform::cp1252_to_utf8(out), *standard) << "byte " << b;
            EXPECT_EQ(*cp437(byte(b)), *standard) << "byte " << b;
        } else {
            EXPECT_EQ(out, byte(b)) << "byte " << b << " is no French letter in DOS and must stay";
        }
    }
    EXPECT_EQ(converted, 15);

    // In a whole line each byte is put back as it is alone, wherever it
    // stands: at the start, the middle or the end of a run of plain text.
    std::string every;
    for (int b = 255; b >= 0; --b) every += std::string("ab") + byte(b) + "cdefghijk";
    std::string expected;
    for (char c : every) expected += accents_dos(std::string(1, c));
    EXPECT_EQ(accents_dos(every), expected);
    for (std::size_t at = 0; at < 20; ++at) {
        std::string line(20, 'x');
        line[at] = '\x82';
        std::string want(20, 'x');
        want[at] = '\xE9';
        EXPECT_EQ(accents_dos(line), want) << at;
    }
}

TEST(Cp1252, WhatWindows1252CannotHoldBecomesAQuestionMark) {
    const std::pair<std::string, std::string> cases[] = {
        {"a\xC3", "a?"},           {"\x80", "?"}, {"\xFF", "?"}, {"\xC3(", "?("},
        {"\xF0\x9F\x98\x80", "?"}, {"Ā", "?"},    {"中x", "?x"}, {"\xED\xA0\x80", "?"},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(platform::utf8_to_cp1252(in), out);
    // An overlong slash must never turn into a path separator.
    EXPECT_EQ(platform::utf8_to_cp1252("\xC0\xAF").find('/'), std::string::npos);
}

}  // namespace
}  // namespace ondival::test
