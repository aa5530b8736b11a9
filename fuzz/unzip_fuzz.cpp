// Extraction of arbitrary archive bytes into a private folder: whatever the
// input, nothing may be written outside the destination, and the component
// lets no exception out.
#include "archive/unzip/un_zip.h"
#include "fuzz/destination_guard.h"
#include "platform/paths.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

namespace fs = std::filesystem;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Assigning an archive enters its folder; the fuzzer reads its corpus by
    // relative paths.
    const auto workDir = std::filesystem::current_path();
    const dvl::fuzz::Folders& f = dvl::fuzz::PrivateFolders("unzip-fuzz");
    dvl::fuzz::FreshDestination(f);
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
    dvl::fuzz::CheckNothingOutside(f);
    std::filesystem::current_path(workDir);
    return 0;
}
