// The LZX block driver: frames, LZX block headers, trees, uncompressed blocks and the undoing of
// call translation. The symbol loop is in lzx_symbols.cpp, the table builder in lzx_huffman.cpp.
//
// The window is one linear buffer: a frame is decoded at the write position, with the folder's
// output before it. Before a frame would pass the buffer's end, the last window-size bytes move to
// its start, so at least min(folder output, window size) bytes of history always precede the write
// position and a match never wraps. The buffer is the window size plus at least as much room again
// (256 KiB at least), so the moves cost at most one byte per byte of output, plus kCopySlack bytes
// that a match copy may scribble past a frame's end.
#include "archive/codecs/lzx.h"

#include "archive/codecs/lzx_internal.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <sys/mman.h>

namespace dvl::codecs {

using namespace lzx_detail;

namespace {

enum BlockType : unsigned { kVerbatim = 1, kAlignedOffset = 2, kUncompressed = 3 };

constexpr int kMinWindowBits = 15;
constexpr int kMaxWindowBits = 21;
// Frames starting at or beyond this much folder output keep their 0xE8 bytes as decoded.
constexpr uint64_t kTranslationLimit = uint64_t(1) << 30;

unsigned PositionSlots(int windowBits) {
    // Two slots per doubling up to 2^19; the slots of 17 extra bits fill the rest.
    switch (windowBits) {
    case 20:
        return 42;
    case 21:
        return 50;
    default:
        return unsigned(2 * windowBits);
    }
}

uint32_t LoadLe32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Turns each translated call target of a frame back into a relative displacement.
void UndoCallTranslation(uint8_t* frame, size_t size, uint64_t frameOffset,
                         int32_t translationSize) {
    if (size <= 10 || frameOffset >= kTranslationLimit) return;
    uint8_t* p = frame;
    uint8_t* const limit = frame + size - 10; // an 0xE8 here still has its four bytes in the frame
    while (p < limit) {
        p = static_cast<uint8_t*>(std::memchr(p, 0xE8, size_t(limit - p)));
        if (!p) break;
        const int64_t current = int64_t(frameOffset) + (p - frame);
        const int32_t value = int32_t(LoadLe32(p + 1));
        if (value >= -current && value < translationSize) {
            const int64_t displacement =
                value >= 0 ? value - current : value + int64_t(translationSize);
            const uint32_t v = uint32_t(displacement);
            p[1] = uint8_t(v);
            p[2] = uint8_t(v >> 8);
            p[3] = uint8_t(v >> 16);
            p[4] = uint8_t(v >> 24);
        }
        p += 5;
    }
}

struct FreeBuffer {
    void operator()(uint8_t* p) const { std::free(p); }
};
using WindowBuffer = std::unique_ptr<uint8_t[], FreeBuffer>;

// The window buffer is touched page by page as output first passes through it: in 4 KiB pages
// that is a page fault per 4 KiB, which costs as much as decoding the bytes of a
// highly-compressed folder. A buffer of a megabyte or more is aligned to 2 MiB and asks for huge
// pages (where the system gives none, nothing changes). Null when memory is short.
WindowBuffer AllocateWindow(size_t size) {
    constexpr size_t kHugePage = size_t(2) << 20;
    if (size >= kHugePage / 2) {
        const size_t rounded = (size + kHugePage - 1) / kHugePage * kHugePage;
        if (void* p = std::aligned_alloc(kHugePage, rounded)) {
            ::madvise(p, rounded, MADV_HUGEPAGE);
            return WindowBuffer(static_cast<uint8_t*>(p));
        }
        return nullptr;
    }
    return WindowBuffer(static_cast<uint8_t*>(std::malloc(size)));
}

} // namespace

struct LzxDecoder::State {
    uint32_t windowSize = 0;
    unsigned mainSymbols = 0;
    WindowBuffer buffer;
    size_t capacity = 0; // frames end at most here; kCopySlack more bytes follow
    DecodeStatus fixedError = DecodeStatus::Ok; // a window that cannot be used

    // Folder state.
    size_t writePos = 0;
    uint64_t total = 0; // folder output before the next frame
    DecodeStatus error = DecodeStatus::Ok;
    bool headerRead = false;
    bool translate = false;
    int32_t translationSize = 0;
    unsigned blockType = 0;
    uint32_t blockSize = 0;
    uint32_t blockRemaining = 0;
    bool padPending = false; // an odd uncompressed block's padding byte opens the next data block
    RepeatedOffsets repeats;
    uint8_t mainLengths[kMaxMainSymbols] = {};
    uint8_t lengthLengths[kLengthSymbols] = {};
    uint8_t alignedLengths[kAlignedSymbols] = {};

