// Writes the fuzz seeds that no installed archiver makes, from the test suites' own writers:
// streams of the legacy ZIP methods as the unshrink, unreduce and explode targets read them
// (chunk selector, flags, size byte, stream), ZIP archives holding such entries, ACE archives
// and raw ACE member streams as ace_decoder_fuzz reads them (selector byte, stream).
// Usage: dvl_fuzz_seeds OUTDIR; the files land in OUTDIR/<target>/.
#include "tests/archive/unzip/legacy_encoders.h"
#include "tests/support/ace_lz77_encoder.h"
#include "tests/support/ace_writer.h"
#include "tests/support/test_support.h"
#include "tests/support/zip_writer.h"
#include "unace/decoder/ace_decoder.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace dvl::test;
using Bytes = std::vector<uint8_t>;

fs::path out;

void Put(const std::string& target, const std::string& name, const Bytes& bytes) {
    fs::create_directories(out / target);
    WriteFile(out / target / name, bytes);
}

// Text with repeats at short and long distances.
Bytes Text(size_t size) {
    static const char* const kWords[] = {"archive ", "entry ", "header ", "volume ",
                                         "the ",     "of ",    "data\n",  "and "};
    Bytes b;
    for (uint32_t i = 0; b.size() < size; i = i * 7 + 3)
        for (const char* c = kWords[i % 8]; *c && b.size() < size; ++c)
            b.push_back(uint8_t(*c));
    return b;
}

// Bytes of a small linear congruential generator, with runs in between.
Bytes Binary(size_t size) {
    Bytes b;
    uint32_t x = 12345;
    while (b.size() < size) {
        x = x * 1103515245 + 12345;
        const size_t run = (x >> 28) < 3 ? (x >> 20) % 40 : 1;
        for (size_t i = 0; i < run && b.size() < size; ++i)
            b.push_back(uint8_t(x >> 16));
    }
    return b;
}

Bytes Concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The legacy targets' input: chunk selector, flags, unpacked size / 2048, the stream.
void Legacy(const std::string& target, const std::string& name, uint8_t chunk, uint8_t flags,
            const Bytes& data, const Bytes& packed) {
    Put(target, name, Concat({chunk, flags, uint8_t(data.size() >> 11)}, packed));
}

void LegacyStreams() {
    const Bytes text = Text(2048), mixed = Concat(Text(2048), Binary(2048));
    Legacy("unshrink", "text", 0, 0, text, Shrink(text));
    Legacy("unshrink", "mixed_clears", 200, 0, mixed, Shrink(mixed, {.clearAfterCodes = 100}));
    for (int f = 1; f <= 4; ++f)
        Legacy("unreduce", "factor" + std::to_string(f), uint8_t(f * 37), uint8_t((f - 1) << 4),
               f % 2 ? text : mixed, Reduce(f % 2 ? text : mixed, f));
    for (int o = 0; o < 5; ++o) {
        const ImplodeOptions options{
            .largeWindow = (o & 1) != 0, .literalTree = (o & 2) != 0, .matchBeforeStart = o == 4};
        Legacy("explode", "options" + std::to_string(o), uint8_t(o * 50),
               uint8_t(ImplodeFlags(options)), o % 2 ? mixed : text,
               Implode(o % 2 ? mixed : text, options));
    }
}

// ZIP archives whose entries use the legacy methods, plain and behind an executable stub.
void LegacyArchives() {
    const Bytes text = Text(700), binary = Binary(500);
    ZipWriter zip;
    zip.Add({.name = "shrunk.txt", .data = text, .packed = Shrink(text), .method = 1});
    zip.Add({.name = "reduced.bin", .data = binary, .packed = Reduce(binary, 2), .method = 3});
    const ImplodeOptions options{.largeWindow = true, .literalTree = true};
    zip.Add({.name = "dir/imploded.txt",
             .data = text,
             .packed = Implode(text, options),
             .method = 6,
             .flags = ImplodeFlags(options)});
    Put("lister_zip", "legacy.zip", zip.Build());
    Bytes stub = {'M', 'Z'};
    stub.resize(128, 0);
    Put("lister_zip", "legacy_stub.zip", zip.Build(stub, false, "a comment"));
}

dvl::test::AceMemberSpec Member(const std::string& name, const Bytes& data, uint8_t compType,
                                const Bytes& packed) {
    AceMemberSpec m;
    m.name = name;
    m.data = data;
    m.packed = packed;
    m.compType = compType;
    m.quality = compType ? 3 : 0;
    m.parm = compType ? 6 : 0; // a 64 KiB dictionary
    return m;
}

