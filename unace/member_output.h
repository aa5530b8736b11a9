// The file an extracted member is written to. It is written beside its final
// name and takes it only when the member verified: a member that fails
// leaves no partial file behind and the file it would replace intact.
#pragma once

#include "platform/file.h"
#include "platform/output_tree.h"
#include "unace/unace.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace dvl::unace {

class MemberOutput {
public:
    MemberOutput() = default;
    ~MemberOutput(); // discards an unfinished file
    MemberOutput(const MemberOutput&) = delete;
    MemberOutput& operator=(const MemberOutput&) = delete;

    // Creates the file at a path below the tree's destination ("\"
    // separated) with its missing folders, never through a symbolic link nor
    // in an archive's place; ACE_OK or ACE_OPEN_ERROR.
    int Create(platform::OutputTree& tree, const std::string& relative);
    bool IsOpen() const { return file_.IsOpen(); }
    // ACE_OK, ACE_DISK_FULL or ACE_WRITE_ERROR.
    int Write(const uint8_t* data, size_t size);
    // Gives the file the member's date and attributes, closes it and gives it
    // its name; the file is removed when that fails (ACE_WRITE_ERROR).
    int Finish(uint32_t dosTime, uint32_t attributes);
    // Closes and removes the unfinished file.
    void Discard();

private:
    platform::File file_;
    platform::PendingFile pending_;
};

// Creates a directory member with its parents; ACE_OK or ACE_OPEN_ERROR.
int CreateMemberDirectory(platform::OutputTree& tree, const std::string& relative);

// The date a member gets: its MS-DOS date and time, 1980-01-01 when invalid.
uint32_t ValidDosTime(uint32_t dosTime);

} // namespace dvl::unace
