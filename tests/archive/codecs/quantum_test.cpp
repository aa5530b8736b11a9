// The Quantum decoder: the peer cabinets (a sound folder checked against cabextract, damaged and
// hostile ones), cabinets made by this file's encoder (checked by cabextract, then decoded here),
// hand-made steps at the bounds of matches, cut streams, and how an error ends a folder.
#include "archive/codecs/quantum.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace dvl {
namespace {

namespace fs = std::filesystem;
using codecs::DecodeStatus;
using codecs::QuantumDecoder;

constexpr size_t kFrame = 32768;

// ---- An encoder: the format's models and arithmetic coder run forwards ----

// One step of a frame: a literal (length 0) or a match.
struct Step {
    uint32_t length = 0;
    uint32_t distance = 0;
    uint8_t byte = 0;
};
Step Lit(uint8_t byte) {
    return {0, 0, byte};
}
Step Match(uint32_t length, uint32_t distance) {
    return {length, distance, 0};
}

// Slot tables: a value's slot is the last whose base does not exceed it.
struct Slots {
    std::vector<uint32_t> base;
    std::vector<int> extra;
    int Of(uint32_t value) const {
        int slot = int(base.size()) - 1;
        while (base[slot] > value)
            --slot;
        return slot;
    }
};
// Distance - 1: slots 0-3 exact, then two slots for each number of extra bits from 1 to 19.
const Slots& PositionSlots() {
    static const Slots slots = [] {
        Slots s;
        uint32_t base = 0;
        for (int i = 0; i < 42; ++i) {
            s.base.push_back(base);
            s.extra.push_back(i < 4 ? 0 : i / 2 - 1);
            base += 1u << s.extra.back();
        }
        return s;
    }();
    return slots;
}
// Length - 5 of a long match.
const Slots& LengthSlots() {
    static const Slots slots = [] {
        Slots s{{0,  1,  2,  3,  4,  5,  6,  8,   10,  12,  14,  18,  22, 26,
                 30, 38, 46, 54, 62, 78, 94, 110, 126, 158, 190, 222, 254},
                {}};
        for (size_t i = 0; i + 1 < s.base.size(); ++i)
            s.extra.push_back(std::countr_zero(s.base[i + 1] - s.base[i]));
        s.extra.push_back(0);
        return s;
    }();
    return slots;
}

// Distance slots a match can use: 2 per window bit, at most 24 for length 3 and 36 for length 4.
int SlotLimit(int windowBits, uint32_t length) {
    const int slots = 2 * windowBits;
    return length == 3 ? std::min(slots, 24) : length == 4 ? std::min(slots, 36) : slots;
}

// An adaptive model kept as the format keeps it: symbols in table order with cumulative
// frequencies; +8 for a coded symbol; past a total of 3800 halved, or every 50th time (the 4th
// at first) halved rounding up and sorted by an exchange sort, most frequent first.
class Model {
public:
    Model(int first, int count) {
        for (int i = 0; i < count; ++i)
            symbols_.push_back(first + i);
        for (int i = count; i >= 0; --i)
            cum_.push_back(uint32_t(i));
    }
    // The table index of a symbol and its share [low, high) of the total.
    int IndexOf(int symbol) const {
        return int(std::find(symbols_.begin(), symbols_.end(), symbol) - symbols_.begin());
    }
    uint32_t Low(int index) const { return cum_[index + 1]; }
    uint32_t High(int index) const { return cum_[index]; }
    uint32_t Total() const { return cum_[0]; }

