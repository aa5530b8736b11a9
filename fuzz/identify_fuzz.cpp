// Detection over arbitrary bytes: the signature table, the executable probes
// (string resources, the DOS image end, the appended-ZIP scan) and the
// extension fallback, on a real file in a private folder.
#include "archive/zip_common.h"
#include "platform/pe_resources.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

std::string Folder() {
    static const std::string folder = [] {
        auto dir = std::filesystem::temp_directory_path() /
                   ("dvl-identify-fuzz-" + std::to_string(getpid()));
        std::filesystem::create_directories(dir);
        return dir.string();
    }();
    return folder;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Assigning an archive enters its folder; the fuzzer reads its corpus by
    // relative paths.
    const auto workDir = std::filesystem::current_path();
    // The first byte picks an extension so the fallback paths are reached.
    static const char* const kExtensions[] = {".zip", ".exe", ".uue", ".tar", ".t", "."};
    const char* ext = kExtensions[size ? data[0] % 6 : 0];
    std::string path = Folder() + "/input" + ext;
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    std::vector<uint8_t> image(data, data + size);
    if (auto table = dvl::platform::PeStringTable::FromImage(image))
        for (uint32_t id = 0; id < 40; ++id)
            (void)table->Load(id, 6);

    dvl::TZipCommon component(nullptr);
    component.SetZipCmntBufSize(2000);
    try {
        component.SetArchiveFile(path);
    } catch (const std::exception&) {
    }
    std::remove(path.c_str());
    std::filesystem::current_path(workDir);
    return 0;
}
