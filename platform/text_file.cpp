#include "platform/text_file.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/cp1252.h"
#include "platform/error.h"

namespace ondival::platform {
namespace {

constexpr std::size_t kOutFlushAt = 1 << 16;
constexpr std::size_t kInChunk = 1 << 16;

std::string path_text(const std::string& path) { return utf8_to_cp1252(path); }

// Where the first line end (CR or LF) stands, `avail` when there is none.
// Found window by window with the library's fast search: a line of the
// federation's files is about 250 characters, and a file that ends its
// lines one way never has the other searched for to the end of its buffer.
std::size_t line_end(const char* start, std::size_t avail) {
    constexpr std::size_t kWindow = 512;
    for (std::size_t at = 0; at < avail; at += kWindow) {
        const std::size_t n = std::min(kWindow, avail - at);
        const void* lf = std::memchr(start + at, '\n', n);
        const std::size_t limit = lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - (start + at)) : n;
        if (const void* cr = std::memchr(start + at, '\r', limit))
            return static_cast<std::size_t>(static_cast<const char*>(cr) - start);
        if (lf) return at + limit;
    }
    return avail;
}

}  // namespace

TextFiles& files() {
    thread_local TextFiles t;
    return t;
}

TextFiles::~TextFiles() { CloseAll(); }

TextFiles::File& TextFiles::get(std::int16_t number, bool output) {
    if (number < 1 || number > kMaxFiles || !files_[number].fp)
        raise(err::kBadFileNumber, "Nom ou numéro de fichier incorrect"_w);
    File& f = files_[number];
    if (f.output != output) raise(err::kBadFileNumber, "Mode d'accès au fichier incorrect"_w);
    return f;
}

bool TextFiles::IsOpen(std::int16_t number) const {
    return number >= 1 && number <= kMaxFiles && files_[number].fp != nullptr;
}

void TextFiles::OpenOutput(std::int16_t number, const std::string& path) {
    if (number < 1 || number > kMaxFiles) raise(err::kBadFileNumber, "Nom ou numéro de fichier incorrect"_w);
    if (files_[number].fp) raise(err::kFileAlreadyOpen, "Fichier déjà ouvert"_w);
    std::FILE* fp = std::fopen(path.c_str(), "wb");
    if (!fp) {
        const int system_error = errno;
        raise(system_error == ENOENT ? err::kPathNotFound : err::kPathFileAccess,
              "Erreur d'accès au chemin/fichier : "_w + path_text(path) + " (" +
                  utf8_to_cp1252(std::strerror(system_error)) + ")",
              ErrorOrigin::system(system_error));
    }
    File& f = files_[number];
    f = File{};
    f.fp = fp;
    f.output = true;
    f.path = path;
}

void TextFiles::OpenInput(std::int16_t number, const std::string& path) {
    if (number < 1 || number > kMaxFiles) raise(err::kBadFileNumber, "Nom ou numéro de fichier incorrect"_w);
    if (files_[number].fp) raise(err::kFileAlreadyOpen, "Fichier déjà ouvert"_w);
    std::FILE* fp = std::fopen(path.c_str(), "rb");
    if (!fp) {
        const int system_error = errno;
        raise(system_error == ENOENT ? err::kFileNotFound : err::kPathFileAccess,
              (system_error == ENOENT ? "Fichier introuvable : "_w : "Erreur d'accès au chemin/fichier : "_w) +
                  path_text(path),
              ErrorOrigin::system(system_error));
    }
    File& f = files_[number];
    f = File{};
    f.fp = fp;
    f.path = path;
    f.in.resize(kInChunk);
}

void TextFiles::write_out(File& f) {
    if (f.out.empty()) return;
    const std::size_t n = std::fwrite(f.out.data(), 1, f.out.size(), f.fp);
    const bool ok = n == f.out.size() && std::fflush(f.fp) == 0;
    const int system_error = ok ? 0 : errno;  // a full disk, for one
    f.written += n;
    f.out.clear();
    if (!ok)
        raise(err::kPathFileAccess, "Erreur d'écriture dans le fichier : "_w + path_text(f.path),
              ErrorOrigin::system(system_error));
}

void TextFiles::Print(std::int16_t number, std::string_view text) {
    File& f = get(number, true);
    f.out.append(text);
    f.out.append("\r\n");
    if (f.out.size() >= kOutFlushAt) write_out(f);
}

void TextFiles::Flush(std::int16_t number) {
    if (!IsOpen(number)) return;
    File& f = files_[number];
    if (f.output) write_out(f);
}

std::uint64_t TextFiles::Tell(std::int16_t number) {
    File& f = get(number, true);
    return f.written + f.out.size();
}

void TextFiles::Rewind(std::int16_t number, std::uint64_t position) {
    File& f = get(number, true);
    if (position >= f.written) {
        f.out.resize(static_cast<std::size_t>(std::min<std::uint64_t>(position - f.written, f.out.size())));
        return;
    }
    f.out.clear();
    if (ftruncate(fileno(f.fp), static_cast<off_t>(position)) != 0 ||
        std::fseek(f.fp, static_cast<long>(position), SEEK_SET) != 0)
        raise(err::kPathFileAccess, "Erreur d'écriture dans le fichier : "_w + path_text(f.path));
    f.written = position;
}

bool TextFiles::fill(File& f) {
    if (f.pos < f.len) return true;
    if (f.at_end) return false;
    f.len = std::fread(f.in.data(), 1, f.in.size(), f.fp);
    f.pos = 0;
    if (f.len == 0) {
        if (std::ferror(f.fp)) raise(err::kPathFileAccess, "Erreur de lecture du fichier : "_w + path_text(f.path));
        f.at_end = true;
        return false;
    }
    return true;
}

bool TextFiles::Eof(std::int16_t number) {
    File& f = get(number, false);
    return !fill(f);
}

void TextFiles::LineInput(std::int16_t number, std::string& line) {
    File& f = get(number, false);
    line.clear();
    if (!fill(f)) raise(err::kInputPastEnd, "L'entrée dépasse la fin de fichier"_w);
    for (;;) {
        const char* start = f.in.data() + f.pos;
        const std::size_t avail = f.len - f.pos;
        const std::size_t i = line_end(start, avail);
        line.append(start, i);
        f.pos += i;
        if (i < avail) {
            const char end = start[i];
            ++f.pos;
            // CRLF is one line end; the LF may sit at the start of the next chunk.
            if (end == '\r' && fill(f) && f.in[f.pos] == '\n') ++f.pos;
            return;
        }
        if (!fill(f)) return;  // last line without its line end
    }
}

std::string TextFiles::LineInput(std::int16_t number) {
    std::string line;
    LineInput(number, line);
    return line;
}

void TextFiles::Close(std::int16_t number) {
    if (!IsOpen(number)) return;
    File& f = files_[number];
    std::FILE* fp = f.fp;
    std::string pending = std::move(f.out);
    const std::string path = f.path;
    const bool output = f.output;
    f = File{};
    bool ok = true;
    if (output && !pending.empty()) ok = std::fwrite(pending.data(), 1, pending.size(), fp) == pending.size();
    ok = std::fclose(fp) == 0 && ok;
    const int system_error = ok ? 0 : errno;
    if (!ok && output)
        raise(err::kPathFileAccess, "Erreur d'écriture dans le fichier : "_w + path_text(path),
              ErrorOrigin::system(system_error));
}

void TextFiles::CloseAll() noexcept {
    for (std::int16_t i = 1; i <= kMaxFiles; ++i) {
        try {
            Close(i);
        } catch (...) {
        }
    }
}

}  // namespace ondival::platform