    uint32_t mainEntries[TableCapacity(kMainRootBits, kMaxMainSymbols)];
    uint32_t lengthEntries[TableCapacity(kLengthRootBits, kLengthSymbols)];
    uint32_t alignedEntries[TableCapacity(kAlignedRootBits, kAlignedSymbols)];
    uint32_t pretreeEntries[TableCapacity(kPretreeRootBits, kPretreeSymbols)];
    HuffmanTable mainTable{kMainRootBits, 0, mainEntries};
    HuffmanTable lengthTable{kLengthRootBits, 0, lengthEntries};
    HuffmanTable alignedTable{kAlignedRootBits, 0, alignedEntries};
    HuffmanTable pretreeTable{kPretreeRootBits, 0, pretreeEntries};

    void Reset();
    DecodeStatus DecodeFrame(std::span<const uint8_t> input, uint8_t*& out, uint8_t* frameEnd);
    DecodeStatus ReadBlockHeader(BitReader& reader, bool& raw, size_t& bytePos);
    bool ReadTrees(BitReader& reader, bool aligned);
    bool ReadLengths(BitReader& reader, uint8_t* lengths, unsigned first, unsigned last);
};

void LzxDecoder::State::Reset() {
    writePos = 0;
    total = 0;
    error = fixedError;
    headerRead = false;
    translate = false;
    translationSize = 0;
    blockType = 0;
    blockSize = 0;
    blockRemaining = 0;
    padPending = false;
    repeats = RepeatedOffsets{};
    std::fill(std::begin(mainLengths), std::end(mainLengths), uint8_t(0));
    std::fill(std::begin(lengthLengths), std::end(lengthLengths), uint8_t(0));
}

// Reads the lengths first..last-1 as changes against their previous values: 20 pretree lengths of
// 4 bits, then pretree codes: 0-16 a change (modulo 17), 17 a run of 4-19 zeros, 18 a run of 20-51
// zeros, 19 a run of 4-5 of one new length (the change that follows, applied to the run's first
// previous length).
bool LzxDecoder::State::ReadLengths(BitReader& reader, uint8_t* lengths, unsigned first,
                                    unsigned last) {
    uint8_t pretreeLengths[kPretreeSymbols];
    for (uint8_t& len : pretreeLengths)
        len = uint8_t(reader.Read(4));
    if (BuildTable(pretreeLengths, kPretreeSymbols, pretreeTable, std::size(pretreeEntries)) !=
        BuildResult::kComplete)
        return false;

    auto nextCode = [&](uint32_t& code) {
        reader.Refill();
        const uint32_t e = Lookup(pretreeTable, reader.bits);
        if (e & kInvalid) return false;
        reader.Drop(e & 0xFF);
        code = e >> 16;
        return true;
    };
    auto change = [](uint8_t previous, uint32_t code) {
        return uint8_t((previous + 17 - code) % 17);
    };

    unsigned x = first;
    while (x < last) {
        uint32_t code;
        if (!nextCode(code)) return false;
        if (code <= 16) {
            lengths[x] = change(lengths[x], code);
            ++x;
            continue;
        }
        unsigned run;
        uint8_t value = 0;
        if (code == 17) {
            run = 4 + reader.Read(4);
        } else if (code == 18) {
            run = 20 + reader.Read(5);
        } else {
            run = 4 + reader.Read(1);
            uint32_t same;
            if (!nextCode(same) || same > 16) return false;
            value = change(lengths[x], same);
        }
        if (run > last - x) return false;
        std::fill(lengths + x, lengths + x + run, value);
        x += run;
    }
    return true;
}

bool LzxDecoder::State::ReadTrees(BitReader& reader, bool aligned) {
    if (aligned) {
        for (uint8_t& len : alignedLengths)
            len = uint8_t(reader.Read(3));
        // An aligned block declares its aligned tree in use: it cannot be empty.
        if (BuildTable(alignedLengths, kAlignedSymbols, alignedTable, std::size(alignedEntries)) !=
            BuildResult::kComplete)
            return false;
    }
    if (!ReadLengths(reader, mainLengths, 0, kNumChars) ||
        !ReadLengths(reader, mainLengths, kNumChars, mainSymbols))
        return false;
    // A block has at least one byte, so its main tree cannot be empty.
    if (BuildTable(mainLengths, mainSymbols, mainTable, std::size(mainEntries)) !=
        BuildResult::kComplete)
        return false;
    if (!ReadLengths(reader, lengthLengths, 0, kLengthSymbols)) return false;
    // The one tree that may be empty: a block whose matches are all shorter than 9 bytes.
    return BuildTable(lengthLengths, kLengthSymbols, lengthTable, std::size(lengthEntries)) !=
           BuildResult::kBad;
}

DecodeStatus LzxDecoder::State::ReadBlockHeader(BitReader& reader, bool& raw, size_t& bytePos) {
    reader.Refill();
    const unsigned type = reader.Take(3);
    const uint32_t size = reader.Take(24);
    if (reader.Overrun()) return DecodeStatus::Truncated;
    if (type < kVerbatim || type > kUncompressed || size == 0) return DecodeStatus::Corrupt;
    blockType = type;
    blockSize = blockRemaining = size;

    if (type != kUncompressed) {
        if (ReadTrees(reader, type == kAlignedOffset) && !reader.Overrun()) return DecodeStatus::Ok;
        return reader.Overrun() ? DecodeStatus::Truncated : DecodeStatus::Corrupt;
    }
    bytePos = reader.AlignedBytePosition();
    if (bytePos > reader.size || reader.size - bytePos < 12) return DecodeStatus::Truncated;
    const uint8_t* r = reader.data + bytePos;
    repeats = {LoadLe32(r), LoadLe32(r + 4), LoadLe32(r + 8)};
    bytePos += 12;
    raw = true;
    return DecodeStatus::Ok;
}

DecodeStatus LzxDecoder::State::DecodeFrame(std::span<const uint8_t> input, uint8_t*& out,
                                            uint8_t* const frameEnd) {
    const uint8_t* const data = input.data();
    const size_t size = input.size();
    size_t bytePos = 0;
    if (padPending) {
        if (size == 0) return DecodeStatus::Truncated;
        padPending = false;
        bytePos = 1;
    }
    bool raw = blockType == kUncompressed && blockRemaining > 0;
    BitReader reader(data, size, bytePos);

    if (!headerRead) {
        headerRead = true;
        translate = reader.Read(1) != 0;
        if (translate) {
            const uint32_t high = reader.Read(16);
            translationSize = int32_t(high << 16 | reader.Read(16));
        }
    }

    const SymbolContext context{&mainTable, &lengthTable, &alignedTable, buffer.get(), windowSize};
    while (out < frameEnd) {
        if (blockRemaining == 0) {
            const DecodeStatus status = ReadBlockHeader(reader, raw, bytePos);
            if (status != DecodeStatus::Ok) return status;
            continue;
        }
        const size_t run = std::min(size_t(blockRemaining), size_t(frameEnd - out));
        if (raw) {
            const size_t n = std::min(run, size - bytePos);
            if (n) std::memcpy(out, data + bytePos, n); // an empty data block may have no bytes
            out += n;
            bytePos += n;
            blockRemaining -= uint32_t(n);
            if (n < run) return DecodeStatus::Truncated;
            if (blockRemaining == 0) {
                if (blockSize & 1) {
                    if (bytePos < size)
                        ++bytePos;
                    else
                        padPending = true;
                }
                raw = false;
                reader = BitReader(data, size, bytePos);
            }
            continue;
        }
        const bool ok = blockType == kAlignedOffset
                            ? DecodeSymbols<true>(reader, context, repeats, out, out + run)
                            : DecodeSymbols<false>(reader, context, repeats, out, out + run);
        if (!ok) return reader.Overrun() ? DecodeStatus::Truncated : DecodeStatus::Corrupt;
        blockRemaining -= uint32_t(run);
    }
    if (!raw && reader.Overrun()) return DecodeStatus::Truncated;
    return DecodeStatus::Ok;
}

LzxDecoder::LzxDecoder(int windowBits) : state_(std::make_unique<State>()) {
    State& s = *state_;
    if (windowBits < kMinWindowBits || windowBits > kMaxWindowBits) {
        s.fixedError = DecodeStatus::Corrupt;
    } else {
        s.windowSize = uint32_t(1) << windowBits;
        s.mainSymbols = kNumChars + 8 * PositionSlots(windowBits);
        s.capacity = s.windowSize + std::max<size_t>(s.windowSize, size_t(256) << 10);
        // Left unset: Reset starts every folder at the buffer's start, and no
        // match may reach before it.
        s.buffer = AllocateWindow(s.capacity + kCopySlack);
        if (!s.buffer) s.fixedError = DecodeStatus::NoMemory;
    }
    s.Reset();
}

LzxDecoder::~LzxDecoder() = default;

void LzxDecoder::Reset() {
    state_->Reset();
}

DecodeStatus LzxDecoder::DecodeBlock(std::span<const uint8_t> input, uint8_t* out,
                                     size_t outputSize) {
    State& s = *state_;
    if (s.error == DecodeStatus::Ok && outputSize > kFrameSize) s.error = DecodeStatus::Corrupt;
    if (s.error != DecodeStatus::Ok) {
        if (outputSize) std::memset(out, 0, outputSize);
        return s.error;
    }
    if (outputSize == 0) return DecodeStatus::Ok;

    if (s.writePos + kFrameSize > s.capacity) {
        // Keep the last window's worth; capacity - kFrameSize >= windowSize, so there is one.
        std::memmove(s.buffer.get(), s.buffer.get() + s.writePos - s.windowSize, s.windowSize);
        s.writePos = s.windowSize;
    }
    uint8_t* const frame = s.buffer.get() + s.writePos;
    uint8_t* written = frame;
    const DecodeStatus status = s.DecodeFrame(input, written, frame + outputSize);
    const size_t decoded = size_t(written - frame);
    std::memcpy(out, frame, decoded);
    if (status != DecodeStatus::Ok) {
        std::memset(out + decoded, 0, outputSize - decoded);
        s.error = status;
        return status;
    }
    if (s.translate) UndoCallTranslation(out, outputSize, s.total, s.translationSize);
    s.total += outputSize;
    s.writePos += outputSize;
    return DecodeStatus::Ok;
}

} // namespace dvl::codecs
