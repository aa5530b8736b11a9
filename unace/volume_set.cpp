#include "unace/volume_set.h"

#include "platform/paths.h"
#include "unace/archive_start.h"
#include "unace/volume_names.h"

#include <utility>

namespace dvl::unace {

int VolumeSet::Open(const std::string& winPath) {
    name_ = winPath;
    if (!platform::FileExists(winPath)) return ACE_FILE_NOT_FOUND;
    if (!file_.OpenRead(winPath)) return ACE_OPEN_ERROR;
    try {
        fileSize_ = file_.Size();
        const ArchiveStart start = FindArchiveStart(file_);
        if (start.status == StartStatus::NotAce) return ACE_NOT_ACE;
        if (start.status == StartStatus::BrokenHeader) return ACE_CRC_ERROR;
        firstMain_ = start.main;
        volumeNumber_ = start.main.volumeNumber;
        firstBlock_ = position_ = start.firstBlock;
    } catch (const platform::IoError&) {
        return ACE_READ_ERROR;
    }
    return ACE_OK;
}

BlockStatus VolumeSet::ReadNextBlock(Block& block) {
    if (position_ > fileSize_) return BlockStatus::Truncated;
    const BlockStatus status = ReadBlock(file_, position_, block);
    if (status == BlockStatus::Ok) position_ = block.End();
    return status;
}

int VolumeSet::ChangeToContinuation(const std::string& storedName, FileHeader& continuation,
                                    int64_t& dataOffset) {
    const std::vector<std::string> names = NextVolumeNames(name_);
    std::string next = names.front();
    for (const std::string& name : names) {
        if (platform::FileExists(name)) {
            next = name;
            break;
        }
    }
    if (!OpenNextVolume(next) || !ReadContinuation(storedName, continuation, dataOffset)) {
        Notify(next, ACE_VOL_MISSING);
        return ACE_READ_ERROR;
    }
    return Notify(next, ACE_VOL_OPENED) ? ACE_OK : ACE_USER_BREAK;
}

bool VolumeSet::OpenNextVolume(const std::string& winPath) {
    platform::File file;
    if (!platform::FileExists(winPath) || !file.OpenRead(winPath)) return false;
    try {
        const ArchiveStart start = FindArchiveStart(file);
        if (start.status != StartStatus::Found || start.main.volumeNumber != volumeNumber_ + 1)
            return false;
        fileSize_ = file.Size();
        firstBlock_ = position_ = start.firstBlock;
    } catch (const platform::IoError&) {
        return false;
    }
    file_ = std::move(file);
    name_ = winPath;
    ++volumeNumber_;
    return true;
}

bool VolumeSet::ReadContinuation(const std::string& storedName, FileHeader& continuation,
                                 int64_t& dataOffset) {
    Block block;
    try {
        if (ReadNextBlock(block) != BlockStatus::Ok) return false;
    } catch (const platform::IoError&) {
        return false;
    }
    if (!ParseFileHeader(block, continuation)) return false;
    dataOffset = block.DataOffset();
    return continuation.ContinuesPrevious() && continuation.name == storedName;
}

bool VolumeSet::Notify(const std::string& volume, int mode) const {
    if (!callback_.proc) return mode == ACE_VOL_OPENED;
    return callback_.proc(callback_.userData, volume.c_str(), mode) != 0;
}

} // namespace dvl::unace
