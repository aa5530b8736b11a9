// The UnACE operations over arbitrary bytes, on real files in a private
// folder. The input is one volume, or two when it holds a second main header
// signature (the bytes from its block on become the ".c00" volume). Every
// member is skipped, tested or extracted (chosen by the input size); nothing
// may be written outside the destination folder.
#include "unace/unace.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using namespace dvl::unace;

const fs::path& Folder() {
    static const fs::path folder = [] {
        auto dir = fs::temp_directory_path() / ("dvl-ace-fuzz-" + std::to_string(getpid()));
        fs::create_directories(dir);
        return dir;
    }();
    return folder;
}

void Write(const fs::path& path, const uint8_t* data, size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
}

// Where a second volume begins: the block of the first signature after the
// first volume's own; size when there is none.
size_t SecondVolumeStart(const uint8_t* data, size_t size) {
    static const char kSignature[] = "**ACE**";
    for (size_t p = 14; p + 7 <= size; ++p)
        if (data[p] == '*' && data[p + 1] == '*' && std::memcmp(data + p, kSignature, 7) == 0)
            return p - 7;
    return size;
}

int AnyVolume(void*, const char* volume, int mode) {
    return volume[0] != '\0' && mode == ACE_VOL_OPENED;
}

// Corrupt LZ77 data may expand to the full claimed size; each input gets this
// much output before the data callback stops the member.
constexpr int64_t kOutputBudget = 8 << 20;
constexpr uint64_t kLargestExtractedMember = 1 << 20;

int BudgetedData(void* userData, const unsigned char* data, int size) {
    auto* budget = static_cast<int64_t*>(userData);
    volatile unsigned char sink = size > 0 ? data[size - 1] : 0;
    (void)sink;
    *budget -= size;
    return *budget > 0;
}

void CheckNothingOutside(const fs::path& folder) {
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name != "in.ace" && name != "in.c00" && name != "out") {
            std::fprintf(stderr, "written outside the destination: %s\n", name.c_str());
            std::abort();
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const fs::path& folder = Folder();
    const size_t second = SecondVolumeStart(data, size);
    Write(folder / "in.ace", data, second);
    if (second < size)
        Write(folder / "in.c00", data + second, size - second);
    else
        fs::remove(folder / "in.c00");

    const int operation = int(size % 3); // skip, test, extract
    const std::string name = (folder / "in.ace").string();
    const std::string dest = (folder / "out").string() + "/";
    AceOpenData open;
    open.ArcName = name.c_str();
    // Listing mode, so that skipped members of solid archives are not
    // decoded out of reach of the budget; every member is processed anyway.
    open.OpenMode = operation == ACE_EXTRACT ? ACE_OPEN_EXTRACT : ACE_OPEN_LIST;
    open.ChangeVolProc = AnyVolume;
    open.ProcessDataProc = BudgetedData;
    // Half of the inputs decrypt encrypted members.
    open.Password = size % 2 ? "test" : nullptr;
    int64_t budget = kOutputBudget;
    open.UserData = &budget;
    if (AceArchive* archive = ACEOpenArchive(&open)) {
        AceHeaderData header;
        while (ACEReadHeader(archive, &header) == ACE_OK) {
            if (std::strlen(header.FileName) >= sizeof header.FileName) std::abort();
            const bool large = header.UnpSize64 > kLargestExtractedMember;
            ACEProcessFile(archive, operation == ACE_EXTRACT && large ? ACE_TEST : operation,
                           dest.c_str());
        }
        ACECloseArchive(archive);
    }
    CheckNothingOutside(folder);
    std::error_code ec;
    for (const auto& entry : fs::recursive_directory_iterator(folder / "out", ec))
        fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(folder / "out", ec);
    return 0;
}
