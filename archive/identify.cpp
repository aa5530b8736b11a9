// Recognition of an archive's type, including self-extracting executables
// and the extension fallback for formats without a signature.
#include "archive/bytes.h"
#include "archive/formats/lha_header.h"
#include "archive/formats/tar_header.h"
#include "archive/text.h"
#include "archive/zip_common.h"
#include "platform/pe_resources.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace dvl {

namespace {

platform::File& Input() {
    return Library().input;
}

// Seeks; false when the position is out of reach (negative or failing).
bool TrySeek(int64_t position) {
    if (position < 0) return false;
    try {
        Input().Seek(position);
        return true;
    } catch (const platform::IoError&) {
        return false;
    }
}

// Reads 4 bytes at a position; false unless all four came.
bool ReadProbe(int64_t position, uint8_t bytes[4]) {
    return TrySeek(position) && Input().Read(bytes, 4) == 4;
}

// "begin" at the start of the text or right after a line feed.
bool HasBeginLine(const std::vector<uint8_t>& text, size_t n) {
    static constexpr char kBegin[] = "begin";
    for (size_t i = 0; i + 5 <= n; ++i)
        if ((i == 0 || text[i - 1] == 0x0A) && std::memcmp(&text[i], kBegin, 5) == 0) return true;
    return false;
}

// A TAR's first header block, told by its checksum: firmer evidence than any
// two-byte signature its name might start with ("Ra", "PK", "HA" ...).
bool StartsWithTarHeader(int64_t size) {
    uint8_t header[formats::kTarBlock];
    return size >= int64_t(sizeof header) && TrySeek(0) &&
           Input().Read(header, sizeof header) == sizeof header &&
           formats::TarChecksumValid(header);
}

// bzip2, XZ and Zstandard streams, which have no type here: no cabinet
// follows their magic, so the file need not be searched for one.
bool StartsLikeCompressedStream(const uint8_t head[6]) {
    static const uint8_t kXz[6] = {0xFD, '7', 'z', 'X', 'Z', 0x00};
    static const uint8_t kZstd[4] = {0x28, 0xB5, 0x2F, 0xFD};
    return std::memcmp(head, "BZh", 3) == 0 || std::memcmp(head, kXz, 6) == 0 ||
           std::memcmp(head, kZstd, 4) == 0;
}

// The archive file as the LHA header parser reads it.
class DetectionInput final : public formats::LhaInput {
public:
    explicit DetectionInput(int64_t size) : size_(size) {}
    size_t ReadAt(int64_t offset, uint8_t* buffer, size_t n) override {
        return offset < size_ && TrySeek(offset) ? Input().Read(buffer, n) : 0;
    }
    int64_t Size() const override { return size_; }

private:
    int64_t size_;
};

// An LHA archive in a self-extractor whose archive does not begin where the
// DOS image ends (Windows stubs, LArc's .COM stubs): the first header within
// the first bytes that parses whole, checksum included, with its data inside
// the file. Zero-based; negative when there is none.
int64_t FindLhaHeader(int64_t size) {
    constexpr size_t kChunk = 64 * 1024;
    constexpr int64_t kScanned = 2 * 1024 * 1024;
    std::vector<uint8_t> buf(kChunk + formats::kLhaBaseSize);
    DetectionInput input(size);
    const int64_t limit = std::min(size, kScanned);
    for (int64_t at = 0; at < limit; at += int64_t(kChunk)) {
        if (!TrySeek(at)) return -1;
        const size_t n = Input().Read(buf.data(), buf.size());
        for (size_t p = 0; p + formats::kLhaBaseSize <= n && p < kChunk; ++p) {
            if (buf[p + 2] != '-' || !formats::LooksLikeLhaHeader(&buf[p], n - p)) continue;
            formats::LhaHeader header;
            const int64_t position = at + int64_t(p);
            if (formats::ParseLhaHeader(input, position, header) == formats::LhaParse::Ok &&
                header.checksumMatches && header.extendedIntact &&
                header.dataOffset + int64_t(std::min<uint64_t>(header.packedSize, size)) <= size)
                return position;
        }
    }
    return -1;
}

// LArc and LHA .COM self-extractors begin with a jump over their text.
bool StartsLikeComProgram(const uint8_t head[6]) {
    return head[0] == 0xEB || head[0] == 0xE9;
}

} // namespace

