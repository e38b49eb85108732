#include "import/call_paths.h"

#include <array>
#include <vector>

#include "core/source_files.h"
#include "platform/cp1252.h"
#include "platform/database.h"
#include "platform/error.h"
#include "platform/file_system.h"

namespace ondival {
namespace {

struct Role {
    std::string name;  // as the subject of a sentence, in Windows-1252: "Le fichier de trace"
    std::string path;
};

std::string as_attribute(std::string name) {
    // Every role's name starts with "Le" or "La": lower it after "est".
    name[0] = static_cast<char>(name[0] - 'A' + 'a');
    return name;
}

std::string path_for_message(const std::string& path) {
    return platform::is_ascii(path) ? path : platform::utf8_to_cp1252(path);
}

// The four files of an export: a trace, a report or its page written over one of
// them loses the federation's data, and one written beside them under such
// a name would be read as the export's own.
constexpr std::array<const char*, 4> kExportFiles = {"club.txt", "licence.txt", "liffn.txt", "origine.txt"};

}  // namespace

void check_call_paths(const CallPaths& paths) {
    using platform::err::kInvalidCall;
    constexpr platform::ErrorKind kRefused = platform::ErrorKind::kInvalidArgument;
    const bool file_database = !platform::is_postgres_uri(paths.database);
    // An empty directory would send the copies to the root, and an empty
    // file name names nothing: both are the caller's mistake, not a place.
    if (paths.database.empty())
        platform::raise(kInvalidCall, "Argument ou appel de procédure incorrect : la base de données est vide"_w,
                        kRefused);
    if (paths.source_dir.empty())
        platform::raise(kInvalidCall, "Argument ou appel de procédure incorrect : le répertoire source est vide"_w,
                        kRefused);
    if (paths.scratch_dir.empty() && !paths.temporary_allowed)
        platform::raise(kInvalidCall, "Argument ou appel de procédure incorrect : le répertoire de travail est vide"_w,
                        kRefused);
    if (paths.trace.empty() && !paths.temporary_allowed)
        platform::raise(kInvalidCall, "Argument ou appel de procédure incorrect : le fichier de trace est vide"_w,
                        kRefused);

    // What the call writes comes first, so that the message says what would
    // have been destroyed in terms of what the caller meant to write.
    std::vector<Role> roles;
    if (!paths.trace.empty()) roles.push_back({"Le fichier de trace", paths.trace});
    if (!paths.report.empty()) roles.push_back({"Le rapport", paths.report});
    if (!paths.page.empty()) roles.push_back({"La page du rapport", paths.page});
    if (file_database) roles.push_back({"La base de données"_w, paths.database});
    if (!paths.scratch_dir.empty()) roles.push_back({"Le répertoire de travail"_w, paths.scratch_dir});
    roles.push_back({"Le répertoire source"_w, paths.source_dir});
    for (const char* name : kExportFiles)
        roles.push_back({"Le fichier "_w + name + " de l'export", chemin_fichier(paths.source_dir, name)});

    // Each path resolved once, then every pair compared.
    std::vector<platform::PathIdentity> ids;
    for (const Role& r : roles) ids.push_back(platform::IdentityOf(r.path));
    for (std::size_t i = 0; i < roles.size(); ++i)
        for (std::size_t j = i + 1; j < roles.size(); ++j)
            if (platform::SamePath(ids[i], ids[j]))
                platform::raise(platform::err::kPathFileAccess,
                                roles[i].name + " est " + as_attribute(roles[j].name) + " : " +
                                    path_for_message(ids[i].resolved),
                                platform::ErrorKind::kPathClash);
}

}  // namespace ondival
