#include "archive/unzip/entry_data.h"

#include "archive/codecs/crc32.h"
#include "archive/library_state.h"
#include "archive/un_base.h"

#include <algorithm>
#include <cerrno>

namespace dvl::unzip {

EntryInput::EntryInput(uint64_t packedSize, std::optional<ZipKeys> keys, ProgressMeter& meter)
    : total_(packedSize), remaining_(packedSize), keys_(keys), meter_(meter), buffer_(kBlockSize) {}

bool EntryInput::Refill() {
    size_t want = size_t(std::min<uint64_t>(remaining_, kBlockSize));
    size_t got = 0;
    try {
        got = Library().input.Read(buffer_.data(), want);
    } catch (const platform::IoError&) {
        got = 0; // a read error counts as the end of the data
    }
    if (keys_) DecryptBuffer(*keys_, buffer_.data(), got);
    position_ = 0;
    fill_ = got;
    if (got == 0) remaining_ = 0;
    return got > 0;
}

std::span<const uint8_t> EntryInput::Next() {
    if (position_ == fill_) {
        if (remaining_ == 0 || !Refill()) {
            exhausted_ = true;
            return {};
        }
    }
    std::span<const uint8_t> chunk(buffer_.data() + position_, fill_ - position_);
    remaining_ -= chunk.size();
    position_ = fill_;
    return chunk;
}

int EntryInput::NextInputByte() {
    meter_.Evaluate(total_ - remaining_, total_, false);
    if (remaining_ < 1) {
        fill_ = position_ = 0;
        return -1;
    }
    if (position_ == fill_ && !Refill()) return -1;
    --remaining_;
    return buffer_[position_++];
}

bool EntryOutput::Write(const uint8_t* data, size_t n) {
    if (n > limit_ - written_) {
        failure_ = EFBIG;
        return false;
    }
    size_t count = n;
    bool complete = false;
    try {
        complete = extractor_.WriteOutput(data, count);
    } catch (const platform::IoError& e) {
        failure_ = e.ErrorNumber();
        return false;
    }
    if (!complete) {
        failure_ = ENOSPC;
        return false;
    }
    crc_ = codecs::CrcUpdate(crc_, data, n);
    written_ += n;
    return true;
}

} // namespace dvl::unzip
