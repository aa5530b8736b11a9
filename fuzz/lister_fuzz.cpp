// The lister over arbitrary bytes: every reader's walk (and the executable
// probes that lead to them), on a real file in a private folder.
// Nothing may escape Activate: a listing ends in a result, never a throw.
#include "archive/lister/lorvex.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

std::string Folder() {
    static const std::string folder = [] {
        auto dir = std::filesystem::temp_directory_path() /
                   ("dvl-lister-fuzz-" + std::to_string(getpid()));
        std::filesystem::create_directories(dir);
        return dir.string();
    }();
    return folder;
}

// Reads every value a handler can see, so that the sanitizers see them too.
uint64_t Touch(const dvl::TLorvex& l) {
    uint64_t sum = l.FileName.size() + uint64_t(l.FileDate) + uint64_t(l.PackedSize) +
                   uint64_t(l.UnpackedSize) + l.Ratio + l.CRC + l.Encrypted + l.MethodName.size() +
                   l.MethodCode + l.VersionMadeBy + l.VersionNeeded + l.InternalAttr +
                   l.ExternalAttr + l.DeflateLevel + l.VolumeName.size();
    if (l.FileComment) sum += l.FileComment->size();
    if (l.ArchiveComment) sum += l.ArchiveComment->size();
    return sum;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Assigning an archive enters its folder; the fuzzer reads its corpus by
    // relative paths.
    const auto workDir = std::filesystem::current_path();
    // The first byte picks an extension, which a missing volume's name,
    // the detection of executables and of the formats known by their
    // extension (TAR, UUE) depend on.
    static const char* const kExtensions[] = {".zip", ".cab", ".arj", ".exe", ".gz",
                                              ".z",   ".tar", ".uue", ".lzh", ".zoo",
                                              ".rar", ".arc", ".pak", ".bh",  ".ha"};
    constexpr size_t kCount = sizeof kExtensions / sizeof kExtensions[0];
    const std::string path = Folder() + "/input" + kExtensions[size ? data[0] % kCount : 0];
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }

    dvl::TLorvex lister(nullptr);
    volatile uint64_t sink = 0;
    lister.OnRead = [&](dvl::TZipCommon*, int32_t offset, int32_t number) {
        sink = sink + Touch(lister) + uint64_t(offset) + uint64_t(number);
    };
    lister.OnReadFile = [&](dvl::TZipCommon*, const std::string& name) {
        sink = sink + name.size();
    };
    lister.OnTotals = [&](dvl::TZipCommon*, int32_t files) {
        sink = sink + uint64_t(files) + uint64_t(lister.TotalPacked) + lister.TotalRatio;
    };
    bool assigned = true;
    try {
        lister.SetArchiveFile(path); // detection may meet a read error
    } catch (const std::exception&) {
        assigned = false;
    }
    if (assigned) {
        try {
            lister.Activate();
        } catch (...) {
            std::abort(); // a finding: the component let something out
        }
    }
    std::remove(path.c_str());
    std::filesystem::current_path(workDir);
    return 0;
}
