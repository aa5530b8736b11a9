// Times the member decoder on a large LZ77 member made by the test encoder, beside the peer
// decoder testing the same archive. Usage: ace_decode_bench [MEGABYTES] (default 50).
#include "tests/support/ace_lz77_encoder.h"
#include "tests/support/ace_writer.h"
#include "tests/support/test_support.h"
#include "tests/unace/decoder/member_walk.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>

namespace {

using namespace dvl::test;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

// Log-like text: words, numbers and runs, compressible about 3:1.
std::vector<uint8_t> BenchData(size_t size) {
    std::mt19937 random(42);
    const char* words[] = {"error ", "warning ", "member ",  "archive ", "window ",
                           "block ", "table ",   "decoder ", "\r\n",     "value="};
    std::vector<uint8_t> data;
    data.reserve(size + 64);
    while (data.size() < size) {
        const uint32_t r = random();
        if (r % 4 == 0) {
            const std::string n = std::to_string(r % 100000) + ' ';
            data.insert(data.end(), n.begin(), n.end());
        } else {
            const std::string w = words[r % 10];
            data.insert(data.end(), w.begin(), w.end());
        }
    }
    data.resize(size);
    return data;
}

} // namespace

int main(int argc, char** argv) {
    const size_t megabytes = argc > 1 ? size_t(std::atoi(argv[1])) : 50;
    const std::vector<uint8_t> data = BenchData(megabytes << 20);
    auto start = Clock::now();
    const std::vector<uint8_t> packed = EncodeAceLz77(ParseAceLz77(data));
    std::printf("encoded %zu bytes into %zu in %.2f s\n", data.size(), packed.size(),
                Seconds(start));

    dvl::unace::AceDecoder decoder;
    double best = 1e9;
    for (int round = 0; round < 3; ++round) {
        start = Clock::now();
        uint32_t crc = 0xFFFFFFFF;
        BytesInput input(packed);
        size_t total = 0;
        const auto result =
            decoder.DecodeMember(1, 22, data.size(), input, [&](const uint8_t* bytes, size_t size) {
                crc ^= bytes[0];
                total += size;
                return true;
            });
        best = std::min(best, Seconds(start));
        if (result != dvl::unace::DecodeResult::Ok || total != data.size()) {
            std::printf("decoding failed\n");
            return 1;
        }
        decoder.Reset();
    }
    std::printf("decoder: %.3f s (%.0f MB/s)\n", best, double(data.size()) / best / 1e6);

    if (!HaveTool("unace")) {
        std::printf("peer tool unace is absent\n");
        return 0;
    }
    TempDir dir;
    AceMemberSpec member;
    member.name = "bench.txt";
    member.data = data;
    member.packed = packed;
    member.compType = 1;
    member.quality = 3;
    member.parm = 12;
    WriteFile(dir / "bench.ace", BuildAceArchive({.members = {member}}));
    start = Clock::now();
    const int status = Run("unace t -y " + Quote(dir / "bench.ace") + " </dev/null >/dev/null");
    const double peer = Seconds(start);
    std::printf("unace t: %.3f s (status %d; includes its CRC and start-up)\n", peer, status);
    return 0;
}
