// The member driver: stored data, ACE 1.0 LZ77, and the runs of an ACE 2.0 blocked member
// with their mode switches. Decoded bytes enter the window first; each chunk then leaves
// through the filter of its run (none, EXE or DELTA) to the sink.
#include "unace/decoder/ace_decoder.h"

#include "unace/decoder/ace_bit_reader.h"
#include "unace/decoder/ace_delta_filter.h"
#include "unace/decoder/ace_exe_filter.h"
#include "unace/decoder/ace_lz77.h"
#include "unace/decoder/ace_pic.h"
#include "unace/decoder/ace_sound.h"
#include "unace/decoder/ace_window.h"

#include <algorithm>
#include <new>
#include <vector>

namespace dvl::unace {

using namespace detail;

namespace {

constexpr int kStored = 0;
constexpr int kBlocked = 2;
constexpr int kMinDictionaryBits = 10;
constexpr size_t kChunk = 64 * 1024;

enum Mode { kModeLz77 = 0, kModeDelta = 1, kModeExe = 2, kLastMode = 7 };

bool EmitPieces(const OutputSink& sink, const uint8_t* data, size_t size) {
    while (size > 0) {
        const size_t n = std::min(size, kChunk);
        if (!sink(data, n)) return false;
        data += n;
        size -= n;
    }
    return true;
}

struct DecoderState {
    Window window;
    Lz77Decoder lz77;
    ExeFilter exe;
    DeltaFilter delta;
    SoundDecoder sound;
    PicDecoder pic;
    std::vector<uint8_t> filtered;
};

// One member's decoding: the bit stream, the current mode and the window range still to
// leave through the sink.
class MemberDecoder {
public:
    MemberDecoder(DecoderState& state, PackedInput& input, const OutputSink& sink,
                  uint64_t origSize)
        : s_(state), in_(input), sink_(sink), start_(state.window.Total()), end_(start_ + origSize),
          delivered_(start_) {}

    DecodeResult Run(bool blocked, int dictionaryBits);

private:
    DecodeResult DecodeChunk(bool& switched);
    DecodeResult DeliverChunk();
    DecodeResult SwitchMode();
    DecodeResult EndRun(int nextMode);
    bool EmitFiltered();

