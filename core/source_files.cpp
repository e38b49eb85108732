#include "core/source_files.h"

#include <algorithm>
#include <fstream>

#include "common/numeric.h"
#include "common/report.h"
#include "common/trace.h"
#include "core/cst.h"
#include "platform/cp1252.h"
#include "platform/error.h"
#include "platform/file_system.h"
#include "platform/text_file.h"

namespace ondival {
namespace {

// Paths are native (UTF-8) bytes; the trace is Windows-1252 text.
std::string path_for_trace(const std::string& path) {
    return platform::is_ascii(path) ? path : platform::utf8_to_cp1252(path);
}

// The report's record of the source file whose scratch copy this is.
ReportSourceFile* reported_copy(const std::string& copy) {
    if (Report* r = current_report())
        for (ReportSourceFile& f : r->source_files)
            if (f.found && f.copy == copy) return &f;
    return nullptr;
}

}  // namespace

std::string chemin_fichier(const std::string& directory, const std::string& name) {
    std::string path = directory;
    if (path.empty() || path.back() != platform::kPathSeparator) path += platform::kPathSeparator;
    path += name;
    return path;
}

bool lecteur_pret(const std::string& directory) { return platform::DriveIsReady(directory); }

bool verifie_fichier(std::int16_t trace_file, std::string& path, const std::string& scratch) {
    ReportSourceFile* reported = report_source_file(platform::GetFileName(path));
    if (platform::FileExists(path)) {
        path = copie_fichier(path, scratch);
        if (reported) {
            reported->found = true;
            reported->copy = path;
            reported->lines = count_lines(path);
        }
        return true;
    }
    trace(trace_file, "Fichier " + path_for_trace(platform::GetFileName(path)) + " non trouvé dans le répertoire : "_w +
                          path_for_trace(platform::GetParentFolderName(path)));
    path.clear();
    return false;
}

std::string copie_fichier(const std::string& path, const std::string& directory) {
    const std::string target = nom_libre(path, directory);
    platform::CopyFile(path, target);
    return target;
}

std::string nom_libre(const std::string& path, const std::string& directory) {
    const std::string name = platform::GetFileName(path);
    const std::string extension = platform::GetExtensionName(path);
    std::string candidate = chemin_fichier(directory, name);
    // A name without extension keeps its whole self as the base, so the
    // numbered copies read "name1." rather than losing a character.
    const std::size_t cut = extension.empty() ? name.size() : name.size() - extension.size() - 1;
    const std::string base = name.substr(0, std::min(cut, name.size()));
    for (long counter = 1; platform::FileExists(candidate); ++counter)
        candidate = chemin_fichier(directory, base + std::to_string(counter) + "." + extension);
    return candidate;
}

void lit_origine(std::int16_t trace_file, std::int16_t read_file) {
    try {
        std::string line;
        const std::string& origin = cst().strFileOrigine;
        if (platform::FileExists(origin)) {
            platform::InputFile file(read_file, origin);
            line = platform::files().LineInput(read_file);
        } else {
            line = std::string(kCrLf) + "Fichier origine.txt non disponible";
        }
        trace(trace_file, "Données source générées par l'application : "_w + line);
        trace(trace_file, "");
    } catch (...) {
        const platform::Error e = platform::current_error();
        trace_erreur(trace_file, "Une erreur s'est produite lors de la lecture du fichier origine.txt", 0, &e);
    }
}

double taille_fichier(const std::string& path) {
    return platform::FileExists(path) ? static_cast<double>(platform::GetFileSize(path)) : 0.0;
}

std::int16_t longueur_ligne(std::int16_t read_file, const std::string& path) {
    if (!platform::FileExists(path)) return 0;
    platform::InputFile file(read_file, path);
    const std::string line = platform::files().LineInput(read_file);
    // A first line longer than the 16-bit count is far past any record
    // length: cap it instead of overflowing.
    return static_cast<std::int16_t>(std::min<std::size_t>(line.size() + 2, 32767));
}

std::int32_t controle_longueur(std::int16_t trace_file, std::int16_t read_file, const std::string& path,
                               std::int16_t required) {
    if (!platform::FileExists(path)) return 0;
    const double size = taille_fichier(path);
    // An empty file has no first line to measure: nothing to import, so the
    // step is skipped rather than failing the whole call.
    if (size == 0) return 0;
    const std::int16_t length = longueur_ligne(read_file, path);
    const double count = arrondi_pair(size / length);
    if (ReportSourceFile* reported = reported_copy(path)) {
        reported->first_line_length = length;
        reported->record_length = required;
        reported->short_lines = length < required;
    }
    if (length < required) {
        trace(trace_file, "Warning Les lignes dans le fichier " + path_for_trace(platform::GetFileName(path)) +
                              " n'ont pas la longueur requise." + kCrLf +
                              "Les informations pourront être incomplètes."_w + kCrLf);
    }
    return count > 2147483647.0 ? 2147483647 : static_cast<std::int32_t>(count);
}

std::int64_t count_lines(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return 0;
    std::int64_t lines = 0;
    bool open_line = false;  // bytes read since the last line end
    bool after_cr = false;   // a CR just ended a line: an LF next belongs to it
    char buffer[1 << 16];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        const std::streamsize n = in.gcount();
        for (std::streamsize i = 0; i < n; ++i) {
            const char ch = buffer[i];
            if (ch == '\n' && after_cr) {
                after_cr = false;
                continue;
            }
            after_cr = ch == '\r';
            if (ch == '\r' || ch == '\n') {
                ++lines;
                open_line = false;
            } else {
                open_line = true;
            }
        }
    }
    return lines + (open_line ? 1 : 0);
}

}  // namespace ondival
