// A zip archive, read through libzip: the names and sizes its directory
// gives for its entries, and one entry written out to a file, never more
// bytes than the caller allows, whatever the directory claims. Federations
// hand their exports out zipped; what an entry may be called and how large
// it may grow is the import's business, not this reader's.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct zip;

namespace ondival::platform {

struct ZipEntry {
    std::uint64_t index = 0;
    std::string name;        // as stored: folders joined by "/", UTF-8 (older archives' CP437 names converted)
    std::uint64_t size = 0;  // uncompressed, as the archive's directory says
    bool folder = false;     // a folder entry ("name/"), no data
};

class ZipArchive {
public:
    // Opens the archive and reads its directory. Raises kFileNotFound when
    // there is no such file, kBadFileFormat when it is no zip archive or its
    // directory is damaged.
    explicit ZipArchive(const std::string& path);
    ~ZipArchive();
    ZipArchive(const ZipArchive&) = delete;
    ZipArchive& operator=(const ZipArchive&) = delete;

    const std::vector<ZipEntry>& entries() const { return entries_; }

    // Writes the entry's data to the file `to`, created or emptied. Raises
    // kBadFileFormat when its data is damaged (a checksum, a truncated or
    // corrupt stream), encrypted, or longer than max_bytes (then as soon as
    // it has read one byte more: a lying directory cannot fill the disk);
    // the file written so far is removed.
    void extract(const ZipEntry& entry, const std::string& to, std::uint64_t max_bytes) const;

private:
    std::string path_;
    ::zip* archive_ = nullptr;
    std::vector<ZipEntry> entries_;
};

}  // namespace ondival::platform
