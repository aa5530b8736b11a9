// The file an extracted member is written to. It exists only while the member
// is being extracted: a member that fails leaves no partial file behind.
#pragma once

#include "platform/file.h"
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

    // Creates the file (Windows-form path) with its missing parent folders;
    // ACE_OK or ACE_OPEN_ERROR.
    int Create(const std::string& winPath);
    bool IsOpen() const { return file_.IsOpen(); }
    // ACE_OK, ACE_DISK_FULL or ACE_WRITE_ERROR.
    int Write(const uint8_t* data, size_t size);
    // Closes the file and gives it the member's date and attributes; the file
    // is removed when closing fails (ACE_WRITE_ERROR).
    int Finish(uint32_t dosTime, uint32_t attributes);
    // Closes and removes the unfinished file.
    void Discard();

private:
    platform::File file_;
    std::string path_;
};

// Creates a directory member with its parents; ACE_OK or ACE_OPEN_ERROR.
int CreateMemberDirectory(const std::string& winPath);

// The date a member gets: its MS-DOS date and time, 1980-01-01 when invalid.
uint32_t ValidDosTime(uint32_t dosTime);

} // namespace dvl::unace
