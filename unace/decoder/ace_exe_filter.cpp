#include "unace/decoder/ace_exe_filter.h"

namespace dvl::unace::detail {

namespace {

constexpr uint8_t kCall = 0xE8;
constexpr uint8_t kJump = 0xE9;
// An opcode is translated only when at least this many bytes follow it in the run.
constexpr size_t kBytesAfterOpcode = 4;

void SubtractLe(uint8_t* operand, size_t width, uint64_t position) {
    uint32_t value = 0;
    for (size_t i = 0; i < width; ++i)
        value |= uint32_t(operand[i]) << (8 * i);
    value -= uint32_t(position);
    for (size_t i = 0; i < width; ++i)
        operand[i] = uint8_t(value >> (8 * i));
}

} // namespace

void ExeFilter::Reset() {
    held_.clear();
    wideCalls_ = false;
}

void ExeFilter::Feed(const uint8_t* data, size_t size, uint64_t position,
                     std::vector<uint8_t>& out) {
    const uint64_t firstPosition = position - held_.size();
    const size_t start = out.size();
    out.insert(out.end(), held_.begin(), held_.end());
    out.insert(out.end(), data, data + size);
    held_.clear();

    uint8_t* bytes = out.data() + start;
    const size_t count = out.size() - start;
    size_t i = 0;
    while (i < count) {
        const uint8_t byte = bytes[i];
        if (byte != kCall && byte != kJump) {
            ++i;
            continue;
        }
        if (count - i <= kBytesAfterOpcode) {
            held_.assign(bytes + i, bytes + count);
            out.resize(start + i);
            return;
        }
        const size_t width = byte == kCall && wideCalls_ ? 4 : 2;
        SubtractLe(bytes + i + 1, width, firstPosition + i);
        i += 1 + width;
    }
}

void ExeFilter::Flush(std::vector<uint8_t>& out) {
    out.insert(out.end(), held_.begin(), held_.end());
    held_.clear();
}

} // namespace dvl::unace::detail
