#include "import/export_archive.h"

#include <array>
#include <cctype>
#include <filesystem>
#include <map>

#include "core/source_files.h"
#include "platform/cp1252.h"
#include "platform/error.h"
#include "platform/file_system.h"
#include "platform/zip_archive.h"

namespace ondival {
namespace {

namespace fs = std::filesystem;

constexpr std::array<const char*, 4> kFichiersExport = {"club.txt", "licence.txt", "liffn.txt", "origine.txt"};

std::string lower_ascii(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// A stored name that would reach outside the folder it is unpacked into,
// were it ever used as a path: absolute (from the root, a drive, a share)
// or climbing with "..". Such an archive was not made by a federation's
// tool, and is refused whole.
bool chemin_dangereux(const std::string& name) {
    if (name.empty() || name[0] == '/' || name[0] == '\\') return true;
    if (name.size() >= 2 && name[1] == ':') return true;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = name.find_first_of("/\\", start);
        if (name.substr(start, end == std::string::npos ? std::string::npos : end - start) == "..") return true;
        if (end == std::string::npos) return false;
        start = end + 1;
    }
}

// The last part of a stored name, whichever separator the tool used.
std::string nom_seul(const std::string& name) {
    const std::size_t cut = name.find_last_of("/\\");
    return cut == std::string::npos ? name : name.substr(cut + 1);
}

[[noreturn]] void refuse(const std::string& archive, const std::string& what) {
    platform::raise(platform::err::kBadFileFormat,
                    "Format de fichier incorrect : l'archive "_w + platform::utf8_to_cp1252(archive) + " " + what);
}

}  // namespace

bool est_archive_export(const std::string& source) {
    return platform::FileExists(source) && lower_ascii(platform::GetExtensionName(source)) == "zip";
}

void extrait_archive_export(const std::string& archive, const std::string& dossier, std::uint64_t max_bytes) {
    const platform::ZipArchive zip(archive);
    // Every name is looked at before anything is written.
    std::map<std::string, const platform::ZipEntry*> found;
    for (const platform::ZipEntry& entry : zip.entries()) {
        if (chemin_dangereux(entry.name))
            refuse(archive, "contient un chemin refusé : "_w + platform::utf8_to_cp1252(entry.name));
        if (entry.folder) continue;
        const std::string name = lower_ascii(nom_seul(entry.name));
        bool known = false;
        for (const char* f : kFichiersExport) known = known || name == f;
        if (!known) continue;
        if (const auto [at, fresh] = found.emplace(name, &entry); !fresh)
            refuse(archive, "contient deux fichiers " + name + " : " + platform::utf8_to_cp1252(at->second->name) +
                                " et " + platform::utf8_to_cp1252(entry.name));
        if (entry.size > max_bytes)
            refuse(archive, "contient un fichier plus grand qu'un export ne peut l'être ("_w +
                                platform::utf8_to_cp1252(entry.name) + ") : " + std::to_string(entry.size) + " octets");
    }
    try {
        for (const auto& [name, entry] : found) zip.extract(*entry, chemin_fichier(dossier, name), max_bytes);
    } catch (...) {
        for (const auto& [name, entry] : found) {
            std::error_code ec;
            fs::remove(chemin_fichier(dossier, name), ec);
        }
        throw;
    }
}

ExportDeballe::ExportDeballe(const std::string& archive, const std::string& scratch) {
    if (!platform::FolderExists(scratch))
        platform::raise(platform::err::kPathNotFound,
                        "Chemin d'accès introuvable : "_w + platform::utf8_to_cp1252(scratch));
    const std::string base = chemin_fichier(scratch, platform::GetFileName(archive));
    std::string candidate = base;
    std::error_code ec;
    for (int n = 2; fs::exists(candidate, ec) || fs::is_symlink(candidate, ec); ++n)
        candidate = base + "-" + std::to_string(n);
    if (!fs::create_directory(candidate, ec))
        platform::raise(platform::err::kPathFileAccess,
                        "Impossible de créer le dossier "_w + platform::utf8_to_cp1252(candidate) + " : " +
                            platform::utf8_to_cp1252(ec.message()),
                        platform::ErrorOrigin::system(ec.value()));
    dossier_ = candidate;
    try {
        extrait_archive_export(archive, dossier_);
    } catch (...) {
        platform::DeleteFolder(dossier_);
        throw;
    }
}

ExportDeballe::~ExportDeballe() { platform::DeleteFolder(dossier_); }

}  // namespace ondival
