// The data of one ZIP entry on its way through a decoder: compressed bytes
// read from the archive in blocks (decrypted when the entry is encrypted) and
// decoded bytes written out in blocks with their CRC-32.
#pragma once

#include "archive/codecs/inflate.h"
#include "archive/unzip/progress_meter.h"
#include "archive/unzip/zip_crypto.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace dvl {
class TUnBase;
}

namespace dvl::unzip {

using codecs::ByteSink;
using codecs::ByteSource;

constexpr size_t kBlockSize = 32768;

// Compressed bytes of an entry, from the archive's current position.
class EntryInput : public ByteSource {
public:
    // keys: the decryption keys left by the password check, for an
    // encrypted entry.
    EntryInput(uint64_t packedSize, std::optional<ZipKeys> keys, ProgressMeter& meter);

    std::span<const uint8_t> Next() override;
    // The next byte, or -1 when the entry's data is used up. The progress
    // rule runs before each byte.
    int NextInputByte();

    uint64_t Total() const { return total_; }
    uint64_t Remaining() const { return remaining_; }
    // True once Next found no more data.
    bool Exhausted() const { return exhausted_; }
    ProgressMeter& Meter() { return meter_; }

private:
    // Reads the next block; false when nothing more came.
    bool Refill();

    uint64_t total_, remaining_;
    std::optional<ZipKeys> keys_;
    ProgressMeter& meter_;
    std::vector<uint8_t> buffer_;
    size_t position_ = 0, fill_ = 0;
    bool exhausted_ = false;
};

// Decoded bytes of an entry, written through the current extractor.
class EntryOutput : public ByteSink {
public:
    // limit: the most the entry may decode to (its stored size); more fails
    // the write with EFBIG.
    EntryOutput(TUnBase& extractor, uint64_t limit) : extractor_(extractor), limit_(limit) {}

    bool Write(const uint8_t* data, size_t n) override;
    // The register for the CRC verdict: compare its complement with the CRC.
    uint32_t Crc() const { return crc_; }
    uint64_t Written() const { return written_; }
    // Set when a write failed; errno of the failure (ENOSPC for a full disk,
    // EFBIG for output beyond the limit).
    std::optional<int> WriteFailure() const { return failure_; }

private:
    TUnBase& extractor_;
    uint64_t limit_;
    uint32_t crc_ = 0xFFFFFFFFu;
    uint64_t written_ = 0;
    std::optional<int> failure_;
};

} // namespace dvl::unzip