void TZipCommon::IdentifyArchive() {
    if (archiveFile_.empty()) {
        arcType_ = atNA;
        return;
    }
    arcType_ = atNA;
    if (!OpenInput(archiveFile_)) {
        arcType_ = atFileError;
        return;
    }
    try {
        DetectOpenFile();
    } catch (const platform::IoError&) {
        Input().Close();
        throw;
    }
    if (!Input().Close()) RaiseError(archiveFile_, "0", kErrClosingFile);
}

void TZipCommon::DetectOpenFile() {
    startOffset_ = 1;
    try {
        archiveSize64_ = Input().Size();
    } catch (const platform::IoError&) {
        return;
    }
    archiveSize_ = int32_t(std::min<int64_t>(archiveSize64_, INT32_MAX));
    if (archiveSize64_ < 6) {
        arcType_ = atFileError;
        return;
    }
    uint8_t head[6] = {};
    if (Input().Read(head, 6) < 6) {
        arcType_ = atFileError;
        return;
    }
    if (head[0] == 'M' && head[1] == 'Z') {
        ProbeExecutable(head);
        return;
    }
    if (StartsWithTarHeader(archiveSize64_)) {
        arcType_ = atTAR;
        return;
    }
    arcType_ = ClassifySignature(ProbeMode::FileStart, head, startOffset_);
    if (arcType_ == atUnknown && archiveSize64_ > 200 &&
        ExtractFileName(archiveFile_).find('.') != std::string::npos)
        FallBackOnExtension();
    if (arcType_ == atUnknown && !StartsLikeCompressedStream(head)) ScanForCabinet();
    if (arcType_ == atUnknown && StartsLikeComProgram(head)) TakeEmbeddedLha();
}

void TZipCommon::TakeEmbeddedLha() {
    const int64_t position = FindLhaHeader(archiveSize64_);
    if (position < 0 || position >= INT32_MAX) return;
    startOffset_ = int32_t(position + 1);
    arcType_ = atLhaExe;
}

// A cabinet may follow other bytes (an installer's own code): the first
// "MSCF" whose header fits the file is taken.
void TZipCommon::ScanForCabinet() {
    constexpr size_t kChunk = 64 * 1024;
    constexpr int64_t kScanned = 64 * 1024 * 1024;
    std::vector<uint8_t> buf(kChunk + 36);
    const int64_t limit = std::min(archiveSize64_, kScanned);
    for (int64_t at = 0; at < limit; at += int64_t(kChunk)) {
        if (!TrySeek(at)) return;
        const size_t n = Input().Read(buf.data(), buf.size());
        for (size_t p = 0; p + 36 <= n && p < kChunk; ++p) {
            if (std::memcmp(&buf[p], "MSCF", 4) != 0) continue;
            const uint32_t cabinetSize = Le32(&buf[p + 8]), filesOffset = Le32(&buf[p + 16]);
            const int64_t position = at + int64_t(p);
            if (cabinetSize < 36 || filesOffset >= cabinetSize ||
                position + int64_t(cabinetSize) > archiveSize64_ || buf[p + 25] != 1)
                continue;
            startOffset_ = int32_t(std::min<int64_t>(position + 1, INT32_MAX));
            arcType_ = atCAB;
            return;
        }
    }
}

void TZipCommon::ProbeExecutable(const uint8_t head[6]) {
    arcType_ = atUnknown;
    Library().sfxBase = 0;
    if (ProbeStringResources()) return;
    ProbeDosImageEnd(head);
    if (arcType_ == atUnknown) ScanForAppendedZip();
    if (arcType_ == atUnknown) TakeEmbeddedLha();
}