    DecoderState& s_;
    AceBitReader in_;
    const OutputSink& sink_;
    const uint64_t start_, end_;
    uint64_t delivered_; // window position of the next byte to leave
    int mode_ = kModeLz77;
};

DecodeResult MemberDecoder::Run(bool blocked, int dictionaryBits) {
    s_.lz77.StartMember(blocked, dictionaryBits);
    s_.exe.Reset();
    s_.delta.Reset();
    s_.filtered.clear();
    while (s_.window.Total() < end_) {
        bool switched = false;
        DecodeResult result = DecodeChunk(switched);
        if (result == DecodeResult::Ok) result = DeliverChunk();
        if (result == DecodeResult::Ok && switched) result = SwitchMode();
        if (result != DecodeResult::Ok) return result;
    }
    return EndRun(kModeLz77);
}

DecodeResult MemberDecoder::DecodeChunk(bool& switched) {
    const uint64_t softEnd = std::min(end_, s_.window.Total() + kChunk);
    if (mode_ <= kModeExe) return s_.lz77.Decode(in_, s_.window, softEnd, end_, switched);
    if (mode_ == PicDecoder::kMode) return s_.pic.Decode(in_, s_.window, softEnd, end_, switched);
    return s_.sound.Decode(in_, s_.window, softEnd, switched);
}

bool MemberDecoder::EmitFiltered() {
    const bool ok = EmitPieces(sink_, s_.filtered.data(), s_.filtered.size());
    s_.filtered.clear();
    return ok;
}

// The bytes decoded since the last delivery leave through the run's filter.
DecodeResult MemberDecoder::DeliverChunk() {
    const uint64_t from = delivered_, to = s_.window.Total();
    delivered_ = to;
    bool ok;
    if (mode_ == kModeExe || mode_ == kModeDelta) {
        uint64_t position = from - start_;
        s_.window.ForEachPiece(from, to, [&](const uint8_t* data, size_t size) {
            if (mode_ == kModeExe)
                s_.exe.Feed(data, size, position, s_.filtered);
            else
                s_.delta.Feed(data, size, s_.filtered);
            position += size;
            return true;
        });
        ok = EmitFiltered();
    } else {
        ok = s_.window.ForEachPiece(from, to, [&](const uint8_t* data, size_t size) {
            return EmitPieces(sink_, data, size);
        });
    }
    return ok ? DecodeResult::Ok : DecodeResult::Stopped;
}

// Leaving a run: held-back EXE bytes go out unchanged unless EXE goes on, and a partial DELTA
// block goes out as it is.
DecodeResult MemberDecoder::EndRun(int nextMode) {
    if (mode_ == kModeExe && nextMode != kModeExe) s_.exe.Flush(s_.filtered);
    if (mode_ == kModeDelta) {
        const DecodeResult result = s_.delta.Finish(s_.filtered);
        if (result != DecodeResult::Ok) return result;
    }
    return EmitFiltered() ? DecodeResult::Ok : DecodeResult::Stopped;
}

// After the switch code: 8 bits of mode, then the new mode's parameters.
DecodeResult MemberDecoder::SwitchMode() {
    const int next = int(in_.Read(8));
    if (next > kLastMode) return DecodeResult::UnknownMethod;
    DecodeResult result = EndRun(next);
    if (result != DecodeResult::Ok) return result;

    if (next == kModeDelta) {
        const int distance = int(in_.Read(8));
        const int length = int(in_.Read(17));
        result = s_.delta.Start(distance, length);
    } else if (next == kModeExe) {
        s_.exe.SetMode(int(in_.Read(8)));
    } else if (next == PicDecoder::kMode) {
        if (mode_ != next) result = s_.pic.Enter(in_);
    } else if (next >= SoundDecoder::kFirstMode) {
        if (mode_ != next)
            s_.sound.Reset(next);
        else
            s_.sound.StartRun();
    }
    mode_ = next;
    if (in_.Overrun()) return DecodeResult::Truncated;
    return result;
}

DecodeResult CopyStored(Window& window, uint64_t origSize, PackedInput& input,
                        const OutputSink& sink) {
    std::vector<uint8_t> buffer(kChunk);
    while (origSize > 0) {
        const size_t want = size_t(std::min<uint64_t>(origSize, buffer.size()));
        const size_t got = input.ReadPacked(buffer.data(), want);
        if (got == 0) return DecodeResult::Truncated;
        window.Append(buffer.data(), got);
        if (!sink(buffer.data(), got)) return DecodeResult::Stopped;
        origSize -= got;
    }
    return DecodeResult::Ok;
}

} // namespace

struct AceDecoder::State : DecoderState {};

AceDecoder::AceDecoder() : state_(new (std::nothrow) State) {}
AceDecoder::~AceDecoder() = default;

void AceDecoder::Reset() {
    if (state_) state_->window.Reset();
}

DecodeResult AceDecoder::DecodeMember(int compType, int dictBits, uint64_t origSize,
                                      PackedInput& input, const OutputSink& sink) {
    if (compType < kStored || compType > kBlocked) return DecodeResult::UnknownMethod;
    if (!state_) return DecodeResult::NoMemory;
    // Sizes beyond 2^62 bytes are not real members; refusing them keeps positions exact.
    if (origSize > (uint64_t(1) << 62)) return DecodeResult::Corrupt;
    if (compType == kStored) return CopyStored(state_->window, origSize, input, sink);
    if (dictBits < kMinDictionaryBits || dictBits > Window::kMaxDictionaryBits)
        return DecodeResult::Corrupt;
    if (origSize == 0) return DecodeResult::Ok;
    try {
        MemberDecoder member(*state_, input, sink, origSize);
        return member.Run(compType == kBlocked, dictBits);
    } catch (const std::bad_alloc&) {
        return DecodeResult::NoMemory;
    }
}

} // namespace dvl::unace
