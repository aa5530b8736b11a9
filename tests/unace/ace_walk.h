// Drives the four UnACE operations the way the ACE back end does, for tests.
#pragma once

#include "unace/unace.h"

#include <filesystem>
#include <string>
#include <vector>

namespace dvl::test {

struct WalkedMember {
    std::string volume; // file-name part of ArcName
    std::string name;   // FileName
    int64_t size = 0;   // UnpSize
    unsigned attributes = 0;
    int result = 0; // of ACEProcessFile
};

struct AceWalk {
    int openResult = 0;
    std::vector<WalkedMember> members;
    int endResult = 0; // the ACEReadHeader result that ended the walk
};

struct WalkOptions {
    int operation = unace::ACE_TEST;
    std::filesystem::path destination{}; // for ACE_EXTRACT
    unace::AceChangeVolumeProc changeVolume = nullptr;
    unace::AceProcessDataProc processData = nullptr;
    void* userData = nullptr;
    const char* password = nullptr;
};

// Opens the archive (extract mode unless listing), processes every member
// with the operation and closes it.
AceWalk WalkAceArchive(const std::filesystem::path& archive, const WalkOptions& options = {});

// The Windows-form spelling of a native path.
std::string WinPath(const std::filesystem::path& path);

// True when `unace t -y` (2.5) tests the archive without an error.
bool PeerUnaceTestsOk(const std::filesystem::path& archive);

} // namespace dvl::test

// Skips the current test when the peer ACE decoder (2.5) is absent.
#define DVL_REQUIRE_PEER_UNACE()                                                                   \
    do {                                                                                           \
        if (!::dvl::test::HaveTool("unace"))                                                       \
            GTEST_SKIP() << "peer tool unace (2.5, Debian unace-nonfree) is absent";               \
    } while (0)
