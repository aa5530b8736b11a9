#include "unace/member_data.h"

#include <algorithm>

namespace dvl::unace {

MemberData::MemberData(VolumeSet& volumes, const FileHeader& first, int64_t dataOffset)
    : volumes_(volumes), segment_(first), offset_(dataOffset), left_(first.packSize) {}

bool MemberData::AdvanceSegment() {
    if (failure_ != ACE_OK || !segment_.ContinuesInNext()) return false;
    const std::string name = segment_.name;
    failure_ = volumes_.ChangeToContinuation(name, segment_, offset_);
    left_ = segment_.packSize;
    return failure_ == ACE_OK;
}

size_t MemberData::ReadPacked(uint8_t* buffer, size_t capacity) {
    while (left_ == 0)
        if (!AdvanceSegment()) return 0;
    const size_t wanted = size_t(std::min<uint64_t>(capacity, left_));
    size_t got = 0;
    try {
        platform::File& file = volumes_.CurrentFile();
        file.Seek(offset_);
        got = file.Read(buffer, wanted);
    } catch (const platform::IoError&) {
        got = 0;
    }
    if (got < wanted) {
        // The volume ends before its header's data size: nothing more follows.
        failure_ = ACE_READ_ERROR;
        left_ = 0;
        segment_.flags = uint16_t(segment_.flags & ~kFileContinuedInNext);
    } else {
        left_ -= got;
    }
    offset_ += int64_t(got);
    return got;
}

int MemberData::SkipRest() {
    left_ = 0;
    while (AdvanceSegment())
        left_ = 0;
    return failure_;
}

} // namespace dvl::unace
