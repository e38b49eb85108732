// A zipped export of any bytes, unpacked as the import unpacks the
// federation's archive, into a folder of its own inside a watched one. The
// run stops when the unpacking broke one of its promises:
//   - an error other than the bad-format one (321);
//   - on success, a file in the folder other than club.txt, licence.txt,
//     liffn.txt or origine.txt, or one larger than the limit;
//   - on refusal, anything left in the folder;
//   - ever, anything written beside the folder (a stored path followed).
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "fuzz/fuzz_checks.h"
#include "import/export_archive.h"
#include "platform/error.h"

namespace {

namespace fs = std::filesystem;
using ondival::fuzz::require;
using ondival::fuzz::violation;

// Small, so that the fuzzer reaches the limit with inputs of a few KB.
constexpr std::uint64_t kLimit = 4096;

struct Workspace {
    fs::path root, archive, watched, into;
};
Workspace w;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    w.root = fs::temp_directory_path() / ("ondival-fuzz-zip-" + std::to_string(getpid()));
    std::error_code ec;
    fs::remove_all(w.root, ec);
    w.watched = w.root / "scratch";
    w.into = w.watched / "export.zip";
    w.archive = w.root / "export.zip";
    fs::create_directories(w.into);
    std::atexit([] {
        std::error_code e;
        fs::remove_all(w.root, e);
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    {
        std::ofstream out(w.archive, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    bool refused = false;
    try {
        ondival::extrait_archive_export(w.archive.string(), w.into.string(), kLimit);
    } catch (const ondival::platform::Failure& f) {
        require(f.error().number == ondival::platform::err::kBadFileFormat, "an archive refused with another error",
                f.error().description);
        refused = true;
    } catch (...) {
        violation("an exception other than the component's own");
    }
    static const std::set<std::string> kKnown = {"club.txt", "licence.txt", "liffn.txt", "origine.txt"};
    for (const auto& e : fs::directory_iterator(w.into)) {
        const std::string name = e.path().filename().string();
        require(!refused, "a refused archive left a file", name);
        require(kKnown.count(name) == 1, "a file other than an export file written", name);
        require(e.is_regular_file() && !e.is_symlink(), "not a plain file", name);
        require(fs::file_size(e.path()) <= kLimit, "a file over the limit written", name);
        fs::remove(e.path());
    }
    for (const auto& e : fs::recursive_directory_iterator(w.root))
        if (e.path() != w.archive && e.path() != w.watched && e.path() != w.into)
            violation("something written outside the folder", e.path().string());
    return 0;
}
