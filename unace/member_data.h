// The packed data of one member as one byte stream, read segment by segment
// across the volumes of a split member.
#pragma once

#include "unace/ace_blocks.h"
#include "unace/decoder/ace_decoder.h"
#include "unace/volume_set.h"

#include <cstdint>

namespace dvl::unace {

class MemberData : public PackedInput {
public:
    // `first` is the member's first segment, whose data starts at dataOffset.
    MemberData(VolumeSet& volumes, const FileHeader& first, int64_t dataOffset);

    size_t ReadPacked(uint8_t* buffer, size_t capacity) override;
    // Steps over what is left of the member, through its remaining volumes;
    // ACE_OK or the failure of a volume change.
    int SkipRest();

    // ACE_OK, or why the data ended early: ACE_READ_ERROR (a file shorter than
    // its headers say, a missing volume) or ACE_USER_BREAK.
    int Failure() const { return failure_; }
    // The CRC of the whole member, from the header of its last segment.
    uint32_t MemberCrc() const { return segment_.crc; }

private:
    bool AdvanceSegment();

    VolumeSet& volumes_;
    FileHeader segment_;
    int64_t offset_;
    uint64_t left_;
    int failure_ = 0;
};

} // namespace dvl::unace