// What the decoder makes of a stream: the EXE and DELTA filters change the bytes.
Bytes Decoded(int compType, const Bytes& packed, size_t size) {
    struct Input : dvl::unace::PackedInput {
        const Bytes& bytes;
        size_t at = 0;
        explicit Input(const Bytes& b) : bytes(b) {}
        size_t ReadPacked(uint8_t* buffer, size_t capacity) override {
            const size_t n = std::min(capacity, bytes.size() - at);
            if (n) std::memcpy(buffer, bytes.data() + at, n);
            at += n;
            return n;
        }
    } input(packed);
    Bytes data;
    dvl::unace::AceDecoder decoder;
    decoder.DecodeMember(compType, 16, size, input, [&](const uint8_t* b, size_t n) {
        data.insert(data.end(), b, b + n);
        return true;
    });
    return data;
}

// A blocked stream that switches to EXE and DELTA and back; its output in `data`.
Bytes Blocked(Bytes& data) {
    using T = AceLz77Token;
    std::vector<T> tokens = ParseAceLz77(Text(300));
    size_t size = 300;
    auto literals = [&](const Bytes& bytes) {
        for (uint8_t b : bytes)
            tokens.push_back(T::Literal(b));
        size += bytes.size();
    };
    tokens.push_back(T::Switch(2, {{1, 8}}));
    literals({0xE8, 0x02, 0x10, 0x00, 0x00, 0xE9, 0x07, 0x01, 'a', 0xE8, 1, 2});
    tokens.push_back(T::Switch(0));
    tokens.push_back(T::Switch(1, {{2, 8}, {8, 17}}));
    literals({0x0a, 0x01, 0x01, 0x01, 0x07, 0x01, 0x01, 0x01});
    tokens.push_back(T::Switch(2, {{0, 8}}));
    literals({0xE8, 0x20, 0x00, 'x', 'y', 'z', 'w'});
    const Bytes packed = EncodeAceLz77(tokens);
    data = Decoded(2, packed, size);
    return packed;
}

void Ace() {
    const Bytes text = Text(900), binary = Binary(600);
    const Bytes lz = EncodeAceLz77(ParseAceLz77(text, {}, 16));
    const Bytes small = EncodeAceLz77(ParseAceLz77(binary, {}, 16), {.blockSymbols = 100});
    Bytes blockedData;
    const Bytes blocked = Blocked(blockedData);
    // The decoder target: selector (method, dictionary 2^16, solid), then the stream.
    Put("ace_decoder", "lz77", Concat({1 | 6 << 2}, lz));
    Put("ace_decoder", "lz77_small_blocks_solid", Concat({1 | 6 << 2 | 0x40}, small));
    Put("ace_decoder", "blocked", Concat({2 | 6 << 2}, blocked));
    Put("ace_decoder", "stored", Concat({0}, Text(200)));

    AceMemberSpec folder;
    folder.name = "docs";
    folder.directory = true;
    AceMemberSpec flagged = Member("docs\\secret.txt", Text(60), 0, Text(60));
    flagged.extraFlags = 0x4000;
    AceMemberSpec wide = Member("wide.txt", Text(50), 0, {});
    wide.wideHeader = true;
    Put("ace", "stored.ace",
        BuildAceArchive(
            {.members = {folder, Member("docs\\readme.txt", Text(120), 0, {}), wide, flagged}}));
    Put("ace", "lz77.ace",
        BuildAceArchive(
            {.members = {Member("text.txt", text, 1, lz), Member("binary.bin", binary, 1, small)},
             .versionToExtract = 20,
             .recoveryRecord = true,
             .unknownBlock = true}));
    Put("ace", "blocked.ace",
        BuildAceArchive(
            {.members = {Member("b.bin", blockedData, 2, blocked)}, .versionToExtract = 20}));
    // Solid: the second member's matches reach into the first one's output.
    const Bytes second = Text(400);
    Put("ace", "solid.ace",
        BuildAceArchive({.members = {Member("one.txt", text, 1, lz),
                                     Member("two.txt", second, 1,
                                            EncodeAceLz77(ParseAceLz77(second, text, 16)))},
                         .solid = true}));
    Bytes stub = {'M', 'Z'};
    stub.resize(256, 0);
    Put("ace", "sfx.exe",
        BuildAceArchive({.members = {Member("a.txt", Text(80), 0, {})}, .sfxStub = stub}));
    // Two volumes in one input: ace_fuzz splits them at the second signature.
    Bytes set;
    for (const Bytes& volume :
         BuildAceVolumes({.members = {Member("split.txt", Text(300), 0, {})}}, 200))
        set = Concat(set, volume);
    Put("ace", "two_volumes.ace", set);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTDIR\n", argv[0]);
        return 2;
    }
    out = argv[1];
    LegacyStreams();
    LegacyArchives();
    Ace();
    return 0;
}
