// RAR 5: after the 8-byte marker, a chain of blocks, each a CRC-32 of the
// rest of its header, the header's size, type and flags (variable-length
// integers), an optional extra area at the header's end and an optional data
// area after it. File headers name the entries; a "CMT" service header holds
// the archive comment; an encryption header means that every later header is
// encrypted, so nothing can be listed.
#include "archive/bytes.h"
#include "archive/codecs/crc32.h"
#include "archive/lister/lorvex.h"
#include "archive/lister/rar_entry.h"

#include <algorithm>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

namespace dvl::lister {

namespace {

// The smallest block: CRC, size, type, flags.
constexpr int kMinBlockSize = 7;
// A header is at most 2 MiB, so its size takes at most three bytes.
constexpr int kMaxSizeBytes = 3;
constexpr uint64_t kMaxHeaderSize = 2 * 1024 * 1024;
// An archive comment longer than this is cut.
constexpr int64_t kMaxComment = 256 * 1024;

enum BlockType : uint64_t {
    kFileBlock = 2,
    kServiceBlock = 3,
    kEncryptionBlock = 4,
    kEndBlock = 5,
};
enum BlockFlags : uint64_t {
    kHasExtraArea = 0x0001,
    kHasDataArea = 0x0002,
};
enum FileFlags : uint64_t {
    kFileDirectory = 0x0001,
    kFileHasTime = 0x0002,
    kFileHasCrc = 0x0004,
    kFileSizeUnknown = 0x0008,
};
enum ExtraRecord : uint64_t {
    kEncryptionRecord = 0x01,
    kTimeRecord = 0x03,
};
enum TimeFlags : uint64_t {
    kUnixTimes = 0x0001,
    kHasModified = 0x0002,
    kHasCreated = 0x0004,
    kHasAccessed = 0x0008,
    kHasNanoseconds = 0x0010,
};
constexpr int64_t kFileTimeTicksPerSecond = 10'000'000;
constexpr int64_t kFileTimeToUnixSeconds = 11'644'473'600; // 1601-01-01 to 1970-01-01
constexpr double kSecondsPerDay = 86400.0;

// Reads the fields of a header; a read past its end marks it damaged and
// yields zeros from then on.
class FieldReader {
public:
    FieldReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    uint64_t Vint() {
        uint64_t value = 0;
        for (int shift = 0; pos_ < size_; shift += 7) {
            const uint8_t b = data_[pos_++];
            if (shift < 64) value |= uint64_t(b & 0x7F) << shift;
            if (!(b & 0x80)) return value;
        }
        damaged_ = true;
        return 0;
    }
    uint32_t U32() {
        if (!Has(4)) return 0;
        const uint32_t value = Le32(data_ + pos_);
        pos_ += 4;
        return value;
    }
    uint64_t U64() {
        const uint64_t low = U32();
        return low | uint64_t(U32()) << 32;
    }
    std::string_view Bytes(uint64_t n) {
        if (!Has(n)) return {};
        const std::string_view text(reinterpret_cast<const char*>(data_ + pos_), size_t(n));
        pos_ += size_t(n);
        return text;
    }
    // The next n bytes as a reader of their own; this one moves past them.
    FieldReader Part(uint64_t n) {
        const std::string_view part = Bytes(n);
        return {reinterpret_cast<const uint8_t*>(part.data()), part.size()};
    }
    void Skip(uint64_t n) { Bytes(n); }
    size_t Left() const { return size_ - pos_; }
    bool Damaged() const { return damaged_; }

private:
    bool Has(uint64_t n) {
        if (n <= size_ - pos_) return true;
        damaged_ = true;
        pos_ = size_;
        return false;
    }

    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
    bool damaged_ = false;
};

// The fields every block starts with.
struct BlockHeader {
    uint64_t type = 0, flags = 0, extraSize = 0, dataSize = 0;
};

// The fields file and service headers share.
struct FileFields {
    uint64_t flags = 0, unpacked = 0, attributes = 0, compression = 0;
    uint32_t modified = 0, crc = 0;
    std::string_view name;
    bool encrypted = false;
    double date = 0; // from the time record; 0 when there is none
};

// Seconds (with their fraction) since 1970 as a local date value.
double UnixDate(int64_t seconds, double fraction) {
    return TLorvex::ConvertUnixDate(seconds) + fraction / kSecondsPerDay;
}

// The modification time of a time record; 0 when it has none.
double ReadTimeRecord(FieldReader r) {
    const uint64_t flags = r.Vint();
    if (!(flags & kHasModified)) return 0;
    const bool unix = flags & kUnixTimes;
    if (!unix) {
        const uint64_t ticks = r.U64();
        if (r.Damaged()) return 0;
        const int64_t seconds = int64_t(ticks / kFileTimeTicksPerSecond) - kFileTimeToUnixSeconds;
        return UnixDate(seconds,
                        double(ticks % kFileTimeTicksPerSecond) / double(kFileTimeTicksPerSecond));
    }
    const uint32_t seconds = r.U32();
    // The nanoseconds of each time follow all the times.
    const int others = ((flags & kHasCreated) ? 1 : 0) + ((flags & kHasAccessed) ? 1 : 0);
    r.Skip(4 * others);
    const uint32_t nanoseconds = (flags & kHasNanoseconds) ? r.U32() : 0;
    if (r.Damaged()) return 0;
    return UnixDate(seconds, nanoseconds < 1'000'000'000 ? nanoseconds / 1e9 : 0.0);
}

// The records of an extra area: a size, then a type and the type's fields.
void ReadExtraArea(FieldReader area, FileFields& f) {
    while (area.Left() > 0 && !area.Damaged()) {
        const uint64_t size = area.Vint();
        FieldReader record = area.Part(size);
        if (area.Damaged()) return;
        switch (record.Vint()) {
        case kEncryptionRecord:
            f.encrypted = true;
            break;
        case kTimeRecord:
            f.date = ReadTimeRecord(record);
            break;
        default:
            break;
        }
    }
}

// The fields of a file or service header after the block fields; false when
// they do not fit the header.
bool ReadFileFields(FieldReader& r, uint64_t extraSize, FileFields& f) {
    f.flags = r.Vint();
    f.unpacked = r.Vint();
    f.attributes = r.Vint();
    if (f.flags & kFileHasTime) f.modified = r.U32();
    if (f.flags & kFileHasCrc) f.crc = r.U32();
    f.compression = r.Vint();
    r.Vint(); // host system
    f.name = r.Bytes(r.Vint());
    if (r.Damaged() || r.Left() < extraSize) return false;
    r.Skip(r.Left() - extraSize);
    ReadExtraArea(r.Part(extraSize), f);
    return true;
}

// Compression information: version (bits 0-5), solid (bit 6), method
// (bits 7-9), dictionary (bits 10-14).
uint8_t UnpackVersion(uint64_t compression) {
    switch (compression & 0x3F) {
    case 0:
        return 50;
    case 1:
        return 70;
    default:
        return 0;
    }
}

uint8_t MethodCode(uint64_t compression) {
    return uint8_t(0x30 + ((compression >> 7) & 7));
}

std::string WindowsName(std::string_view stored) {
    std::string name(stored);
    std::replace(name.begin(), name.end(), '/', '\\');
    return name;
}

class Rar5Reader final : public Reader {
public:
    void Prepare(TLorvex& l) override;
    void Step(TLorvex& l) override;
    // Every archive of this format ends in an end block (each volume of a
    // set too); a walk that stops short of it met a cut or damaged archive.
    void Finish(TLorvex& l) override {
        if (!ended_) l.ReportError(l.ArchivePath(), "0", kErrUnexpectedEnd);
    }

private:
    // The whole block at `start` in block_; its fields in `header`, the
    // reader left after them. False when it is damaged or does not fit.
    bool ReadBlock(TLorvex& l, int64_t start, BlockHeader& header, FieldReader& fields);
    void ListFile(TLorvex& l, int64_t start, const FileFields& f, int64_t packed);
    void ReadComment(TLorvex& l, const FileFields& f, int64_t dataAt, int64_t packed);

    std::vector<uint8_t> block_;
    bool ended_ = false; // at the end block, or at encrypted headers
};

void Rar5Reader::Prepare(TLorvex& l) {
    l.SetHeaderSize(kMinBlockSize);
    l.HeaderPos = l.StartOffset() - 1 + kRar5MarkerSize + 1;
}

bool Rar5Reader::ReadBlock(TLorvex& l, int64_t start, BlockHeader& header, FieldReader& fields) {
    const uint8_t* h = l.Header();
    uint64_t size = 0;
    int sizeBytes = 0;
    for (bool more = true; more; ++sizeBytes) {
        if (sizeBytes == kMaxSizeBytes) return false;
        const uint8_t b = h[4 + sizeBytes];
        size |= uint64_t(b & 0x7F) << (7 * sizeBytes);
        more = b & 0x80;
    }
    const int64_t length = 4 + sizeBytes + int64_t(size);
    if (size == 0 || size > kMaxHeaderSize || start + length > l.ArchiveSize64()) return false;
    block_.resize(size_t(length));
    l.SeekInput(start);
    if (l.ReadInput(block_.data(), block_.size()) != block_.size()) return false;
    const uint32_t crc = ~codecs::CrcUpdate(0xFFFFFFFF, block_.data() + 4, block_.size() - 4);
    if (crc != Le32(block_.data())) return false;

    fields = FieldReader(block_.data() + 4 + sizeBytes, size_t(size));
    header.type = fields.Vint();
    header.flags = fields.Vint();
    header.extraSize = (header.flags & kHasExtraArea) ? fields.Vint() : 0;
    header.dataSize = (header.flags & kHasDataArea) ? fields.Vint() : 0;
    return !fields.Damaged();
}

void Rar5Reader::Step(TLorvex& l) {
    const int64_t start = l.HeaderPos - 1;
    BlockHeader header;
    FieldReader fields(nullptr, 0);
    if (!ReadBlock(l, start, header, fields) || header.type == kEncryptionBlock ||
        header.type == kEndBlock) {
        ended_ = header.type == kEncryptionBlock || header.type == kEndBlock;
        l.EndWalk();
        return;
    }
    const int64_t dataAt = start + int64_t(block_.size());
    // Data beyond the end of the file ends the walk after this block.
    const int64_t packed = int64_t(std::min<uint64_t>(header.dataSize, uint64_t(l.StopPos)));
    if (header.type == kFileBlock || header.type == kServiceBlock) {
        FileFields f;
        if (!ReadFileFields(fields, header.extraSize, f)) {
            l.EndWalk();
            return;
        }
        if (header.type == kFileBlock)
            ListFile(l, start, f, packed);
        else if (f.name == "CMT")
            ReadComment(l, f, dataAt, packed);
    }
    l.ReadPos = std::min(dataAt + packed, l.StopPos);
}

void Rar5Reader::ListFile(TLorvex& l, int64_t start, const FileFields& f, int64_t packed) {
    l.FileName = WindowsName(f.name);
    l.FireReadFile();
    double date = f.date;
    if (date == 0 && (f.flags & kFileHasTime)) date = UnixDate(f.modified, 0);
    const int64_t unpacked = (f.flags & kFileSizeUnknown)
                                 ? 0
                                 : int64_t(std::min<uint64_t>(
                                       f.unpacked, uint64_t(std::numeric_limits<int64_t>::max())));
    ReportRarEntry(l, {.start = start,
                       .packed = packed,
                       .unpacked = unpacked,
                       .date = date,
                       .unpackVersion = UnpackVersion(f.compression),
                       .method = MethodCode(f.compression),
                       .crc = f.crc,
                       .attributes = uint32_t(f.attributes),
                       .encrypted = f.encrypted,
                       .directory = (f.flags & kFileDirectory) != 0});
}

// A stored comment is read as it is; a compressed or encrypted one stands as
// the notice.
void Rar5Reader::ReadComment(TLorvex& l, const FileFields& f, int64_t dataAt, int64_t packed) {
    const bool stored = MethodCode(f.compression) == 0x30 && !f.encrypted;
    if (!stored) {
        l.ArchiveComment = std::make_unique<std::string>(kRarCommentNotice);
        return;
    }
    const int64_t length =
        std::min({packed, int64_t(std::min<uint64_t>(f.unpacked, kMaxComment)), kMaxComment});
    if (length <= 0) return;
    l.ReadPos = dataAt;
    l.SeekInput(dataAt);
    l.ReadComment(length, l.ArchiveComment);
}

} // namespace

std::unique_ptr<Reader> MakeRar5Reader() {
    return std::make_unique<Rar5Reader>();
}

} // namespace dvl::lister
