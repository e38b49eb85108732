// The federation's export as it arrives: one zip archive holding club.txt,
// licence.txt, liffn.txt and origine.txt, in whatever folder and with
// whatever capitals the federation's tool stored them. The import reads a
// folder: the archive's four files are written into one, inside the scratch
// directory the import copies into anyway, and nothing else of the archive
// is ever written.
#pragma once

#include <cstdint>
#include <string>

namespace ondival {

// Far above what a national export holds (liffn.txt at ten million
// performance lines of 202 bytes is 2 GB): an entry claiming more, or
// growing past it while it is read, is no export file.
inline constexpr std::uint64_t kTailleMaxFichierExport = std::uint64_t{2} << 30;

// True when the source is an archive rather than a folder: a file whose
// name ends in ".zip", in any case.
bool est_archive_export(const std::string& source);

// Writes the export files the archive holds into the folder `dossier`
// (which exists), each under its own lower-case name. Raises (nothing of
// the archive left in `dossier`) when the archive is no zip or is damaged,
// when an entry's name holds ".." or is absolute, when it holds one of the
// files twice, or one larger than max_bytes. A file it lacks is simply not
// written: the import then meets the folder without it, as it would meet a
// folder.
void extrait_archive_export(const std::string& archive, const std::string& dossier,
                            std::uint64_t max_bytes = kTailleMaxFichierExport);

// The folder a zipped export is unpacked into for one call: inside the
// scratch directory, named after the archive (export.zip, export.zip-2, ...
// when the name is taken), removed when the call ends, however it ends.
class ExportDeballe {
public:
    ExportDeballe(const std::string& archive, const std::string& scratch);
    ~ExportDeballe();
    ExportDeballe(const ExportDeballe&) = delete;
    ExportDeballe& operator=(const ExportDeballe&) = delete;
    const std::string& dossier() const { return dossier_; }

private:
    std::string dossier_;
};

}  // namespace ondival