// A self-extractor may name its archive's offset in string resources 1..4.
bool TZipCommon::ProbeStringResources() {
    auto table = platform::PeStringTable::FromFile(archiveFile_);
    if (!table) return false;
    for (uint32_t id = 1; id <= 4; ++id) {
        int32_t offset = 0;
        if (!TryParseInt(table->Load(id, 6), offset)) break;
        startOffset_ = offset;
        if (offset >= archiveSize64_) break;
        uint8_t probe[4];
        if (!ReadProbe(offset, probe)) continue;
        arcType_ = ClassifySignature(ProbeMode::Executable, probe, startOffset_);
        if (arcType_ != atUnknown) {
            if (IsZipFamily(arcType_)) Library().sfxBase = startOffset_;
            startOffset_ += 1;
            return true;
        }
    }
    return false;
}

// An archive appended to a DOS program begins where the DOS image ends.
void TZipCommon::ProbeDosImageEnd(const uint8_t head[6]) {
    int64_t lastPageBytes = Le16(head + 2), pages = Le16(head + 4);
    int64_t end = (pages - 1) * 512 + lastPageBytes;
    if (end <= 0 || end >= archiveSize64_) return;
    uint8_t probe[4];
    if (!TrySeek(end)) return;
    // Some ARJ stubs leave two bytes before the header.
    if (Input().Read(probe, 4) == 4 && probe[2] == 0x60 && probe[3] == 0xEA) end += 2;
    startOffset_ = int32_t(end + 1);
    if (!TrySeek(end)) return;
    if (Input().Read(probe, 4) == 4)
        arcType_ = ClassifySignature(ProbeMode::Executable, probe, startOffset_);
}

// A ZIP appended to an executable: its end record lies within the last
// ZipCmntBufSize + 22 bytes (the record and a comment of that size).
void TZipCommon::ScanForAppendedZip() {
    const int64_t size = archiveSize64_, b = zipCmntBufSize_;
    int64_t tail = b + 23 <= size ? b + 23 : (b == 0 ? 23 : size - 76);
    if (size < tail || tail <= 0) return;
    std::vector<uint8_t> buf(size_t(tail), 0);
    if (!TrySeek(size - tail)) return;
    const int64_t n = int64_t(Input().Read(buf.data(), buf.size()));
    for (int64_t p = n - 21; p >= 1; --p) {
        if (Le32(&buf[size_t(p)]) != 0x06054B50) continue;
        uint8_t end[22] = {}, central[46] = {};
        if (!TrySeek(size - tail + p)) return;
        Input().Read(end, sizeof end);
        if (Le32(end) != 0x06054B50) return;
        if (!TrySeek(Le32(end + 16))) return;
        if (Input().Read(central, sizeof central) >= 4 && Le32(central) == 0x02014B50) {
            startOffset_ = int32_t(Le32(central + 42));
            arcType_ = atZipExe;
        }
        return;
    }
}

// Formats without a reliable signature are taken by their extension.
void TZipCommon::FallBackOnExtension() {
    static const std::string kExtensions =
        ".UUE.XXE.ENC.TAR.ZIP.ZOO.Z.GZ.LHA.LZH.ARC.ARJ.BH.PAK.CAB.RAR";
    std::string ext = UpperCaseAscii(ExtractFileExt(archiveFile_));
    size_t k = kExtensions.find(ext);
    if (ext.empty() || k == std::string::npos) return;
    std::string test = kExtensions.substr(k + 1, 3);

    if (test == "UUE" || test == "ENC" || test == "XXE") {
        std::vector<uint8_t> text(size_t(std::min<int64_t>(archiveSize64_, 800)));
        if (!TrySeek(0)) return;
        size_t n = Input().Read(text.data(), text.size());
        if (HasBeginLine(text, n)) arcType_ = atUUE;
    } else if (test == "TAR") {
        uint8_t header[512];
        if (!TrySeek(0) || Input().Read(header, 512) < 512) return;
        if (header[156] == 'V') {
            // A volume label comes first; the archive's own header follows it.
            startOffset_ = 513;
            if (Input().Read(header, 512) < 512) {
                startOffset_ = 1;
                return;
            }
        }
        if (formats::TarChecksumValid(header))
            arcType_ = atTAR;
        else
            startOffset_ = 1;
    }
}

} // namespace dvl
