#include "unace/decoder/ace_bit_reader.h"

#include <algorithm>

namespace dvl::unace::detail {

namespace {
constexpr size_t kInputChunk = 64 * 1024;
}

AceBitReader::AceBitReader(PackedInput& input) : input_(input), buffer_(kInputChunk + 4) {
    next_ = end_ = buffer_.data();
}

// Fewer than 4 bytes are buffered: keep them and read more. A short final word is completed
// with zero bytes and counts as data (those zeros are its high bits, read first); after it, zero
// words are padding.
void AceBitReader::RefillSlow() {
    size_t kept = size_t(end_ - next_);
    std::memmove(buffer_.data(), next_, kept);
    while (kept < 4 && !inputEnded_) {
        const size_t got = input_.ReadPacked(buffer_.data() + kept, kInputChunk + 4 - kept);
        if (got == 0) inputEnded_ = true;
        kept += got;
    }
    next_ = buffer_.data();
    end_ = buffer_.data() + kept;
    if (kept >= 4) {
        Refill();
        return;
    }
    uint8_t last[4] = {0, 0, 0, 0};
    std::copy(next_, end_, last);
    next_ = end_;
    uint32_t word;
    std::memcpy(&word, last, 4);
    PushWord(LittleEndian(word));
    if (kept == 0) padding_ += 32;
}

} // namespace dvl::unace::detail
