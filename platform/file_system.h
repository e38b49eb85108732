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

}  // namespace ondival::platform
