#include "unace/archive_start.h"

#include "archive/bytes.h"

#include <algorithm>
#include <iterator>
#include <utility>
#include <vector>

namespace dvl::unace {

namespace {

constexpr size_t kSignatureOffset = 7; // of the signature inside the main header block

// A main header that starts at `offset` of the buffer; false when the bytes
// there are not one.
bool MainHeaderAt(const std::vector<uint8_t>& buffer, size_t offset, ArchiveStart& start) {
    if (buffer.size() - offset < 4) return false;
    const uint8_t* p = buffer.data() + offset;
    const size_t headSize = Le16(p + 2);
    if (headSize < kMainHeaderMinSize || buffer.size() - offset - 4 < headSize) return false;
    Block block;
    std::vector<uint8_t> header(p + 4, p + 4 + headSize);
    if (ParseBlock(Le16(p), std::move(header), int64_t(offset), block) != BlockStatus::Ok)
        return false;
    if (!ParseMainHeader(block, start.main)) return false;
    start.firstBlock = block.End();
    start.status = StartStatus::Found;
    return true;
}

bool SignatureAt(const std::vector<uint8_t>& buffer, size_t offset) {
    return offset <= buffer.size() && buffer.size() - offset >= sizeof kAceSignature &&
           std::equal(std::begin(kAceSignature), std::end(kAceSignature), buffer.begin() + offset);
}

} // namespace

ArchiveStart FindArchiveStart(platform::File& file) {
    // Enough for a header whose signature starts just below the range limit.
    const int64_t size = file.Size();
    std::vector<uint8_t> buffer(size_t(std::min<int64_t>(size, kSignatureSearchRange + 0x10000)));
    file.Seek(0);
    buffer.resize(file.Read(buffer.data(), buffer.size()));

    ArchiveStart start;
    if (SignatureAt(buffer, kSignatureOffset)) {
        if (!MainHeaderAt(buffer, 0, start)) start.status = StartStatus::BrokenHeader;
        return start;
    }
    const size_t limit = std::min<size_t>(buffer.size(), kSignatureSearchRange);
    for (size_t p = kSignatureOffset + 1; p < limit; ++p) {
        if (buffer[p] != '*' || !SignatureAt(buffer, p)) continue;
        if (MainHeaderAt(buffer, p - kSignatureOffset, start)) return start;
    }
    return start;
}

} // namespace dvl::unace
