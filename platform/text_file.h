// Numbered sequential text files, as the import uses them: number 1 is the
// trace, written line by line for the whole call; number 2 is the data file
// being read. Lines are bytes (Windows-1252), written with CRLF and read up to
// CRLF, a lone CR or a lone LF (exports edited on Linux).
//
// Output is buffered and reaches the disk at Flush, Close, or when the
// buffer fills, so a national file does not pay one system call per line.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace ondival::platform {

class TextFiles {
public:
    TextFiles() = default;
    ~TextFiles();
    TextFiles(const TextFiles&) = delete;
    TextFiles& operator=(const TextFiles&) = delete;

    void OpenOutput(std::int16_t number, const std::string& path);  // create or truncate
    void OpenInput(std::int16_t number, const std::string& path);
    void Print(std::int16_t number, std::string_view text);  // text + CRLF
    std::string LineInput(std::int16_t number);
    void LineInput(std::int16_t number, std::string& line);
    bool Eof(std::int16_t number);
    void Flush(std::int16_t number);
    // Where the next line of an output file will start, and a return to
    // such a point: what was written after it is dropped, on disk too.
    // Lets an import that is run again from an earlier point write its
    // trace once.
    std::uint64_t Tell(std::int16_t number);
    void Rewind(std::int16_t number, std::uint64_t position);
    void Close(std::int16_t number);
    bool IsOpen(std::int16_t number) const;
    void CloseAll() noexcept;

private:
    struct File {
        std::FILE* fp = nullptr;
        bool output = false;
        std::string path;
        std::string out;       // pending output
        std::uint64_t written = 0;  // bytes already on disk
        std::vector<char> in;  // input buffer
        std::size_t pos = 0, len = 0;
        bool at_end = false;  // no more bytes on disk
    };
    File& get(std::int16_t number, bool output);
    bool fill(File& f);
    void write_out(File& f);

    static constexpr int kMaxFiles = 8;
    File files_[kMaxFiles + 1];
};

// The files of the calling thread; one set per thread, like the rest of the
// import's state.
TextFiles& files();

// A data file open for reading under its number for as long as the guard
// lives: whichever way an import leaves (its end, a stop, an error), the
// file is closed and its number free for the next import. A file that
// could not be opened is not the guard's to close.
class InputFile {
public:
    InputFile(std::int16_t number, const std::string& path) : number_(number) { files().OpenInput(number, path); }
    ~InputFile() { close(); }
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
    void close() noexcept {
        try {
            if (files().IsOpen(number_)) files().Close(number_);
        } catch (...) {
            // An input file has nothing left to write; its close cannot lose data.
        }
    }

private:
    std::int16_t number_;
};

}  // namespace ondival::platform
