// The ACE member decoder: stored data, ACE 1.0 LZ77 and the ACE 2.0 blocked
// modes, with the dictionary kept across members of a solid archive.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>
#include <vector>

namespace dvl::unace {

// The packed bytes of one member, read across volume boundaries. Returns the
// number of bytes read, 0 at the end of the member's data.
class PackedInput {
public:
    virtual ~PackedInput() = default;
    virtual size_t ReadPacked(uint8_t* buffer, size_t capacity) = 0;
};

// Receives the unpacked data in blocks; returns false to stop decoding.
using OutputSink = std::function<bool(const uint8_t* data, size_t size)>;

enum class DecodeResult {
    Ok,            // exactly origSize bytes were delivered
    Corrupt,       // invalid stream (table, code, distance, length, parameter)
    UnknownMethod, // a compression type or sub-mode this decoder does not know
    Truncated,     // the packed data ended before origSize bytes
    Stopped,       // the sink asked to stop
    NoMemory,
};

class AceDecoder {
public:
    AceDecoder();
    ~AceDecoder();
    AceDecoder(const AceDecoder&) = delete;
    AceDecoder& operator=(const AceDecoder&) = delete;

    // Forgets the dictionary (a new non-solid member or a new archive).
    void Reset();
    // Decodes one member of compression type compType (0 stored, 1, 2) with
    // a dictionary of 2^dictBits bytes, delivering exactly origSize bytes.
    // Output of every type enters the dictionary, for solid archives.
    DecodeResult DecodeMember(int compType, int dictBits, uint64_t origSize, PackedInput& input,
                              const OutputSink& sink);

private:
    struct State;
    std::unique_ptr<State> state_;
};

// The packed bytes of an encrypted member (file flag 0x4000) deciphered with its password, to
// hand to DecodeMember in place of the encrypted input. A wrong password shows only as corrupt
// data or a CRC mismatch.
class DecryptingInput : public PackedInput {
public:
    DecryptingInput(PackedInput& encrypted, std::string_view password);
    ~DecryptingInput() override;
    DecryptingInput(const DecryptingInput&) = delete;
    DecryptingInput& operator=(const DecryptingInput&) = delete;
    size_t ReadPacked(uint8_t* buffer, size_t capacity) override;

private:
    struct Cipher;
    PackedInput& encrypted_;
    std::unique_ptr<Cipher> cipher_;
    std::vector<uint8_t> plain_;
    size_t next_ = 0, ready_ = 0;
    uint8_t carry_[8] = {};
    size_t carried_ = 0;
    bool ended_ = false;
};

} // namespace dvl::unace
