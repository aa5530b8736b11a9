#include "tests/support/ace_writer.h"

#include "tests/support/test_support.h"
#include "tests/support/zip_writer.h"

#include <algorithm>
#include <stdexcept>

namespace dvl::test {

namespace {

constexpr uint16_t kAddSize = 0x0001;
constexpr uint16_t kComment = 0x0002;
constexpr uint16_t kWide = 0x0004;
constexpr uint16_t kContinuedFromPrevious = 0x1000;
constexpr uint16_t kContinuedInNext = 0x2000;
constexpr uint16_t kMainMultiVolume = 0x0800;
constexpr uint16_t kMainSolid = 0x8000;
constexpr uint16_t kMainAce20 = 0x0100;
constexpr uint16_t kMainSfx = 0x0200;
constexpr uint16_t kMainRecovery = 0x2000;

void PutLe64(std::vector<uint8_t>& out, uint64_t value) {
    PutLe32(out, uint32_t(value));
    PutLe32(out, uint32_t(value >> 32));
}

void Append(std::vector<uint8_t>& out, const std::vector<uint8_t>& bytes) {
    out.insert(out.end(), bytes.begin(), bytes.end());
}

// HEAD_CRC and HEAD_SIZE in front of the header bytes (from HEAD_TYPE on).
void PutBlock(std::vector<uint8_t>& out, const std::vector<uint8_t>& header) {
    if (header.size() > 0xFFFF) throw std::length_error("ACE header too long");
    PutLe16(out, AceRawCrc(header) & 0xFFFF);
    PutLe16(out, uint32_t(header.size()));
    Append(out, header);
}

std::vector<uint8_t> MainHeader(const AceArchiveSpec& spec, uint16_t extraFlags, int volume) {
    uint16_t flags = extraFlags;
    if (spec.solid) flags |= kMainSolid;
    if (spec.versionToExtract >= 20) flags |= kMainAce20;
    if (!spec.sfxStub.empty() && volume == 0) flags |= kMainSfx;
    if (spec.recoveryRecord) flags |= kMainRecovery;
    if (!spec.mainComment.empty()) flags |= kComment;
    std::vector<uint8_t> h{0};
    PutLe16(h, flags);
    Append(h, Bytes("**ACE**"));
    h.push_back(spec.versionToExtract);
    h.push_back(spec.versionToExtract);
    h.push_back(0); // host: MS-DOS
    h.push_back(uint8_t(volume));
    PutLe32(h, kAceTestTime);
    PutLe16(h, 0xFFFF ^ (kAceTestTime & 0xFFFF));
    PutLe16(h, 0);
    PutLe32(h, 0);
    h.push_back(0); // AV_SIZE
    if (!spec.mainComment.empty()) {
        PutLe16(h, uint32_t(spec.mainComment.size()));
        Append(h, spec.mainComment);
    }
    return h;
}

const std::vector<uint8_t>& Payload(const AceMemberSpec& m) {
    return m.compType == 0 ? m.data : m.packed;
}

// One file header for a segment of `segmentSize` data bytes.
std::vector<uint8_t> FileHeader(const AceMemberSpec& m, uint16_t segmentFlags,
                                uint64_t segmentSize) {
    const bool directory = m.directory;
    std::vector<uint8_t> h{uint8_t(m.wideHeader ? 3 : 1)};
    PutLe16(h, kAddSize | segmentFlags | m.extraFlags | (m.wideHeader ? kWide : 0));
    const uint64_t origSize = directory ? 0 : m.data.size();
    if (m.wideHeader) {
        PutLe64(h, segmentSize);
        PutLe64(h, origSize);
    } else {
        PutLe32(h, uint32_t(segmentSize));
        PutLe32(h, uint32_t(origSize));
    }
    PutLe32(h, m.time);
    PutLe32(h, directory ? (m.attributes | 0x10) : m.attributes);
    const uint32_t crc = directory ? 0xFFFFFFFF : AceRawCrc(m.data);
    PutLe32(h, m.crcOverride >= 0 ? uint32_t(m.crcOverride) : crc);
    h.push_back(m.compType);
    h.push_back(m.quality);
    PutLe16(h, m.parm);
    PutLe16(h, 0); // reserved
    PutLe16(h, uint32_t(m.name.size()));
    Append(h, Bytes(m.name));
    // Four reserved bytes, which the free 1.2b decoder insists on.
    PutLe32(h, 0);
    return h;
}

std::vector<uint8_t> RecoveryRecord() {
    std::vector<uint8_t> data(16, 0xA5);
    std::vector<uint8_t> h{2};
    PutLe16(h, kAddSize);
    PutLe32(h, uint32_t(data.size()));
    Append(h, Bytes("**ACE**"));
    PutLe32(h, 0); // relative start
    PutLe32(h, 1); // clusters
    PutLe32(h, uint32_t(data.size()) - 2);
    PutLe16(h, 0);
    std::vector<uint8_t> out;
    PutBlock(out, h);
    Append(out, data);
    return out;
}

std::vector<uint8_t> UnknownBlock() {
    std::vector<uint8_t> h{0x7E};
    PutLe16(h, kAddSize);
    PutLe32(h, 5);
    std::vector<uint8_t> out;
    PutBlock(out, h);
    Append(out, Bytes("*ACE*"));
    return out;
}

// Collects the volumes while members are written into them.
class VolumeBuilder {
public:
    VolumeBuilder(const AceArchiveSpec& spec, size_t dataPerVolume, bool multiVolume)
        : spec_(spec), dataPerVolume_(dataPerVolume), multiVolume_(multiVolume) {
        StartVolume();
        if (spec.unknownBlock) Append(volumes_.back(), UnknownBlock());
    }

