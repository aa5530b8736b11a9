// Writes ACE LZ77 streams for tests: literals, matches (new distances or one of the last four),
// mode switches of blocked members, in blocks with their own tables. The codes come from the
// decoder's own code construction, as the format requires of every writer.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

namespace dvl::test {

struct AceLz77Token {
    enum class Kind { Literal, Match, ModeSwitch };
    Kind kind = Kind::Literal;
    uint8_t literal = 0;
    uint32_t distance = 0; // Match: bytes back, 1 to 2^22
    uint32_t length = 0;   // Match
    uint8_t mode = 0;      // ModeSwitch: the new mode and its parameter fields {value, bits}
    std::vector<std::pair<uint32_t, int>> parameters{};

    static AceLz77Token Literal(uint8_t byte) { return {Kind::Literal, byte}; }
    static AceLz77Token Match(uint32_t distance, uint32_t length) {
        return {Kind::Match, 0, distance, length};
    }
    static AceLz77Token Switch(uint8_t mode,
                               std::vector<std::pair<uint32_t, int>> parameters = {}) {
        return {Kind::ModeSwitch, 0, 0, 0, mode, std::move(parameters)};
    }
};

struct AceLz77Options {
    uint32_t blockSymbols = 32767; // main symbols per block; each block sends new tables
    bool useRepeats = true;        // code a match as a repeated distance where one fits
};

// The packed member data (padded to whole 32-bit words) for the tokens. Throws
// std::invalid_argument for a match the format cannot express.
std::vector<uint8_t> EncodeAceLz77(const std::vector<AceLz77Token>& tokens,
                                   const AceLz77Options& options = {});

// Literals for the text.
std::vector<AceLz77Token> AceLiterals(const std::vector<uint8_t>& data);

// A greedy LZ77 parse of `data`; matches may reach back into `history` (the output of the
// earlier members of a solid archive) and at most 2^dictBits bytes.
std::vector<AceLz77Token> ParseAceLz77(const std::vector<uint8_t>& data,
                                       const std::vector<uint8_t>& history = {}, int dictBits = 22);

} // namespace dvl::test
