// Inflate block driver: block headers, stored blocks, code-length decoding, the careful
// symbol-at-a-time path at chunk edges, output delivery and the error codes.
//
// Invariants:
// - Outside the fast loop, bits of the bit buffer above the valid count are zero, so a lookup
//   near the end of the input sees zeros where no input exists; a code is accepted only when its
//   own length (and then its extra bits) fit the valid bits, and the buffer is filled to 56 bits
//   or to the end of the input before each lookup, so "not enough bits" means the input ran out.
//   The count never exceeds 63, which the fast loop's refill relies on.
// - The write position always has the 32 KB history before it (zeros before the entry's first
//   byte) and, at the top of each decoding step, kOutputMargin bytes of room after it.
// - `flushed` marks the delivered output; it advances only in whole 32768-byte pieces until the
//   final flush, so pieces leave at the same boundaries as a 32 KB window would write them.
#include "archive/codecs/inflate.h"

#include "archive/codecs/inflate_internal.h"
#include "archive/errors.h"

#include <algorithm>
#include <cstring>

namespace dvl::codecs {

using namespace inflate_detail;

namespace {

constexpr size_t kHistory = 32768;
constexpr size_t kPiece = 32768;
constexpr size_t kBufferSize = kHistory + 31 * kPiece;

enum class BlockKind { kStored, kFixed, kDynamic };

// A short write, and an invalid code, report the kind of block being decoded.
int WriteError(BlockKind kind) {
    switch (kind) {
    case BlockKind::kStored:
        return kErrWritingFile;
    case BlockKind::kFixed:
        return kErrBadBlock;
    case BlockKind::kDynamic:
        return kErrIncompleteCodeSet;
    }
    return kErrWritingFile;
}
int InvalidCodeError(BlockKind kind) {
    return kind == BlockKind::kFixed ? kErrBadBlock : kErrIncompleteCodeSet;
}

constexpr uint8_t kCodeLengthOrder[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                          11, 4,  12, 3, 13, 2, 14, 1, 15};

} // namespace

struct Inflater::State {
    // Input: the current chunk and the bit buffer.
    ByteSource* input = nullptr;
    const uint8_t* chunkStart = nullptr;
    const uint8_t* in = nullptr;
    const uint8_t* inEnd = nullptr;
    uint64_t bytesBeforeChunk = 0;
    bool inputDone = false;
    bool ranOut = false;
    uint64_t bitBuffer = 0;
    unsigned bitCount = 0;

    // Output: history, pending bytes and room, in one buffer.
    ByteSink* output = nullptr;
    uint8_t* out = nullptr;
    uint8_t* flushed = nullptr;
    uint64_t flushedTotal = 0;
    uint64_t blockEndTotal = 0;
    bool discardPending = false;
    bool writeFailed = false;

    HuffmanTable litLen, distance, codeLength;
    uint32_t litLenEntries[kLitLenTableSize];
    uint32_t distanceEntries[kDistanceTableSize];
    uint32_t codeLengthEntries[kCodeLengthTableSize];
    alignas(64) uint8_t buffer[kBufferSize];

    void Reset(ByteSource& in_, ByteSink& out_, std::span<const uint8_t> history);
    int Decode();

    uint64_t Consumed() const {
        uint64_t loaded = bytesBeforeChunk + uint64_t(in - chunkStart);
        return ranOut ? loaded : loaded - bitCount / 8;
    }
    uint64_t TotalOut() const { return flushedTotal + uint64_t(out - flushed); }

    // Bit reader.
    bool NextChunk();
    bool PullByte() {
        if (in == inEnd && !NextChunk()) return false;
        bitBuffer |= uint64_t(*in++) << bitCount;
        bitCount += 8;
        return true;
    }
    bool Need(unsigned n) {
        while (bitCount < n)
            if (!PullByte()) return false;
        return true;
    }
    // Tops the buffer up to 56..63 bits, or to the end of the input.
    void Fill() {
        while (bitCount < 56 && PullByte()) {
        }
    }
    uint32_t Take(unsigned n) {
        uint32_t v = uint32_t(bitBuffer & ((uint64_t(1) << n) - 1));
        bitBuffer >>= n;
        bitCount -= n;
        return v;
    }
    int RanOut() {
        ranOut = true;
        return kErrBadBlock;
    }

    // Output.
    bool DeliverPieces();
    bool MakeRoom();
    void DeliverAfterError();

