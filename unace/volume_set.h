// The volumes of an archive as one sequence of blocks: the walk position in
// the current volume and the change to the next volume of a split member.
#pragma once

#include "platform/file.h"
#include "unace/ace_blocks.h"
#include "unace/unace.h"

#include <cstdint>
#include <string>

namespace dvl::unace {

struct VolumeCallback {
    AceChangeVolumeProc proc = nullptr;
    void* userData = nullptr;
};

class VolumeSet {
public:
    explicit VolumeSet(VolumeCallback callback) : callback_(callback) {}

    // Opens the first volume and finds its main header: ACE_OK,
    // ACE_FILE_NOT_FOUND, ACE_OPEN_ERROR, ACE_READ_ERROR, ACE_NOT_ACE or
    // ACE_CRC_ERROR (a broken main header).
    int Open(const std::string& winPath);

    const std::string& VolumeName() const { return name_; }
    const MainHeader& FirstMainHeader() const { return firstMain_; }
    bool Solid() const { return (firstMain_.flags & kMainSolid) != 0; }
    platform::File& CurrentFile() { return file_; }
    // True while the walk is at the first block after a volume's main header.
    bool AtVolumeStart() const { return position_ == firstBlock_; }

    // Reads the block at the walk position and moves the position behind the
    // block's data. A position beyond the end of the file (the data of the last
    // member was cut off) counts as truncated. Throws platform::IoError.
    BlockStatus ReadNextBlock(Block& block);

    // Opens the volume after the current one and reads the header that
    // continues the member `storedName`; its data starts at `dataOffset`.
    // ACE_OK; ACE_READ_ERROR when the volume is missing or unusable (after the
    // callback was told so); ACE_USER_BREAK when the callback declined.
    int ChangeToContinuation(const std::string& storedName, FileHeader& continuation,
                             int64_t& dataOffset);

private:
    // Opens a volume and checks its main header; false when it is not usable.
    bool OpenNextVolume(const std::string& winPath);
    bool ReadContinuation(const std::string& storedName, FileHeader& continuation,
                          int64_t& dataOffset);
    bool Notify(const std::string& volume, int mode) const;

    VolumeCallback callback_;
    platform::File file_;
    std::string name_;
    MainHeader firstMain_;
    int volumeNumber_ = 0;
    int64_t fileSize_ = 0;
    int64_t firstBlock_ = 0;
    int64_t position_ = 0;
};

} // namespace dvl::unace
