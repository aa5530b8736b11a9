// Extraction of arbitrary archive bytes into a private folder: whatever the
// input, nothing may be written outside the destination, and the component
// lets no exception out.
#include "archive/unzip/un_zip.h"
#include "platform/paths.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// root/archive/in.zip is extracted to root/a/b/c/d/out, so that names
// climbing out of the destination would land inside root, where they are seen.
struct Folders {
    fs::path root, archive, out;
};

const Folders& Paths() {
    static const Folders folders = [] {
        Folders f;
        f.root = fs::temp_directory_path() / ("dvl-unzip-fuzz-" + std::to_string(getpid()));
        f.archive = f.root / "archive";
        f.out = f.root / "a" / "b" / "c" / "d" / "out";
        fs::create_directories(f.archive);
        return f;
    }();
    return folders;
}

void CheckNothingOutside(const Folders& f) {
    for (auto it = fs::recursive_directory_iterator(f.root);
         it != fs::recursive_directory_iterator(); ++it) {
        const fs::path& p = it->path();
        if (p == f.archive / "in.zip" || p == f.archive) continue;
        auto rel = fs::relative(p, f.out);
        bool inside = !rel.empty() && *rel.begin() != "..";
        bool onTheWay = f.out.string().rfind(p.string(), 0) == 0; // a/, a/b/ ...
        if (!inside && !onTheWay) {
            std::fprintf(stderr, "written outside the destination: %s\n", p.c_str());
            std::abort();
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Assigning an archive enters its folder; the fuzzer reads its corpus by
    // relative paths.
    const auto workDir = std::filesystem::current_path();
    const Folders& f = Paths();
    fs::remove_all(f.root / "a");
    fs::create_directories(f.out);
    const fs::path archive = f.archive / "in.zip";
    if (FILE* file = std::fopen(archive.c_str(), "wb")) {
        std::fwrite(data, 1, size, file);
        std::fclose(file);
    }
    dvl::TUnZIP unzip(nullptr);
    unzip.SetZipCmntBufSize(2000);
    unzip.SetPasswords({"pw", ""});
    unzip.OnProgress = [](dvl::TZipCommon*, const std::string&, uint8_t p) {
        if (p > 100) std::abort();
    };
    unzip.SetArchiveFile(dvl::platform::ToWindowsPath(archive.string()));
    unzip.SetExtractDir(dvl::platform::ToWindowsPath(f.out.string()));
    if (size > 0 && (data[size - 1] & 1))
        unzip.Test();
    else
        unzip.Extract();
    CheckNothingOutside(f);
    std::filesystem::current_path(workDir);
    return 0;
}
