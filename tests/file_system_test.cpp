// The file system of the source drive: the parts of a path, copies, sizes,
// existence, and whether a drive can be read.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <tuple>

#include "platform/error.h"
#include "platform/file_system.h"
#include "tests/test_support.h"

namespace ondival::test {
namespace {

TEST(FileSystem, NamePartsOfSourcePaths) {
    const std::tuple<const char*, const char*, const char*, const char*> cases[] = {
        // path, file name, parent folder, extension
        {"/media/usb/club.txt", "club.txt", "/media/usb", "txt"},
        {"/media/usb//club.txt", "club.txt", "/media/usb", "txt"},
        {"/club.txt", "club.txt", "/", "txt"},
        {"club.txt", "club.txt", "", "txt"},
        {"/media/usb.2/liffn", "liffn", "/media/usb.2", ""},
        {"/tmp/export.tar.gz", "export.tar.gz", "/tmp", "gz"},
    };
    for (const auto& [path, name, parent, ext] : cases) {
        EXPECT_EQ(platform::GetFileName(path), name) << path;
        EXPECT_EQ(platform::GetParentFolderName(path), parent) << path;
        EXPECT_EQ(platform::GetExtensionName(path), ext) << path;
    }
}

TEST(FileSystem, CopySizeExistenceAndDriveReadiness) {
    ScratchDir dir;
    const std::string from = dir.file("club.txt"), to = dir.file("club1.txt");
    write_bytes(from, "new");
    write_bytes(to, "older and longer");
    platform::CopyFile(from, to);
    EXPECT_EQ(read_bytes(to), "new");
    EXPECT_NE(error_number([&] { platform::CopyFile(dir.file("absent.txt"), to); }), 0);
    EXPECT_EQ(read_bytes(to), "new");  // a failed copy leaves the target alone
    EXPECT_EQ(platform::GetFileSize(to), 3u);
    EXPECT_EQ(error_number([&] { platform::GetFileSize(dir.file("absent.txt")); }), platform::err::kFileNotFound);

    EXPECT_TRUE(platform::FileExists(from) && platform::FolderExists(dir.path().string()));
    EXPECT_FALSE(platform::FileExists(dir.path().string()) || platform::FileExists("") || platform::FolderExists(from));

    EXPECT_TRUE(platform::DriveIsReady(dir.path().string()));
    EXPECT_EQ(error_number([&] { platform::DriveIsReady(dir.file("no-such-drive")); }), platform::err::kPathNotFound);
    EXPECT_EQ(error_number([&] { platform::DriveIsReady(from); }), platform::err::kPathNotFound);
    if (geteuid() != 0) {  // root reads every directory
        const std::string locked = dir.file("locked");
        std::filesystem::create_directory(locked);
        std::filesystem::permissions(locked, std::filesystem::perms::none);
        EXPECT_FALSE(platform::DriveIsReady(locked));
        std::filesystem::permissions(locked, std::filesystem::perms::owner_all);
    }
}

}  // namespace
}  // namespace ondival::test
