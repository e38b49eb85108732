#include "platform/zip_archive.h"

#include <zip.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

#include "platform/cp1252.h"
#include "platform/error.h"

namespace ondival::platform {
namespace {

std::string path_text(const std::string& path) { return utf8_to_cp1252(path); }

std::string libzip_text(int code) {
    zip_error_t error;
    zip_error_init_with_code(&error, code);
    std::string text = zip_error_strerror(&error);
    zip_error_fini(&error);
    return utf8_to_cp1252(text);
}

[[noreturn]] void damaged(const std::string& archive, const std::string& what) {
    raise(err::kBadFileFormat, "Format de fichier incorrect : l'archive "_w + path_text(archive) + " " + what);
}

struct FileCloser {
    void operator()(zip_file_t* f) const { zip_fclose(f); }
};
struct StdioCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

ZipArchive::ZipArchive(const std::string& path) : path_(path) {
    int code = 0;
    // ZIP_CHECKCONS: a directory that disagrees with the entries it lists
    // is refused here rather than met half-way through the extraction.
    archive_ = zip_open(path.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &code);
    if (!archive_) {
        if (code == ZIP_ER_NOENT || code == ZIP_ER_OPEN) {
            std::error_code ec;
            if (!std::filesystem::exists(path, ec))
                raise(err::kFileNotFound, "Fichier introuvable : "_w + path_text(path));
        }
        if (code == ZIP_ER_NOZIP) damaged(path, "n'est pas une archive zip");
        damaged(path, "est endommagée : "_w + libzip_text(code));
    }
    const zip_int64_t count = zip_get_num_entries(archive_, 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        zip_stat_t stat;
        if (zip_stat_index(archive_, static_cast<zip_uint64_t>(i), 0, &stat) != 0 || !(stat.valid & ZIP_STAT_NAME)) {
            const std::string reason = zip_strerror(archive_);
            zip_discard(archive_);
            damaged(path, "est endommagée : "_w + utf8_to_cp1252(reason));
        }
        ZipEntry entry;
        entry.index = static_cast<std::uint64_t>(i);
        entry.name = stat.name;
        entry.size = (stat.valid & ZIP_STAT_SIZE) ? stat.size : 0;
        entry.folder = !entry.name.empty() && entry.name.back() == '/';
        entries_.push_back(std::move(entry));
    }
}

ZipArchive::~ZipArchive() {
    if (archive_) zip_discard(archive_);
}

void ZipArchive::extract(const ZipEntry& entry, const std::string& to, std::uint64_t max_bytes) const {
    const std::string where = "(" + path_text(entry.name) + ")";
    std::unique_ptr<zip_file_t, FileCloser> in(zip_fopen_index(archive_, entry.index, 0));
    if (!in) damaged(path_, "ne se lit pas "_w + where + " : " + utf8_to_cp1252(zip_strerror(archive_)));
    std::unique_ptr<std::FILE, StdioCloser> out(std::fopen(to.c_str(), "wb"));
    if (!out) {
        const int system_error = errno;
        raise(err::kPathFileAccess,
              "Impossible d'écrire "_w + path_text(to) + " : " + utf8_to_cp1252(std::strerror(system_error)),
              ErrorOrigin::system(system_error));
    }
    // Whatever goes wrong from here, no half-written copy stays behind.
    const auto fail = [&](const std::string& message) {
        out.reset();
        std::remove(to.c_str());
        damaged(path_, message);
    };
    char buffer[1 << 16];
    std::uint64_t written = 0;
    for (;;) {
        const zip_int64_t n = zip_fread(in.get(), buffer, sizeof buffer);
        if (n < 0) fail("est endommagée "_w + where + " : " + utf8_to_cp1252(zip_file_strerror(in.get())));
        if (n == 0) break;
        written += static_cast<std::uint64_t>(n);
        if (written > max_bytes)
            fail("contient un fichier plus grand qu'un export ne peut l'être "_w + where + " : plus de " +
                 std::to_string(max_bytes) + " octets");
        if (std::fwrite(buffer, 1, static_cast<std::size_t>(n), out.get()) != static_cast<std::size_t>(n)) {
            const int system_error = errno;
            const std::string reason = std::strerror(system_error);
            out.reset();
            std::remove(to.c_str());
            raise(err::kPathFileAccess, "Impossible d'écrire "_w + path_text(to) + " : " + utf8_to_cp1252(reason),
                  ErrorOrigin::system(system_error));
        }
    }
    if (std::fclose(out.release()) != 0) {
        const int system_error = errno;
        std::remove(to.c_str());
        raise(err::kPathFileAccess, "Impossible d'écrire "_w + path_text(to), ErrorOrigin::system(system_error));
    }
}

}  // namespace ondival::platform
