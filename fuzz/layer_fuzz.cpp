// The extraction layer over arbitrary bytes: the first byte picks what the
// file claims to be (TAR, a compressor with or without a TAR inside, a
// cabinet, encoded text, LHA, ARJ, ZOO); the rest is extracted (or tested) into a private
// folder. Nothing may be written outside the destination, nothing may crash
// or hang, and the layer lets no exception out.
#include "archive/extract/extraction.h"
#include "fuzz/destination_guard.h"
#include "platform/paths.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr struct {
    dvl::TArcType type;
    const char* name;
} kKinds[] = {
    {dvl::atTAR, "in.tar"}, {dvl::atGZip, "in.gz"},     {dvl::atCAB, "in.cab"},
    {dvl::atUUE, "in.uue"}, {dvl::atUnknown, "in.bin"}, {dvl::atLZH, "in.lzh"},
    {dvl::atARJ, "in.arj"}, {dvl::atZOO, "in.zoo"},
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const auto& kind = kKinds[data[0] % (sizeof kKinds / sizeof kKinds[0])];
    const bool test = data[0] & 0x80;
    const dvl::fuzz::Folders& f = dvl::fuzz::PrivateFolders("layer-fuzz");
    dvl::fuzz::FreshDestination(f);
    const fs::path archive = f.archive / kind.name;
    if (FILE* file = std::fopen(archive.c_str(), "wb")) {
        std::fwrite(data + 1, 1, size - 1, file);
        std::fclose(file);
    }
    const std::string path = dvl::platform::ToWindowsPath(archive.string());
    // The password of the garbled seeds, so that their data is decoded too.
    if (const auto source = dvl::extract::MakeEntrySource(kind.type, path, 1, {"pw"})) {
        dvl::extract::ExtractionOptions options;
        options.archiveName = kind.name;
        options.destination = dvl::platform::ToWindowsPath(f.out.string());
        options.test = test;
        options.ratioLimit = 100;
        options.protectedFiles = {path};
        dvl::extract::Extraction extraction(options, {});
        extraction.Run(*source);
    }
    dvl::fuzz::CheckNothingOutside(f);
    fs::remove(archive);
    return 0;
}