    void AddMember(const AceMemberSpec& m) {
        const std::vector<uint8_t>& payload = Payload(m);
        size_t done = 0;
        uint16_t flags = 0;
        do {
            if (multiVolume_ && room_ == 0 && !payload.empty()) StartVolume();
            size_t segment = payload.size() - done;
            if (multiVolume_) segment = std::min(segment, room_);
            const bool last = done + segment == payload.size();
            if (!last) flags |= kContinuedInNext;
            PutBlock(volumes_.back(), FileHeader(m, flags, segment));
            volumes_.back().insert(volumes_.back().end(), payload.begin() + long(done),
                                   payload.begin() + long(done + segment));
            done += segment;
            room_ -= multiVolume_ ? segment : 0;
            flags = kContinuedFromPrevious;
        } while (done < payload.size());
    }

    std::vector<std::vector<uint8_t>> Finish() {
        if (spec_.recoveryRecord) Append(volumes_.back(), RecoveryRecord());
        return std::move(volumes_);
    }

private:
    void StartVolume() {
        std::vector<uint8_t> volume;
        if (volumes_.empty()) volume = spec_.sfxStub;
        PutBlock(volume,
                 MainHeader(spec_, multiVolume_ ? kMainMultiVolume : 0, int(volumes_.size())));
        volumes_.push_back(std::move(volume));
        room_ = dataPerVolume_;
    }

    const AceArchiveSpec& spec_;
    size_t dataPerVolume_;
    bool multiVolume_;
    size_t room_ = 0;
    std::vector<std::vector<uint8_t>> volumes_;
};

} // namespace

uint32_t AceRawCrc(const std::vector<uint8_t>& data) {
    return ~Crc32(data);
}

std::vector<uint8_t> BuildAceArchive(const AceArchiveSpec& spec) {
    VolumeBuilder builder(spec, 0, false);
    for (const AceMemberSpec& m : spec.members)
        builder.AddMember(m);
    return builder.Finish().front();
}

std::vector<std::vector<uint8_t>> BuildAceVolumes(const AceArchiveSpec& spec,
                                                  size_t dataPerVolume) {
    if (dataPerVolume == 0) throw std::invalid_argument("volumes need room for data");
    VolumeBuilder builder(spec, dataPerVolume, true);
    for (const AceMemberSpec& m : spec.members)
        builder.AddMember(m);
    return builder.Finish();
}

} // namespace dvl::test