    void Update(int index) {
        for (int i = 0; i <= index; ++i)
            cum_[i] += 8;
        if (cum_[0] <= 3800) return;
        const int n = int(symbols_.size());
        if (--rescalesLeft_ > 0) {
            for (int i = n - 1; i >= 0; --i)
                cum_[i] = std::max(cum_[i] / 2, cum_[i + 1] + 1);
            return;
        }
        rescalesLeft_ = 50;
        std::vector<uint32_t> freq(n);
        for (int i = 0; i < n; ++i)
            freq[i] = (cum_[i] - cum_[i + 1] + 1) / 2;
        for (int i = 0; i < n - 1; ++i)
            for (int j = i + 1; j < n; ++j)
                if (freq[i] < freq[j]) {
                    std::swap(freq[i], freq[j]);
                    std::swap(symbols_[i], symbols_[j]);
                }
        for (int i = n - 1; i >= 0; --i)
            cum_[i] = cum_[i + 1] + freq[i];
    }

private:
    std::vector<int> symbols_;
    std::vector<uint32_t> cum_; // one more than symbols_, the last 0
    int rescalesLeft_ = 4;
};

// Steps to code, one frame at a time; the models carry across frames as the decoder's do.
class Encoder {
public:
    explicit Encoder(int windowBits)
        : literals_{Model(0, 64), Model(64, 64), Model(128, 64), Model(192, 64)},
          match3_(0, SlotLimit(windowBits, 3)), match4_(0, SlotLimit(windowBits, 4)),
          match5_(0, SlotLimit(windowBits, 5)) {}

    // One frame: its steps' code, flushed so that the decoder's 16-bit register ends on its last
    // bit, then zeros to a whole byte.
    std::vector<uint8_t> Frame(const std::vector<Step>& steps) {
        low_ = 0, high_ = 0xFFFF, pending_ = 0, shifts_ = 0;
        code_.clear();
        raw_.clear();
        for (const Step& step : steps)
            Put(step);
        Emit((low_ >> 15) & 1);
        for (int i = 14; i >= 0; --i)
            code_.push_back((low_ >> i) & 1);
        return Pack();
    }

private:
    void Put(const Step& step) {
        if (step.length == 0) {
            Encode(selector_, step.byte >> 6);
            Encode(literals_[step.byte >> 6], step.byte);
            return;
        }
        const Slots& positions = PositionSlots();
        const int slot = positions.Of(step.distance - 1);
        const uint32_t extra = step.distance - 1 - positions.base[slot];
        if (step.length == 3 || step.length == 4) {
            Encode(selector_, step.length == 3 ? 4 : 5);
            Encode(step.length == 3 ? match3_ : match4_, slot);
        } else {
            const Slots& lengths = LengthSlots();
            const int lengthSlot = lengths.Of(step.length - 5);
            Encode(selector_, 6);
            Encode(length_, lengthSlot);
            Raw(step.length - 5 - lengths.base[lengthSlot], lengths.extra[lengthSlot]);
            Encode(match5_, slot);
        }
        Raw(extra, positions.extra[slot]);
    }

    void Encode(Model& model, int symbol) {
        const int index = model.IndexOf(symbol);
        const uint32_t range = high_ - low_ + 1;
        high_ = low_ + model.High(index) * range / model.Total() - 1;
        low_ = low_ + model.Low(index) * range / model.Total();
        model.Update(index);
        for (;;) {
            if (!((low_ ^ high_) & 0x8000)) {
                Emit(high_ >> 15);
            } else if ((low_ & 0x4000) && !(high_ & 0x4000)) {
                ++pending_;
                low_ &= 0x3FFF;
                high_ |= 0x4000;
            } else {
                break;
            }
            low_ = (low_ << 1) & 0xFFFF;
            high_ = ((high_ << 1) | 1) & 0xFFFF;
            ++shifts_;
        }
    }

    void Emit(bool bit) {
        code_.push_back(bit);
        for (; pending_ > 0; --pending_)
            code_.push_back(!bit);
    }

    // Raw bits go where the decoder takes them: after the code bits its register has read so
    // far, 16 beyond the shifts.
    void Raw(uint32_t value, int bits) {
        for (int i = bits - 1; i >= 0; --i)
            raw_.push_back({16 + shifts_, (value >> i) & 1});
    }

