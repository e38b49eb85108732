// The numbered text files the import reads the federation's exports with
// and writes its trace with: every line end, long lines, CRLF on every
// write, and the platform's file errors on misuse.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "platform/error.h"
#include "platform/text_file.h"
#include "tests/test_support.h"

namespace ondival::test {
namespace {

class TextFilesTest : public ::testing::Test {
protected:
    void TearDown() override {
        platform::files().Close(1);
        platform::files().Close(2);
    }
    std::vector<std::string> read_all(const std::string& bytes) {
        write_bytes(path, bytes);
        auto& f = platform::files();
        f.OpenInput(2, path);
        std::vector<std::string> lines;
        while (!f.Eof(2)) lines.push_back(f.LineInput(2));
        f.Close(2);
        return lines;
    }
    ScratchDir dir;
    std::string path = dir.file("data.txt");
};

TEST_F(TextFilesTest, EveryLineEndGivesTheSameLines) {
    using L = std::vector<std::string>;
    const std::pair<std::string, L> cases[] = {
        {"a\r\nb\r\n", {"a", "b"}},
        {"a\nb\n", {"a", "b"}},
        {"a\rb\r", {"a", "b"}},
        {"a\r\nb", {"a", "b"}},
        {"a\r\nb\nc\rd", {"a", "b", "c", "d"}},
        {"", {}},
        {"\r\n", {""}},
        {"\r\n\r\n", {"", ""}},
        {"a\n\rb", {"a", "", "b"}},
        {std::string("\0x\xFF\r\n", 5), {std::string("\0x\xFF", 3)}},
    };
    for (const auto& [bytes, lines] : cases) EXPECT_EQ(read_all(bytes), lines) << testing::PrintToString(bytes);
}

TEST_F(TextFilesTest, LongLinesAndLineEndsAcrossTheReadBuffer) {
    const std::string mega(1 << 20, 'A');
    EXPECT_EQ(read_all(mega + "\r\nz"), (std::vector<std::string>{mega, "z"}));
    // CR and LF of one line end on either side of a 64 KiB boundary.
    for (std::size_t n : {65535u, 65534u, 65536u}) {
        const std::string line(n, 'x');
        EXPECT_EQ(read_all(line + "\r\nnext\r\n"), (std::vector<std::string>{line, "next"})) << n;
    }
    // Line ends are looked for a few hundred characters at a time: every
    // style of line end, standing just before, at and after such a step, and
    // a line that ends one way with the other way further on.
    for (std::size_t n : {511u, 512u, 513u, 1023u, 1024u, 1500u})
        for (const char* end : {"\n", "\r", "\r\n"}) {
            const std::string line(n, 'x');
            EXPECT_EQ(read_all(line + end + "next" + end), (std::vector<std::string>{line, "next"}))
                << n << " " << testing::PrintToString(std::string(end));
        }
    const std::string a600(600, 'a'), b600(600, 'b'), a100(100, 'a');
    EXPECT_EQ(read_all(a600 + "\nbb\r"), (std::vector<std::string>{a600, "bb"}));
    EXPECT_EQ(read_all(a100 + "\r" + b600 + "\n"), (std::vector<std::string>{a100, b600}));
}

TEST_F(TextFilesTest, PrintEndsEveryWriteWithCrLf) {
    auto& f = platform::files();
    write_bytes(path, "old content that must go");
    f.OpenOutput(1, path);
    f.Print(1, "a");
    f.Print(1, "");
    f.Print(1, "b\r\nc");
    f.Flush(1);
    EXPECT_EQ(read_bytes(path), "a\r\n\r\nb\r\nc\r\n");  // visible before the close
    for (int i = 0; i < 20000; ++i) f.Print(1, "0123456789");
    f.Close(1);
    EXPECT_EQ(read_bytes(path).size(), 11u + 20000u * 12u);
}

TEST_F(TextFilesTest, MisuseRaisesTheFileErrors) {
    auto& f = platform::files();
    EXPECT_EQ(error_number([&] { f.OpenInput(2, dir.file("absent.txt")); }), platform::err::kFileNotFound);
    EXPECT_EQ(error_number([&] { f.Print(3, "x"); }), platform::err::kBadFileNumber);
    EXPECT_EQ(error_number([&] { f.OpenOutput(1, dir.file("no/such/dir.txt")); }), platform::err::kPathNotFound);
    write_bytes(path, "only\r\n");
    f.OpenInput(2, path);
    EXPECT_EQ(error_number([&] { f.OpenInput(2, path); }), platform::err::kFileAlreadyOpen);
    EXPECT_EQ(error_number([&] { f.Print(2, "x"); }), platform::err::kBadFileNumber);
    EXPECT_EQ(f.LineInput(2), "only");
    EXPECT_EQ(error_number([&] { f.LineInput(2); }), platform::err::kInputPastEnd);
}

}  // namespace
}  // namespace ondival::test
