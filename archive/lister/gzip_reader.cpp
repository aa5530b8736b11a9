// GZip family: one compressed stream listed as one entry. gzip files carry a
// name, a time and a trailer with the CRC and the original size; compress,
// pack and LZH-compress files carry nothing, so the file itself is described.
#include "archive/bytes.h"
#include "archive/dates.h"
#include "archive/lister/lorvex.h"
#include "archive/lister/method_names.h"
#include "archive/text.h"
#include "platform/attributes.h"
#include "platform/times.h"

#include <algorithm>
#include <cstring>
#include <optional>

namespace dvl::lister {

namespace {

constexpr int kHeaderSize = 10;
constexpr int64_t kTrailerSize = 8; // CRC-32 and original size
constexpr size_t kMaxStoredName = 255;

enum GZipMagic : uint16_t {
    kGZip = 0x8B1F,
    kOldGZip = 0x9E1F,
    kCompress = 0x9D1F,
    kPack = 0x1E1F,
    kLzhCompress = 0xA01F,
};

enum GZipFlags : uint8_t {
    kExtraField = 0x04,
    kStoredName = 0x08,
    kEncrypted = 0x20,
};

constexpr uint8_t kMethodStored = 0, kMethodDeflate = 8, kMethodUnknown = 10;

// The file's name without its last extension.
std::string NameFromArchive(const std::string& path) {
    std::string name = ExtractFileName(path);
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos) name.resize(dot);
    return name;
}

class GZipReader final : public Reader {
public:
    // The one entry is listed here, so that a file shorter than the header
    // (a compress file of a few bytes) is listed too.
    void Prepare(TLorvex& l) override;
    void Step(TLorvex& l) override { l.EndWalk(); }

private:
    void List(TLorvex& l, const uint8_t* h);
};

void GZipReader::Prepare(TLorvex& l) {
    l.SetHeaderSize(kHeaderSize);
    l.ReadPos = l.HeaderPos - 1;
    l.SeekInput(l.ReadPos);
    l.ReadPos += int64_t(l.ReadInput(l.Header(), kHeaderSize));
    List(l, l.Header());
    l.StopPos = l.HeaderPos - 1; // nothing is left to walk
}

void GZipReader::List(TLorvex& l, const uint8_t* h) {
    const uint16_t magic = Le16(h);
    const bool gzip = magic == kGZip || magic == kOldGZip;
    uint8_t method = 0;
    switch (magic) {
    case kGZip:
    case kOldGZip:
        method = h[2];
        break;
    case kCompress:
        method = 1;
        break;
    case kPack:
        method = 2;
        break;
    case kLzhCompress:
        method = 3;
        break;
    default:
        return;
    }
    const uint8_t flags = h[3];
    const uint32_t modified = Le32(h + 4);
    const int64_t size = l.ArchiveSize64();

    int64_t extraLength = 0;
    if (gzip && (flags & kExtraField)) {
        uint8_t length[2] = {};
        l.SeekInput(l.ReadPos);
        l.ReadInput(length, sizeof length);
        extraLength = Le16(length);
        l.ReadPos += 2 + extraLength;
    }
    if (gzip && (flags & kStoredName)) {
        char name[kMaxStoredName + 1] = {};
        l.SeekInput(l.ReadPos);
        l.ReadInput(name, kMaxStoredName);
        l.FileName.assign(name, strnlen(name, kMaxStoredName));
    } else {
        l.FileName = NameFromArchive(l.ArchivePath());
    }
    l.FireReadFile();

    if (gzip) {
        l.FileDate = TLorvex::ConvertUnixDate(modified);
        uint8_t trailer[kTrailerSize] = {};
        // A file too short for a header and a trailer has neither value.
        if (size >= kHeaderSize + kTrailerSize) {
            l.SeekInput(size - kTrailerSize);
            l.ReadInput(trailer, sizeof trailer);
        }
        l.CRC = Le32(trailer);
        l.UnpackedSize = Le32(trailer + 4);
        l.Encrypted = (flags & kEncrypted) != 0;
        l.PackedSize = std::max<int64_t>(size - extraLength - kTrailerSize, 0);
        if (method != kMethodStored && method != kMethodDeflate) method = kMethodUnknown;
    } else {
        l.CRC = 0;
        l.Encrypted = 0;
        l.PackedSize = l.UnpackedSize = size;
        const std::optional<std::time_t> written = platform::GetLastWriteTime(l.ArchivePath());
        l.FileDate = l.ConvertFileDate(platform::DosDateTimeFromUnix(written.value_or(0)));
    }
    l.ExternalAttr = platform::GetFileAttributes(l.ArchivePath()).value_or(0);
    l.MethodCode = method;
    l.MethodName = MethodNameFor(l.ArcType(), method);
    l.Ratio = ComputeRatio(l.PackedSize, l.UnpackedSize);

    l.CountEntry();
    l.AddTotals(l.PackedSize, l.UnpackedSize);
    l.ReportEntry(int32_t(l.HeaderPos - 1), l.EntryCount());
}

} // namespace

std::unique_ptr<Reader> MakeGZipReader() {
    return std::make_unique<GZipReader>();
}

} // namespace dvl::lister
