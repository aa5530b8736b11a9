// Undoes the filter of DELTA runs: each block of N bytes was split into D interleaved planes
// and delta-coded with a running byte that carries over from block to block in a member.
#pragma once

#include "unace/decoder/ace_decoder.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace dvl::unace::detail {

class DeltaFilter {
public:
    // A fresh filter for a member (running byte 0).
    void Reset();
    // A new DELTA run with distance D and block length N; Corrupt unless N is a positive
    // multiple of a positive D.
    DecodeResult Start(int distance, int blockLength);

    // Takes LZ77 output; every completed block goes to `out`.
    void Feed(const uint8_t* data, size_t size, std::vector<uint8_t>& out);
    // The run ended: a partial block leaves as a shorter block, Corrupt unless its length is a
    // multiple of D.
    DecodeResult Finish(std::vector<uint8_t>& out);

private:
    void EmitBlock(std::vector<uint8_t>& out);

    std::vector<uint8_t> block_;
    size_t distance_ = 1;
    size_t blockLength_ = 0;
    uint8_t running_ = 0;
};

} // namespace dvl::unace::detail
