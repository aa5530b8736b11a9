// The lister over arbitrary bytes, on a real file in a private folder.
// Nothing may escape Activate: a listing ends in a result, never a throw.
// Built once per reader with DVL_FUZZ_EXTENSION naming the file's extension
// (the reader's seeds steer detection to it); without it, the first byte
// picks the extension and so any reader or the executable probes.
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

// The extension, which a missing volume's name, the detection of executables
// and of the formats known by their extension (TAR, UUE) depend on.
std::string Extension([[maybe_unused]] const uint8_t* data, [[maybe_unused]] size_t size) {
#ifdef DVL_FUZZ_EXTENSION
    return DVL_FUZZ_EXTENSION;
#else
    static const char* const kExtensions[] = {".zip", ".cab", ".arj", ".exe", ".gz",
                                              ".z",   ".tar", ".uue", ".lzh", ".zoo",
                                              ".rar", ".arc", ".pak", ".bh",  ".ha"};
    constexpr size_t kCount = sizeof kExtensions / sizeof kExtensions[0];
    return kExtensions[size ? data[0] % kCount : 0];
#endif
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Assigning an archive enters its folder; the fuzzer reads its corpus by
    // relative paths.
    const auto workDir = std::filesystem::current_path();
    const std::string path = Folder() + "/input" + Extension(data, size);
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
