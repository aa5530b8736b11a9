// The values one run of dvl2 works with. They live for the whole run and
// nothing of them is stored on disk.
#pragma once

#include <cstdint>
#include <string>

namespace dvl::dvl2 {

// The caption of plain message boxes and the program's title.
inline constexpr const char* kApplicationTitle = "Dovrel v2.2b";

enum Mode : int { kModeExtract = 0, kModeTest = 1, kModeList = 2 };

struct FrontState {
    std::string ArchivePath;   // Windows form, as the components take it
    std::string ArchiveFormat; // "RAR", "ACE", "ZIP", "ARJ", "LHA" or empty
    std::string DestFolder;
    int Mode = kModeExtract;
    bool StartPending = false;
    std::string FileSpec;
    std::string MatchMask;
    bool ExtractAllMatching = false;
    bool OptionsCancelled = false;
    bool CancelRequested = false;
    double EntryProgress = 0;
    int32_t EntrySize = 0;
};

} // namespace dvl::dvl2