    // Blocks.
    int StoredBlock();
    int DynamicBlock();
    int HuffmanBlock(const HuffmanTable& lit, const HuffmanTable& dist, BlockKind kind);
    enum class Lookup { kOk, kRanOut, kInvalid };
    Lookup SlowLookup(const HuffmanTable& table, uint32_t* entry);
    int SlowSymbol(const HuffmanTable& lit, const HuffmanTable& dist, BlockKind kind, bool* end);
};

void Inflater::State::Reset(ByteSource& in_, ByteSink& out_, std::span<const uint8_t> history) {
    input = &in_;
    chunkStart = in = inEnd = nullptr;
    bytesBeforeChunk = 0;
    inputDone = ranOut = false;
    bitBuffer = 0;
    bitCount = 0;
    output = &out_;
    std::memset(buffer, 0, kHistory);
    if (history.size() > kHistory) history = history.last(kHistory);
    if (!history.empty())
        std::memcpy(buffer + kHistory - history.size(), history.data(), history.size());
    out = flushed = buffer + kHistory;
    flushedTotal = blockEndTotal = 0;
    discardPending = writeFailed = false;
}

bool Inflater::State::NextChunk() {
    if (inputDone) return false;
    bytesBeforeChunk += uint64_t(inEnd - chunkStart);
    std::span<const uint8_t> chunk = input->Next();
    if (chunk.empty()) {
        inputDone = true;
        chunkStart = in = inEnd = nullptr;
        return false;
    }
    chunkStart = in = chunk.data();
    inEnd = chunk.data() + chunk.size();
    return true;
}

bool Inflater::State::DeliverPieces() {
    while (size_t(out - flushed) >= kPiece) {
        if (!output->Write(flushed, kPiece)) {
            writeFailed = true;
            return false;
        }
        flushed += kPiece;
        flushedTotal += kPiece;
    }
    return true;
}

bool Inflater::State::MakeRoom() {
    if (!DeliverPieces()) return false;
    // Keep the history before the delivered mark and the pending bytes after it.
    uint8_t* keep = flushed - kHistory;
    size_t shift = size_t(keep - buffer);
    std::memmove(buffer, keep, size_t(out - keep));
    flushed -= shift;
    out -= shift;
    return true;
}

void Inflater::State::DeliverAfterError() {
    if (writeFailed || discardPending) return;
    if (blockEndTotal > flushedTotal) output->Write(flushed, size_t(blockEndTotal - flushedTotal));
}

int Inflater::State::StoredBlock() {
    Take(bitCount % 8);
    if (!Need(32)) return RanOut();
    uint32_t length = Take(16);
    if (Take(16) != (~length & 0xFFFF)) {
        discardPending = true;
        return kErrBadBlock;
    }
    // Whole bytes still in the bit buffer come first.
    while (length > 0 && bitCount >= 8) {
        if (size_t(buffer + kBufferSize - out) < kOutputMargin && !MakeRoom())
            return kErrWritingFile;
        *out++ = uint8_t(Take(8));
        --length;
    }
    while (length > 0) {
        if (in == inEnd && !NextChunk()) return RanOut();
        if (size_t(buffer + kBufferSize - out) < kOutputMargin && !MakeRoom())
            return kErrWritingFile;
        size_t n =
            std::min({size_t(length), size_t(inEnd - in), size_t(buffer + kBufferSize - out)});
        std::memcpy(out, in, n);
        out += n;
        in += n;
        length -= uint32_t(n);
    }
    return 0;
}

Inflater::State::Lookup Inflater::State::SlowLookup(const HuffmanTable& table, uint32_t* entry) {
    const unsigned root = table.rootBits;
    uint32_t e = table.entries[bitBuffer & ((uint64_t(1) << root) - 1)];
    if (e & kLink) {
        uint32_t sub = table.entries[EntryValue(e) + ((bitBuffer >> root) &
                                                      ((uint64_t(1) << EntryCodeBits(e)) - 1))];
        if (root + EntryCodeBits(sub) > bitCount) return Lookup::kRanOut;
        if (sub & kInvalid) return Lookup::kInvalid;
        Take(root);
        e = sub;
    } else {
        if (EntryCodeBits(e) > bitCount) return Lookup::kRanOut;
        if (e & kInvalid) return Lookup::kInvalid;
    }
    // The extra bits follow the code.
    if (EntryDropBits(e) > bitCount) return Lookup::kRanOut;
    *entry = e;
    return Lookup::kOk;
}

int Inflater::State::SlowSymbol(const HuffmanTable& lit, const HuffmanTable& dist, BlockKind kind,
                                bool* end) {
    auto take = [this](uint32_t e) {
        uint32_t all = Take(EntryDropBits(e));
        return EntryValue(e) + (all >> EntryCodeBits(e));
    };
    uint32_t e;
    Fill();
    switch (SlowLookup(lit, &e)) {
    case Lookup::kOk:
        break;
    case Lookup::kRanOut:
        return RanOut();
    case Lookup::kInvalid:
        return InvalidCodeError(kind);
    }
    if (e & kLiteral) {
        *out++ = uint8_t(take(e));
        return 0;
    }
    if (e & kEndOfBlock) {
        Take(EntryDropBits(e));
        *end = true;
        return 0;
    }
    const uint32_t length = take(e);
    Fill();
    uint32_t d;
    switch (SlowLookup(dist, &d)) {
    case Lookup::kOk:
        break;
    case Lookup::kRanOut:
        return RanOut();
    case Lookup::kInvalid:
        return InvalidCodeError(kind);
    }
    out = CopyMatch(out, take(d), length);
    return 0;
}

int Inflater::State::HuffmanBlock(const HuffmanTable& lit, const HuffmanTable& dist,
                                  BlockKind kind) {
    for (;;) {
        if (size_t(buffer + kBufferSize - out) <= kOutputMargin && !MakeRoom())
            return WriteError(kind);
        if (size_t(inEnd - in) > kInputMargin) {
            FastCursor c{in,        inEnd - kInputMargin,
                         bitBuffer, bitCount,
                         out,       buffer + kBufferSize - kOutputMargin};
            FastExit exit = DecodeFast(c, lit, dist);
            in = c.in;
            out = c.out;
            bitCount = c.bitCount;
            bitBuffer = c.bitBuffer & ((uint64_t(1) << bitCount) - 1);
            if (exit == FastExit::kEndOfBlock) return 0;
            if (exit == FastExit::kInvalid) return InvalidCodeError(kind);
            continue;
        }
        bool end = false;
        if (int error = SlowSymbol(lit, dist, kind, &end)) return error;
        if (end) return 0;
    }
}

int Inflater::State::DynamicBlock() {
    if (!Need(14)) return RanOut();
    const unsigned litLenCount = Take(5) + 257;
    const unsigned distanceCount = Take(5) + 1;
    const unsigned codeLengthCount = Take(4) + 4;
    // Five-bit fields cannot exceed these limits; the check keeps the arrays below safe anyway.
    if (litLenCount > 288 || distanceCount > 32) return kErrBadLengths;

    uint8_t lengths[288 + 32] = {};
    for (unsigned i = 0; i < codeLengthCount; ++i) {
        if (!Need(3)) return RanOut();
        lengths[kCodeLengthOrder[i]] = uint8_t(Take(3));
    }
    codeLength.entries = codeLengthEntries;
    if (!BuildHuffmanTable(TableKind::kCodeLength, lengths, 19, codeLengthEntries,
                           kCodeLengthTableSize, &codeLength.rootBits))
        return kErrIncompleteCodeSet;

    const unsigned total = litLenCount + distanceCount;
    unsigned previous = 0;
    for (unsigned i = 0; i < total;) {
        Fill();
        uint32_t e;
        switch (SlowLookup(codeLength, &e)) {
        case Lookup::kOk:
            break;
        case Lookup::kRanOut:
            return RanOut();
        case Lookup::kInvalid:
            return kErrIncompleteCodeSet;
        }
        Take(EntryDropBits(e));
        const unsigned symbol = EntryValue(e);
        if (symbol < 16) {
            lengths[i++] = uint8_t(symbol);
            previous = symbol;
            continue;
        }
        unsigned extraBits = symbol == 16 ? 2 : symbol == 17 ? 3 : 7;
        if (!Need(extraBits)) return RanOut();
        unsigned repeat = (symbol == 18 ? 11 : 3) + Take(extraBits);
        if (repeat > total - i) return kErrIncompleteCodeSet;
        // A repeat with no length before it repeats 0.
        const uint8_t value = symbol == 16 ? uint8_t(previous) : 0;
        std::memset(lengths + i, value, repeat);
        i += repeat;
        previous = value;
    }
    litLen.entries = litLenEntries;
    distance.entries = distanceEntries;
    if (!BuildHuffmanTable(TableKind::kLitLen, lengths, litLenCount, litLenEntries,
                           kLitLenTableSize, &litLen.rootBits) ||
        !BuildHuffmanTable(TableKind::kDistance, lengths + litLenCount, distanceCount,
                           distanceEntries, kDistanceTableSize, &distance.rootBits))
        return kErrIncompleteCodeSet;
    return HuffmanBlock(litLen, distance, BlockKind::kDynamic);
}

int Inflater::State::Decode() {
    bool last = false;
    while (!last) {
        BlockKind kind = BlockKind::kFixed;
        int error;
        if (!Need(3)) {
            error = RanOut();
        } else {
            last = Take(1) != 0;
            switch (Take(2)) {
            case 0:
                kind = BlockKind::kStored;
                error = StoredBlock();
                break;
            case 1:
                error = HuffmanBlock(FixedLitLenTable(), FixedDistanceTable(), kind);
                break;
            case 2:
                kind = BlockKind::kDynamic;
                error = DynamicBlock();
                break;
            default:
                error = kErrBadBlock;
                break;
            }
        }
        if (writeFailed) return error;
        // Pieces completed before a failure would have been written by then.
        if (!DeliverPieces()) return WriteError(kind);
        if (error) {
            DeliverAfterError();
            return error;
        }
        blockEndTotal = TotalOut();
    }
    if (out > flushed && !output->Write(flushed, size_t(out - flushed))) return kErrWritingFile;
    flushedTotal += uint64_t(out - flushed);
    flushed = out;
    return 0;
}

Inflater::Inflater() : state_(std::make_unique<State>()) {}
Inflater::~Inflater() = default;

InflateResult Inflater::Inflate(ByteSource& in, ByteSink& out) {
    return Inflate(in, out, {});
}

InflateResult Inflater::Inflate(ByteSource& in, ByteSink& out, std::span<const uint8_t> history) {
    state_->Reset(in, out, history);
    int error = state_->Decode();
    return {error, state_->Consumed()};
}

uint64_t Inflater::Consumed() const {
    return state_->Consumed();
}

} // namespace dvl::codecs
