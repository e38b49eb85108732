// The file-system services the import needs about the federation's files:
// existence, name parts, copy, size and whether the medium holding the
// source directory can be read now. Paths are the platform's own bytes
// (UTF-8 on Linux); "/" joins them.
#pragma once

#include <cstdint>
#include <string>

namespace ondival::platform {

inline constexpr char kPathSeparator = '/';

bool FileExists(const std::string& path);  // a regular file (or a link to one)
bool FolderExists(const std::string& path);
std::string GetFileName(const std::string& path);
// The folder part, written without a trailing separator ("/" for the root).
std::string GetParentFolderName(const std::string& path);
std::string GetExtensionName(const std::string& path);          // without the point
void CopyFile(const std::string& from, const std::string& to);  // overwrites
std::uint64_t GetFileSize(const std::string& path);

// Raises "path not found" when the directory does not exist; otherwise true
// when its entries can be read now (a medium that is mounted and readable).
bool DriveIsReady(const std::string& directory);

// A new private directory under the system's temporary directory; raises
// when none can be made.
std::string MakeTemporaryFolder(const std::string& prefix);
// Removes a folder and everything in it; silent when it is already gone.
void DeleteFolder(const std::string& path) noexcept;

// The path as the file system would reach it: absolute, "." and ".."
// settled, symbolic links followed as far as the path exists, no trailing
// separator. A path that cannot be resolved is only made absolute.
std::string ResolvedPath(const std::string& path);
// Where a path leads, found once so that many paths can be compared with
// each other cheaply: its resolved form and, when it exists, the file's
// identity on its device.
struct PathIdentity {
    std::string resolved;
    bool exists = false;
    std::uint64_t device = 0, inode = 0;
};
PathIdentity IdentityOf(const std::string& path);
// True when two paths reach the same file or folder: the same resolved
// path, or, when both exist, one file under two names (a hard link, a
// bind mount, a file system that ignores case).
bool SamePath(const PathIdentity& a, const PathIdentity& b);
bool SamePath(const std::string& a, const std::string& b);

}  // namespace ondival::platform
