// A minimal walk over the blocks of one ACE volume, enough to hand each member's packed data
// to the decoder: file headers with their sizes, method, dictionary, CRC and flags.
#pragma once

#include "unace/decoder/ace_decoder.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace dvl::test {

struct WalkedAceMember {
    std::string name;
    uint16_t flags = 0;
    int compType = 0;
    int dictBits = 10;
    uint64_t origSize = 0;
    uint32_t crc = 0;
    std::vector<uint8_t> packed;

    bool IsDirectory() const { return (attributes & 0x10) != 0; }
    bool Spans() const { return (flags & 0x3000) != 0; }
    uint32_t attributes = 0;
};

struct WalkedAceVolume {
    bool solid = false;
    std::vector<WalkedAceMember> members;
};

// The members of an archive file without a self-extractor stub; empty on a broken header.
WalkedAceVolume WalkAceVolume(const std::filesystem::path& path);
// The members of a volume set, a split member's segments joined into one.
WalkedAceVolume WalkAceVolumes(const std::vector<std::filesystem::path>& paths);

// Packed bytes handed out in pieces of at most `piece` bytes.
class BytesInput : public unace::PackedInput {
public:
    explicit BytesInput(const std::vector<uint8_t>& bytes, size_t piece = SIZE_MAX)
        : bytes_(bytes), piece_(piece) {}
    size_t ReadPacked(uint8_t* buffer, size_t capacity) override;

private:
    const std::vector<uint8_t>& bytes_;
    size_t piece_;
    size_t at_ = 0;
};

struct DecodedMember {
    unace::DecodeResult result = unace::DecodeResult::Ok;
    std::vector<uint8_t> data;
};

// Decodes one member with the decoder, collecting the output.
DecodedMember DecodeWith(unace::AceDecoder& decoder, int compType, int dictBits, uint64_t origSize,
                         const std::vector<uint8_t>& packed, size_t piece = SIZE_MAX);

// The ACE CRC register (no final inversion).
uint32_t RawCrc(const std::vector<uint8_t>& data);

} // namespace dvl::test
