#include "unace/decoder/ace_delta_filter.h"

#include <algorithm>

namespace dvl::unace::detail {

void DeltaFilter::Reset() {
    block_.clear();
    distance_ = 1;
    blockLength_ = 0;
    running_ = 0;
}

DecodeResult DeltaFilter::Start(int distance, int blockLength) {
    if (distance <= 0 || blockLength <= 0 || blockLength % distance != 0)
        return DecodeResult::Corrupt;
    distance_ = size_t(distance);
    blockLength_ = size_t(blockLength);
    block_.clear();
    block_.reserve(blockLength_);
    return DecodeResult::Ok;
}

void DeltaFilter::Feed(const uint8_t* data, size_t size, std::vector<uint8_t>& out) {
    while (size > 0) {
        const size_t n = std::min(size, blockLength_ - block_.size());
        block_.insert(block_.end(), data, data + n);
        data += n;
        size -= n;
        if (block_.size() == blockLength_) EmitBlock(out);
    }
}

DecodeResult DeltaFilter::Finish(std::vector<uint8_t>& out) {
    if (block_.size() % distance_ != 0) return DecodeResult::Corrupt;
    EmitBlock(out);
    return DecodeResult::Ok;
}

// Running sum over the block, then plane q's byte `pos` is block[q * S + pos].
void DeltaFilter::EmitBlock(std::vector<uint8_t>& out) {
    for (uint8_t& byte : block_) {
        running_ = uint8_t(running_ + byte);
        byte = running_;
    }
    const size_t planeLength = block_.size() / distance_;
    for (size_t pos = 0; pos < planeLength; ++pos)
        for (size_t q = 0; q < distance_; ++q)
            out.push_back(block_[q * planeLength + pos]);
    block_.clear();
}

} // namespace dvl::unace::detail
