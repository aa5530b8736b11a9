// Unshrink: ZIP method 1, an LZW code of 9 to 13 bits with partial clearing.
//
// Codes 0 to 255 are the bytes, 256 is the control code (followed by 1: one bit more per code,
// or 2: partial clear), 257 to 8191 are strings, each a parent code plus a suffix byte. New codes
// come from a free list in the order it holds them; a partial clear frees every string code that
// has no children and puts the freed codes at the end of the list in increasing order. Invariant:
// a used code's chain of parents ends at a code of 256 or below within 8192 steps, or decoding
// stops with an error; the output stack never holds more than 8192 bytes.
#include "archive/errors.h"
#include "archive/unzip/bit_reader.h"
#include "archive/unzip/legacy_methods.h"

#include <memory>
#include <new>

namespace dvl::unzip {

namespace {

constexpr int kCodes = 8192;
constexpr int kFirstString = 257;
constexpr int kControl = 256;
constexpr int kMaxCodeSize = 13;

struct ShrinkTables {
    int32_t parent[kCodes];
    uint8_t suffix[kCodes];
    uint16_t children[kCodes];
    uint16_t freeList[kCodes - kFirstString];
    uint16_t cleared[kCodes]; // scratch list of a partial clear
    uint8_t stack[kCodes];

    ShrinkTables() {
        for (int c = 0; c < kCodes; ++c) {
            parent[c] = -1;
            suffix[c] = c < 256 ? uint8_t(c) : 0;
            children[c] = 0;
        }
        for (int c = kFirstString; c < kCodes; ++c)
            freeList[c - kFirstString] = uint16_t(c);
    }
};

class Unshrinker {
public:
    Unshrinker(ShrinkTables& t, BitReader& in, PieceWriter& out) : t_(t), in_(in), out_(out) {}

    void Run() {
        int code = in_.ReadBits(9);
        if (code < 0 || in_.NoByteCame()) RaiseCode(kErrBadBlock);
        out_.Put(uint8_t(code));
        int previous = code;
        uint8_t firstByte = uint8_t(code);
        int codeSize = 9;
        for (;;) {
            code = in_.ReadBits(codeSize);
            if (code < 0) return;
            if (code == kControl) {
                Control(codeSize);
                continue;
            }
            if (code >= kCodes) RaiseCode(kErrInvalidCode);

            int depth = 0;
            int node = code;
            if (code >= kFirstString && t_.parent[code] < 0) {
                // The code being defined right now: the previous string plus its first byte.
                Push(depth, firstByte);
                node = previous;
            }
            while (node > kControl) {
                Push(depth, t_.suffix[node]);
                node = t_.parent[node];
            }
            if (node < 0) RaiseCode(kErrInvalidCode); // a chain through an unused code
            firstByte = t_.suffix[node];
            out_.Put(firstByte);
            while (depth > 0)
                out_.Put(t_.stack[--depth]);

            if (nextFree_ < kCodes) {
                int added = t_.freeList[nextFree_++ - kFirstString];
                t_.parent[added] = previous;
                t_.suffix[added] = firstByte;
                ++t_.children[previous];
            }
            previous = code;
        }
    }

private:
    void Push(int& depth, uint8_t b) {
        if (depth >= kCodes) {
            out_.Flush();
            RaiseCode(kErrStackOverflow);
        }
        t_.stack[depth++] = b;
    }

    void Control(int& codeSize) {
        int what = in_.ReadBits(codeSize);
        if (what == 1) {
            if (codeSize == kMaxCodeSize) RaiseCode(kErrInvalidCode);
            ++codeSize;
        } else if (what == 2) {
            PartialClear();
        } else {
            RaiseCode(kErrBadBlock);
        }
    }

    // Only codes childless when the clear begins are freed; a code that loses its last child
    // during the clear stays.
    void PartialClear() {
        int listed = 0;
        for (int c = kFirstString; c < kCodes; ++c)
            if (t_.children[c] == 0) t_.cleared[listed++] = uint16_t(c);
        nextFree_ = kCodes;
        while (listed > 0) {
            int c = t_.cleared[--listed];
            int parent = t_.parent[c];
            if (parent >= 0 && t_.children[parent] > 0) --t_.children[parent];
            t_.parent[c] = -1;
            t_.suffix[c] = 0;
            t_.children[c] = 0;
            t_.freeList[--nextFree_ - kFirstString] = uint16_t(c);
        }
    }

    ShrinkTables& t_;
    BitReader& in_;
    PieceWriter& out_;
    int nextFree_ = kFirstString;
};

} // namespace

void Unshrink(const LegacyEntry& entry) {
    std::unique_ptr<ShrinkTables> tables;
    BitReader in(entry.input, entry.meter, entry.packedSize);
    std::unique_ptr<PieceWriter> out;
    try {
        tables = std::make_unique<ShrinkTables>();
        out = std::make_unique<PieceWriter>(entry.output, in);
    } catch (const std::bad_alloc&) {
        return; // without its tables the decoder does not run
    }
    DecodeOrFlush(*out, [&] { Unshrinker(*tables, in, *out).Run(); });
}

} // namespace dvl::unzip