    std::vector<uint8_t> Pack() const {
        std::vector<uint8_t> out;
        unsigned byte = 0, count = 0;
        auto put = [&](bool bit) {
            byte = (byte << 1) | bit;
            if (++count == 8) out.push_back(uint8_t(byte)), byte = 0, count = 0;
        };
        size_t r = 0;
        for (size_t k = 0; k <= code_.size(); ++k) {
            for (; r < raw_.size() && raw_[r].first == k; ++r)
                put(raw_[r].second);
            if (k < code_.size()) put(code_[k]);
        }
        if (count) out.push_back(uint8_t(byte << (8 - count)));
        return out;
    }

    Model selector_{0, 7};
    std::vector<Model> literals_;
    Model match3_, match4_, match5_, length_{0, 27};
    uint32_t low_ = 0, high_ = 0xFFFF, pending_ = 0;
    size_t shifts_ = 0;
    std::vector<bool> code_;
    std::vector<std::pair<size_t, bool>> raw_; // (code bit it precedes, bit)
};

// Greedy parse into frames: at each byte the longest of the recent matches with the same first
// three bytes that lies within the window and that the format can carry, else a literal.
std::vector<std::vector<Step>> Parse(const std::vector<uint8_t>& data, int windowBits) {
    const size_t window = size_t(1) << windowBits;
    std::vector<int64_t> head(1 << 16, -1), previous(data.size(), -1);
    auto hash = [&](size_t p) {
        return ((uint32_t(data[p]) << 16 | data[p + 1] << 8 | data[p + 2]) * 2654435761u) >> 16;
    };
    auto insert = [&](size_t p) {
        if (p + 3 > data.size()) return;
        previous[p] = head[hash(p)];
        head[hash(p)] = int64_t(p);
    };
    std::vector<std::vector<Step>> frames;
    for (size_t start = 0; start < data.size(); start += kFrame) {
        const size_t end = std::min(data.size(), start + kFrame);
        std::vector<Step> steps;
        for (size_t p = start; p < end;) {
            size_t best = 0, bestDistance = 0;
            const size_t longest = std::min<size_t>(259, end - p);
            int64_t c = p + 3 <= end ? head[hash(p)] : -1;
            for (int tries = 0; c >= 0 && tries < 48 && p - c <= window; ++tries) {
                size_t n = 0;
                while (n < longest && data[c + n] == data[p + n])
                    ++n;
                const uint32_t distance = uint32_t(p - c);
                if (n >= 3 && n > best &&
                    PositionSlots().Of(distance - 1) < SlotLimit(windowBits, uint32_t(n)))
                    best = n, bestDistance = distance;
                c = previous[c];
            }
            if (best == 0) {
                steps.push_back(Lit(data[p]));
                insert(p++);
                continue;
            }
            steps.push_back(Match(uint32_t(best), uint32_t(bestDistance)));
            for (size_t q = p; q < p + best; ++q)
                insert(q);
            p += best;
        }
        frames.push_back(std::move(steps));
    }
    return frames;
}

// What steps mean: the bytes they make, a match copying from `distance` back (zeros where that
// lies before the first byte).
std::vector<uint8_t> Apply(const std::vector<std::vector<Step>>& frames) {
    std::vector<uint8_t> out;
    for (const auto& steps : frames)
        for (const Step& step : steps) {
            if (step.length == 0) out.push_back(step.byte);
            for (uint32_t i = 0; i < step.length; ++i)
                out.push_back(step.distance <= out.size() ? out[out.size() - step.distance] : 0);
        }
    return out;
}

// ---- Cabinets: one folder, one file ----

struct Block {
    std::vector<uint8_t> code;
    size_t size = 0; // uncompressed
};

std::vector<uint8_t> Cabinet(int windowBits, const std::vector<Block>& blocks) {
    std::vector<uint8_t> cab;
    auto u16 = [&](uint32_t v) { test::PutLe16(cab, v); };
    auto u32 = [&](uint32_t v) { test::PutLe32(cab, v); };
    uint32_t fileSize = 0, dataSize = 0;
    for (const Block& b : blocks) {
        fileSize += uint32_t(b.size);
        dataSize += 8 + uint32_t(b.code.size());
    }
    const std::string name = "data.bin";
    const uint32_t dataStart = 36 + 8 + 16 + uint32_t(name.size()) + 1;
    // CFHEADER: signature, size, first CFFILE, version 1.3, 1 folder, 1 file, no flags, set 0x1234.
    cab = test::Bytes("MSCF");
    u32(0), u32(dataStart + dataSize), u32(0), u32(36 + 8), u32(0);
    cab.push_back(3), cab.push_back(1);
    u16(1), u16(1), u16(0), u16(0x1234), u16(0);
    // CFFOLDER: its data, blocks, Quantum at level 4 with the window.
    u32(dataStart), u16(uint32_t(blocks.size())), u16(2 | 4 << 4 | uint32_t(windowBits) << 8);
    // CFFILE: size, offset in the folder, folder 0, a fixed date and time, archive attribute.
    u32(fileSize), u32(0), u16(0), u16(0x5821), u16(0x6000), u16(0x20);
    cab.insert(cab.end(), name.c_str(), name.c_str() + name.size() + 1);
    // CFDATA without checksums.
    for (const Block& b : blocks) {
        u32(0), u16(uint32_t(b.code.size())), u16(uint32_t(b.size));
        cab.insert(cab.end(), b.code.begin(), b.code.end());
    }
    return cab;
}

std::vector<Block> Compress(const std::vector<uint8_t>& data, int windowBits) {
    Encoder encoder(windowBits);
    std::vector<Block> blocks;
    for (const auto& steps : Parse(data, windowBits)) {
        const size_t size = Apply({steps}).size();
        blocks.push_back({encoder.Frame(steps), size});
    }
    return blocks;
}

// A folder as the cabinet's CFHEADER, CFFOLDER and CFDATA records give it; none when they are
// cut short.
struct Folder {
    unsigned type = 0;
    std::vector<Block> blocks;
    int WindowBits() const { return int(type >> 8) & 0x1F; }
    bool IsQuantum() const { return (type & 0xF) == 2; }
};

std::optional<std::vector<Folder>> ReadFolders(const std::vector<uint8_t>& cab) {
    auto u16 = [&](size_t at) { return uint32_t(cab[at] | cab[at + 1] << 8); };
    auto u32 = [&](size_t at) { return u16(at) | u16(at + 2) << 16; };
    if (cab.size() < 36 || cab[0] != 'M' || cab[1] != 'S' || cab[2] != 'C' || cab[3] != 'F')
        return std::nullopt;
    const uint32_t folders = u16(26), flags = u16(30);
    size_t at = 36, folderReserve = 0, dataReserve = 0;
    if (flags & 4) {
        if (cab.size() < 40) return std::nullopt;
        folderReserve = cab[38], dataReserve = cab[39];
        at = 40 + u16(36);
    }
    // The names of the previous and next cabinets and their disks.
    for (int names = ((flags & 1) ? 2 : 0) + ((flags & 2) ? 2 : 0); names > 0; --names) {
        while (at < cab.size() && cab[at] != 0)
            ++at;
        ++at;
    }
    std::vector<Folder> result;
    for (uint32_t f = 0; f < folders; ++f, at += 8 + folderReserve) {
        if (at + 8 > cab.size()) return std::nullopt;
        Folder folder;
        folder.type = u16(at + 6);
        size_t data = u32(at);
        for (uint32_t b = u16(at + 4); b > 0; --b) {
            if (data + 8 + dataReserve > cab.size()) return std::nullopt;
            const size_t code = u16(data + 4), size = u16(data + 6);
            const size_t start = data + 8 + dataReserve;
            if (start + code > cab.size()) return std::nullopt;
            folder.blocks.push_back({{cab.begin() + start, cab.begin() + start + code}, size});
            data = start + code;
        }
        result.push_back(std::move(folder));
    }
    return result;
}

struct Decoded {
    DecodeStatus status = DecodeStatus::Ok;
    std::vector<uint8_t> bytes;
};

// Every block of a folder through one decoder, up to the first error.
Decoded DecodeFolder(QuantumDecoder& decoder, const std::vector<Block>& blocks) {
    Decoded d;
    for (const Block& b : blocks) {
        const size_t at = d.bytes.size();
        d.bytes.resize(at + b.size);
        d.status = decoder.DecodeBlock(b.code, d.bytes.data() + at, b.size);
        if (d.status != DecodeStatus::Ok) break;
    }
    return d;
}

Decoded DecodeFolder(int windowBits, const std::vector<Block>& blocks) {
    QuantumDecoder decoder(windowBits);
    return DecodeFolder(decoder, blocks);
}

// ---- Sample data ----

uint32_t Next(uint32_t& x) {
    x ^= x << 13, x ^= x >> 17, x ^= x << 5;
    return x;
}

std::vector<uint8_t> Text(size_t n, uint32_t seed) {
    static const char* words[] = {"cabinet ", "folder ", "the ",   "frame ", "of ",    "quantum ",
                                  "window\n", "model ",  "match ", "a ",     "data, ", "1997 "};
    std::vector<uint8_t> out;
    for (uint32_t x = seed; out.size() < n;)
        for (const char* c = words[Next(x) % 12]; *c && out.size() < n; ++c)
            out.push_back(*c);
    return out;
}

std::vector<uint8_t> Noise(size_t n, uint32_t seed) {
    std::vector<uint8_t> out;
    for (uint32_t x = seed; out.size() < n;)
        out.push_back(uint8_t(Next(x) >> 7));
    return out;
}

// Runs of one byte, pieces of noise, and copies of earlier stretches at every distance.
std::vector<uint8_t> Runs(size_t n, uint32_t seed) {
    std::vector<uint8_t> out;
    for (uint32_t x = seed; out.size() < n;) {
        const uint32_t r = Next(x);
        const size_t length = 1 + (r >> 8) % 600;
        if (r % 3 == 0 || out.size() < 1000)
            out.insert(out.end(), length, uint8_t(r >> 24));
        else if (r % 3 == 1)
            for (size_t i = 0; i < length % 40; ++i)
                out.push_back(uint8_t(Next(x)));
        else
            for (size_t i = 0, from = Next(x) % out.size(); i < length; ++i)
                out.push_back(out[from + i]);
    }
    out.resize(n);
    return out;
}

// Noise, a megabyte of text, the same noise again: matches from near the window's far end.
std::vector<uint8_t> FarRepeat() {
    std::vector<uint8_t> noise = Noise(40000, 7), out = noise, text = Text(1200000, 8);
    out.insert(out.end(), text.begin(), text.end());
    out.insert(out.end(), noise.begin(), noise.end());
    return out;
}

std::string CabextractOutput(const fs::path& cab) {
    return test::RunAndCapture("cabextract -q -p " + test::Quote(cab) + " 2>/dev/null");
}

std::vector<uint8_t> ToBytes(const std::string& s) {
    return {s.begin(), s.end()};
}

// ---- Peer cabinets ----

fs::path CabFixtures() {
    const fs::path root = test::PeerFixtures();
    return root.empty() ? fs::path() : root / "cab";
}

#define DVL_REQUIRE_CAB_FIXTURES()                                                                 \
    do {                                                                                           \
        if (CabFixtures().empty() || !fs::is_directory(CabFixtures()))                             \
            GTEST_SKIP() << "the peer fixtures are absent";                                        \
    } while (0)

TEST(QuantumPeerCabinets, DecodeAsTheirCheckSays) {
    DVL_REQUIRE_CAB_FIXTURES();
    struct Case {
        const char* file;
        DecodeStatus status;
        size_t size; // of the sound one's single file, all zeros
    };
    const Case cases[] = {
        // 16 blocks of long runs; the last block stops inside a match.
        {"cve-2010-2801-qtm-flush.cab", DecodeStatus::Ok, 524159},
        // A 38912-byte block of zeros: its first step is a match before any byte.
        {"qtm-max-size-block.cab", DecodeStatus::Corrupt, 0},
        // Plain text where Quantum code should be.
        {"cve-2014-9556-qtm-infinite-loop.cab", DecodeStatus::Corrupt, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const fs::path path = CabFixtures() / c.file;
        const auto folders = ReadFolders(test::ReadFile(path));
        ASSERT_TRUE(folders && folders->size() == 1 && folders->front().IsQuantum());
        const Decoded d = DecodeFolder(folders->front().WindowBits(), folders->front().blocks);
        EXPECT_EQ(d.status, c.status);
        if (c.status != DecodeStatus::Ok) continue;
        if (test::HaveTool("cabextract"))
            EXPECT_EQ(d.bytes, ToBytes(CabextractOutput(path)));
        else
            EXPECT_EQ(d.bytes, std::vector<uint8_t>(c.size, 0)) << "(cabextract is absent)";
    }
}

// Any Quantum cabinet among the fixtures: decoded in well under a second, Ok exactly when
// cabextract passes it, and then to the bytes cabextract writes.
TEST(QuantumPeerCabinets, EveryQuantumCabinetAgreesWithCabextract) {
    DVL_REQUIRE_CAB_FIXTURES();
    DVL_REQUIRE_TOOL("cabextract");
    int seen = 0;
    for (const auto& entry : fs::directory_iterator(CabFixtures())) {
        const auto folders = ReadFolders(test::ReadFile(entry.path()));
        if (!folders || folders->size() != 1 || !folders->front().IsQuantum()) continue;
        SCOPED_TRACE(entry.path().filename().string());
        ++seen;
        const auto start = std::chrono::steady_clock::now();
        const Decoded d = DecodeFolder(folders->front().WindowBits(), folders->front().blocks);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
        int rc = -1;
        test::RunAndCapture("cabextract -q -t " + test::Quote(entry.path()) + " 2>&1", &rc);
        EXPECT_EQ(d.status == DecodeStatus::Ok, rc == 0);
        if (rc == 0 && d.status == DecodeStatus::Ok) {
            const std::vector<uint8_t> theirs = ToBytes(CabextractOutput(entry.path()));
            ASSERT_LE(theirs.size(), d.bytes.size());
            EXPECT_TRUE(std::equal(theirs.begin(), theirs.end(), d.bytes.begin()));
        }
    }
    EXPECT_GT(seen, 0) << "no Quantum cabinet among the fixtures";
}

// ---- Cabinets of our encoder ----

struct RoundTrip {
    const char* name;
    int windowBits;
    std::vector<uint8_t> (*make)();
};

void PrintTo(const RoundTrip& c, std::ostream* os) {
    *os << c.name << ", window bits " << c.windowBits;
}

class QuantumRoundTrip : public testing::TestWithParam<RoundTrip> {};

// cabextract decodes our cabinet to the data (so the encoder writes the format), and so do we,
// twice through one decoder with a Reset between.
TEST_P(QuantumRoundTrip, CabextractAndWeDecodeTheData) {
    const RoundTrip& c = GetParam();
    const std::vector<uint8_t> data = c.make();
    const std::vector<uint8_t> cab = Cabinet(c.windowBits, Compress(data, c.windowBits));
    const auto folders = ReadFolders(cab);
    ASSERT_TRUE(folders && folders->size() == 1);
    QuantumDecoder decoder(folders->front().WindowBits());
    for (int pass = 0; pass < 2; ++pass) {
        const Decoded d = DecodeFolder(decoder, folders->front().blocks);
        ASSERT_EQ(d.status, DecodeStatus::Ok) << "pass " << pass;
        ASSERT_TRUE(d.bytes == data) << "pass " << pass;
        decoder.Reset();
    }
    if (!test::HaveTool("cabextract")) GTEST_SKIP() << "peer tool cabextract is absent";
    test::TempDir dir;
    test::WriteFile(dir / "q.cab", cab);
    EXPECT_TRUE(ToBytes(CabextractOutput(dir / "q.cab")) == data);
}

INSTANTIATE_TEST_SUITE_P(
    Data, QuantumRoundTrip,
    testing::Values(
        // Frames of text in a window of one frame.
        RoundTrip{"Text", 15, [] { return Text(200000, 1); }},
        // Literals of every value; a 1 KiB window wraps 70 times.
        RoundTrip{"NoiseSmallWindow", 10, [] { return Noise(70000, 2); }},
        // Long matches and runs: every length slot, the models rescaled and reordered often.
        RoundTrip{"Runs", 12, [] { return Runs(300000, 3); }},
        // Frames ending inside repeats, the last one short.
        RoundTrip{"RunsOddEnd", 17, [] { return Runs(5 * kFrame + 77, 4); }},
        // Distances up to the 2 MiB window's last slots.
        RoundTrip{"FarRepeat", 21, FarRepeat}),
    [](const testing::TestParamInfo<RoundTrip>& info) { return std::string(info.param.name); });

// ---- Hand-made steps ----

std::vector<Step> Literals(const std::vector<uint8_t>& bytes) {
    std::vector<Step> steps;
    for (uint8_t b : bytes)
        steps.push_back(Lit(b));
    return steps;
}

// Frames of `steps` with their sizes, `sizes` replacing them where given.
std::vector<Block> Blocks(int windowBits, const std::vector<std::vector<Step>>& frames,
                          const std::vector<size_t>& sizes = {}) {
    Encoder encoder(windowBits);
    std::vector<Block> blocks;
    for (size_t i = 0; i < frames.size(); ++i)
        blocks.push_back(
            {encoder.Frame(frames[i]), i < sizes.size() ? sizes[i] : Apply({frames[i]}).size()});
    return blocks;
}

TEST(QuantumMatches, BoundsOfDistanceAndLength) {
    const std::vector<uint8_t> ten = Noise(10, 5), kilo = Noise(1024, 6);
    std::vector<Step> fullFrame = {Lit('z')};
    for (size_t n = 1; n + 259 <= kFrame - 1; n += 259)
        fullFrame.push_back(Match(259, 1));
    const size_t filled = Apply({fullFrame}).size();
    fullFrame.push_back(Match(uint32_t(kFrame - filled), 1)); // exactly to the frame's end
    std::vector<Step> overFrame = fullFrame;
    overFrame.back().length += 1;

    struct Case {
        const char* name;
        int windowBits;
        std::vector<std::vector<Step>> frames;
        std::vector<size_t> sizes;
        DecodeStatus status;
    };
    const Case cases[] = {
        {"a match before any byte", 15, {{Match(3, 1)}}, {}, DecodeStatus::Corrupt},
        {"a match from one byte before the first",
         15,
         {{Lit('a'), Lit('b'), Match(3, 3)}},
         {},
         DecodeStatus::Corrupt},
        {"a match from the first byte",
         15,
         {{Lit('a'), Lit('b'), Match(4, 2)}},
         {},
         DecodeStatus::Ok},
        {"a match from the previous block's first byte",
         15,
         {Literals(ten), {Match(7, 10)}},
         {},
         DecodeStatus::Ok},
        {"a match from before the previous block",
         15,
         {Literals(ten), {Match(7, 11)}},
         {},
         DecodeStatus::Corrupt},
        {"a match from a full 1 KiB window back",
         10,
         {Literals(kilo), {Match(259, 1024)}},
         {},
         DecodeStatus::Ok},
        {"a match to the frame's end", 15, {fullFrame}, {}, DecodeStatus::Ok},
        {"a match past the frame's end", 15, {overFrame}, {kFrame}, DecodeStatus::Corrupt},
        {"the last block ending inside a match",
         15,
         {Literals(ten), {Lit('x'), Match(259, 1)}},
         {10, 100},
         DecodeStatus::Ok},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Decoded d = DecodeFolder(c.windowBits, Blocks(c.windowBits, c.frames, c.sizes));
        EXPECT_EQ(d.status, c.status);
        if (c.status != DecodeStatus::Ok) continue;
        std::vector<uint8_t> expected = Apply(c.frames);
        expected.resize(d.bytes.size());
        EXPECT_TRUE(d.bytes == expected);
    }
}

// ---- Cut and padded code, refused parameters, errors ----

TEST(QuantumStreams, CodeCutShortIsTruncatedAndPaddingIsIgnored) {
    const std::vector<uint8_t> bytes = Noise(3000, 9);
    const Block whole = Blocks(15, {Literals(bytes)}).front();
    struct Case {
        const char* name;
        size_t keep;    // bytes of the code kept
        size_t padding; // junk bytes after them
        DecodeStatus status;
    };
    const Case cases[] = {
        {"no code", 0, 0, DecodeStatus::Truncated},
        {"one byte", 1, 0, DecodeStatus::Truncated},
        {"half", whole.code.size() / 2, 0, DecodeStatus::Truncated},
        {"all but 3 bytes", whole.code.size() - 3, 0, DecodeStatus::Truncated},
        {"whole", whole.code.size(), 0, DecodeStatus::Ok},
        {"whole and 4 junk bytes", whole.code.size(), 4, DecodeStatus::Ok},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Block block{{whole.code.begin(), whole.code.begin() + c.keep}, whole.size};
        block.code.insert(block.code.end(), c.padding, 0xA5);
        const Decoded d = DecodeFolder(15, {block});
        EXPECT_EQ(d.status, c.status);
        if (c.status == DecodeStatus::Ok) {
            EXPECT_TRUE(d.bytes == bytes);
        }
    }
}

TEST(QuantumStreams, RefusedParametersAreCorrupt) {
    const Block block = Blocks(15, {Literals(Noise(100, 1))}).front();
    for (int windowBits : {-1, 0, 9, 22, 31}) {
        SCOPED_TRACE(windowBits);
        std::vector<uint8_t> out(block.size, 0xEE);
        QuantumDecoder decoder(windowBits);
        EXPECT_EQ(decoder.DecodeBlock(block.code, out.data(), out.size()), DecodeStatus::Corrupt);
        EXPECT_EQ(out, std::vector<uint8_t>(block.size, 0));
    }
    std::vector<uint8_t> out(kFrame + 1);
    QuantumDecoder decoder(15);
    EXPECT_EQ(decoder.DecodeBlock(block.code, out.data(), out.size()), DecodeStatus::Corrupt);
}

// An error ends the folder: the block keeps what came before the fault, then zeros; later blocks
// are Corrupt until Reset, after which the folder decodes from its start.
TEST(QuantumStreams, AnErrorEndsTheFolderUntilReset) {
    const std::vector<Block> bad =
        Blocks(15, {{Lit('a'), Lit('b'), Match(3, 5)}, Literals(Noise(50, 2))});
    const std::vector<Block> good = Blocks(15, {Literals(Noise(50, 3))});
    QuantumDecoder decoder(15);
    std::vector<uint8_t> out(5, 0xEE);
    EXPECT_EQ(decoder.DecodeBlock(bad[0].code, out.data(), 5), DecodeStatus::Corrupt);
    EXPECT_EQ(out, (std::vector<uint8_t>{'a', 'b', 0, 0, 0}));
    out.assign(50, 0xEE);
    EXPECT_EQ(decoder.DecodeBlock(good[0].code, out.data(), 50), DecodeStatus::Corrupt);
    EXPECT_EQ(out, std::vector<uint8_t>(50, 0));
    decoder.Reset();
    EXPECT_EQ(decoder.DecodeBlock(good[0].code, out.data(), 50), DecodeStatus::Ok);
    EXPECT_EQ(out, Noise(50, 3));
}

} // namespace
} // namespace dvl
