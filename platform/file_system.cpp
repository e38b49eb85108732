#include "platform/file_system.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "platform/cp1252.h"
#include "platform/error.h"

namespace fs = std::filesystem;

namespace ondival::platform {
namespace {

std::string path_text(const std::string& path) { return utf8_to_cp1252(path); }

}  // namespace

bool FileExists(const std::string& path) {
    std::error_code ec;
    return !path.empty() && fs::is_regular_file(path, ec);
}

bool FolderExists(const std::string& path) {
    std::error_code ec;
    return !path.empty() && fs::is_directory(path, ec);
}

std::string GetFileName(const std::string& path) {
    const auto slash = path.find_last_of(kPathSeparator);
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string GetParentFolderName(const std::string& path) {
    auto slash = path.find_last_of(kPathSeparator);
    if (slash == std::string::npos) return "";
    // Doubled separators ("dir//club.txt") belong to the separator.
    while (slash > 0 && path[slash - 1] == kPathSeparator) --slash;
    if (slash == 0) return std::string(1, kPathSeparator);
    return path.substr(0, slash);
}

std::string GetExtensionName(const std::string& path) {
    const std::string name = GetFileName(path);
    const auto dot = name.find_last_of('.');
    return dot == std::string::npos ? "" : name.substr(dot + 1);
}

void CopyFile(const std::string& from, const std::string& to) {
    std::error_code ec;
    fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
    if (ec) {
        const bool missing = ec == std::errc::no_such_file_or_directory;
        const bool denied = ec == std::errc::permission_denied;
        raise(missing  ? err::kPathNotFound
              : denied ? err::kPermissionDenied
                       : err::kPathFileAccess,
              "Impossible de copier "_w + path_text(from) + " vers " + path_text(to) + " : " +
                  utf8_to_cp1252(ec.message()),
              ErrorOrigin::system(ec.value()));
    }
}

std::uint64_t GetFileSize(const std::string& path) {
    std::error_code ec;
    const auto size = fs::file_size(path, ec);
    if (ec) raise(err::kFileNotFound, "Fichier introuvable : "_w + path_text(path));
    return size;
}

bool DriveIsReady(const std::string& directory) {
    std::error_code ec;
    if (!fs::is_directory(directory, ec))
        raise(err::kPathNotFound, "Chemin d'accès introuvable : "_w + path_text(directory));
    DIR* dir = ::opendir(directory.c_str());
    if (!dir) return false;
    errno = 0;
    ::readdir(dir);  // a medium that went away fails here with EIO
    const bool ok = errno == 0;
    ::closedir(dir);
    return ok;
}

std::string MakeTemporaryFolder(const std::string& prefix) {
    std::error_code ec;
    const fs::path base = fs::temp_directory_path(ec);
    std::string pattern = (ec ? fs::path("/tmp") : base).string() + "/" + prefix + "XXXXXX";
    if (!::mkdtemp(pattern.data())) {
        const int system_error = errno;
        raise(err::kPathFileAccess,
              "Impossible de créer un répertoire temporaire : "_w + utf8_to_cp1252(std::strerror(system_error)),
              ErrorOrigin::system(system_error));
    }
    return pattern;
}

void DeleteFolder(const std::string& path) noexcept {
    std::error_code ec;
    if (!path.empty()) fs::remove_all(path, ec);
}

std::string ResolvedPath(const std::string& path) {
    std::error_code ec;
    fs::path absolute = fs::absolute(path, ec);
    if (ec) absolute = fs::path(path);
    fs::path resolved = fs::weakly_canonical(absolute, ec);
    if (ec) resolved = absolute.lexically_normal();
    std::string text = resolved.string();
    while (text.size() > 1 && text.back() == kPathSeparator) text.pop_back();
    return text;
}

PathIdentity IdentityOf(const std::string& path) {
    PathIdentity id;
    id.resolved = ResolvedPath(path);
    struct stat st {};
    if (!path.empty() && ::stat(path.c_str(), &st) == 0) {
        id.exists = true;
        id.device = st.st_dev;
        id.inode = st.st_ino;
    }
    return id;
}

bool SamePath(const PathIdentity& a, const PathIdentity& b) {
    if (a.exists && b.exists && a.device == b.device && a.inode == b.inode) return true;
    return a.resolved == b.resolved;
}

bool SamePath(const std::string& a, const std::string& b) { return SamePath(IdentityOf(a), IdentityOf(b)); }

}  // namespace ondival::platform
