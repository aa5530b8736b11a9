// RAR (the format before version 5): a marker block, the main header, then
// blocks each with a header size and, for long blocks, an added data size.
// File headers name the entries; every other block is stepped over. The
// marker decides between this walk and the later format's.
#include "archive/bytes.h"
#include "archive/dates.h"
#include "archive/lister/lorvex.h"
#include "archive/lister/method_names.h"
#include "archive/lister/rar_entry.h"
#include "platform/file.h"

#include <algorithm>
#include <string>
#include <string_view>

namespace dvl::lister {

namespace {

constexpr int kHeaderSize = 32;
constexpr int64_t kMainHeaderSize = 13, kCommentBlockSize = 13;
constexpr int64_t kMinBlockSize = 7;
constexpr uint8_t kFileBlock = 0x74, kEndBlock = 0x7B;

enum RarFlags : uint16_t {
    kMainEncryptedHeaders = 0x0080,
    kFileEncrypted = 0x0004,
    kFileComment = 0x0008,
    kFileLargeSizes = 0x0100,
    kFileUnicodeName = 0x0200,
    kFileDirectoryMask = 0x00E0,
    kFileOldService = 0x4000,
    kLongBlock = 0x8000,
};

// The Unicode form stored after the plain name and its zero byte: a high byte,
// then groups of four operations chosen by two bits of a flag byte that copy
// or extend bytes of the plain name. UTF-8 text; empty when it is damaged.
std::string DecodeUnicodeName(std::string_view plain, std::string_view encoded) {
    std::u16string wide;
    size_t in = 0;
    auto next = [&](uint8_t& b) {
        if (in >= encoded.size()) return false;
        b = uint8_t(encoded[in++]);
        return true;
    };
    uint8_t high = 0, flags = 0, b1 = 0, b2 = 0;
    if (!next(high)) return {};
    int flagBits = 0;
    while (in < encoded.size()) {
        if (flagBits == 0) {
            if (!next(flags)) break;
            flagBits = 8;
        }
        flagBits -= 2;
        switch ((flags >> flagBits) & 3) {
        case 0:
            if (!next(b1)) return {};
            wide += char16_t(b1);
            break;
        case 1:
            if (!next(b1)) return {};
            wide += char16_t(b1 | (high << 8));
            break;
        case 2:
            if (!next(b1) || !next(b2)) return {};
            wide += char16_t(b1 | (b2 << 8));
            break;
        default: {
            if (!next(b1)) return {};
            uint8_t correction = 0;
            if ((b1 & 0x80) && !next(correction)) return {};
            for (int n = (b1 & 0x7F) + 2; n > 0; --n) {
                const size_t at = wide.size();
                if (at >= plain.size()) return {};
                const uint8_t c = uint8_t(plain[at]);
                wide +=
                    (b1 & 0x80) ? char16_t(((c + correction) & 0xFF) | (high << 8)) : char16_t(c);
            }
        }
        }
    }
    std::string text;
    for (char16_t c : wide) {
        if (c == 0) break;
        AppendUtf8(text, c == '/' ? '\\' : c);
    }
    return text;
}

class RarReader final : public Reader {
public:
    void Prepare(TLorvex& l) override;
    void Step(TLorvex& l) override;
    // Archives of this format need not end in an end block; one whose last
    // block runs past the end of the file was cut.
    void Finish(TLorvex& l) override {
        if (!ended_ && l.ReadPos > l.StopPos)
            l.ReportError(l.ArchivePath(), "0", kErrUnexpectedEnd);
    }

private:
    bool ended_ = false; // at the end block, or at headers that cannot be walked
};

void RarReader::Prepare(TLorvex& l) {
    l.SetHeaderSize(kHeaderSize);
    const int64_t marker = l.StartOffset() - 1;
    uint8_t main[kRarMarkerSize + kMainHeaderSize] = {};
    try {
        l.SeekInput(marker);
    } catch (const platform::IoError&) {
        l.RaiseError(l.ArchivePath(), "0", kErrOpeningFile);
    }
    if (l.ReadInput(main, sizeof main) < sizeof main)
        l.RaiseError(l.ArchivePath(), "0", kErrReadingFile);
    const uint8_t* h = main + kRarMarkerSize;
    const uint16_t flags = Le16(h + 3), size = Le16(h + 5);
    // Encrypted headers, and the later format's headers, cannot be walked.
    if (main[6] == kRar5MarkerByte || (flags & kMainEncryptedHeaders)) {
        l.HeaderPos = l.StopPos + 1;
        ended_ = true;
        return;
    }
    const int64_t mainAt = marker + kRarMarkerSize;
    if (size > kMainHeaderSize) {
        l.ArchiveComment = std::make_unique<std::string>(kRarCommentNotice);
        l.HeaderPos = mainAt + size + 1;
    } else {
        l.HeaderPos = mainAt + kMainHeaderSize + 1;
    }
}

void RarReader::Step(TLorvex& l) {
    const uint8_t* h = l.Header();
    const int64_t start = l.HeaderPos - 1;
    const uint8_t type = h[2];
    const uint16_t flags = Le16(h + 3), headerSize = Le16(h + 5);
    if (headerSize < kMinBlockSize || type == kEndBlock) {
        ended_ = type == kEndBlock;
        l.EndWalk();
        return;
    }
    if (type != kFileBlock || (flags & kFileOldService)) {
        const int64_t added = (flags & kLongBlock) ? Le32(h + 7) : 0;
        l.ReadPos = start + headerSize + added;
        return;
    }

    int64_t packed = Le32(h + 7), unpacked = Le32(h + 11);
    int64_t nameAt = start + kHeaderSize;
    if (flags & kFileLargeSizes) {
        uint8_t high[8] = {};
        l.SeekInput(nameAt);
        l.ReadInput(high, sizeof high);
        packed |= int64_t(Le32(high)) << 32;
        unpacked |= int64_t(Le32(high + 4)) << 32;
        nameAt += sizeof high;
    }
    const uint16_t nameSize = Le16(h + 26);
    // The name lies within the header; one that does not is damage, and
    // reading it for every few bytes of a file would take very long.
    if (nameAt + nameSize > start + headerSize) {
        l.EndWalk();
        return;
    }
    const uint32_t attributes = Le32(h + 28);
    l.ReadPos = nameAt;
    const std::string stored = l.ReadCountedName(nameSize);
    const size_t zero = std::min(stored.find('\0'), stored.size());
    const std::string plain = stored.substr(0, zero);
    std::string unicode;
    if ((flags & kFileUnicodeName) && zero < stored.size())
        unicode = DecodeUnicodeName(plain, std::string_view(stored).substr(zero + 1));
    if (!unicode.empty())
        l.FileName = unicode;
    else
        l.SetEntryName(plain);
    l.FireReadFile();
    if ((flags & kFileComment) && nameAt + nameSize + kCommentBlockSize <= start + headerSize) {
        uint8_t block[kCommentBlockSize] = {};
        l.SeekInput(l.ReadPos);
        l.ReadPos += int64_t(l.ReadInput(block, sizeof block));
        l.SeekInput(l.ReadPos);
        l.ReadComment(Le16(block + 7), l.FileComment);
    }
    l.ReadPos = start + headerSize + packed;

    ReportRarEntry(l, {.start = start,
                       .packed = packed,
                       .unpacked = unpacked,
                       .date = l.ConvertFileDate(Le32(h + 20)),
                       .unpackVersion = h[24],
                       .method = h[25],
                       .crc = Le32(h + 16),
                       .attributes = attributes,
                       .encrypted = (flags & kFileEncrypted) != 0,
                       .directory = (flags & kFileDirectoryMask) == kFileDirectoryMask ||
                                    (attributes & kRarDirectoryAttribute)});
}

// Reads the marker and hands the walk to the reader of its format.
class RarFormatSwitch final : public Reader {
public:
    void Prepare(TLorvex& l) override {
        static constexpr uint8_t kRar5Marker[kRar5MarkerSize] = {0x52, 0x61, 0x72, 0x21,
                                                                 0x1A, 0x07, 0x01, 0x00};
        uint8_t marker[kRar5MarkerSize] = {};
        const int64_t at = l.StartOffset() - 1;
        if (at >= 0) {
            l.SeekInput(at);
            l.ReadInput(marker, sizeof marker);
        }
        if (std::equal(marker, marker + kRar5MarkerSize, kRar5Marker))
            chosen_ = MakeRar5Reader();
        else
            chosen_ = std::make_unique<RarReader>();
        chosen_->Prepare(l);
    }
    void Step(TLorvex& l) override { chosen_->Step(l); }
    void Finish(TLorvex& l) override { chosen_->Finish(l); }

private:
    std::unique_ptr<Reader> chosen_;
};

} // namespace

void ReportRarEntry(TLorvex& l, const RarEntry& e) {
    constexpr uint32_t kArchiveAttribute = 0x20;
    if (!(e.directory && l.ShowBlankDirs()) && !l.MatchesSpec()) return;
    l.CountEntry();
    l.AddTotals(e.packed, e.unpacked);
    l.FileDate = e.date;
    l.VersionMadeBy = e.unpackVersion;
    l.VersionNeeded = 0;
    l.PackedSize = e.packed;
    l.UnpackedSize = e.unpacked;
    l.CRC = e.crc;
    l.Encrypted = e.encrypted;
    l.MethodCode = e.method;
    l.MethodName = MethodNameFor(
        l.ArcType(), e.method, {.attributes = e.directory ? kRarDirectoryAttribute : e.attributes});
    l.InternalAttr = kArchiveAttribute;
    l.ExternalAttr = e.attributes;
    l.Ratio = ComputeRatio(e.packed, e.unpacked);
    l.ReportEntry(int32_t(e.start), l.EntryCount());
}

std::unique_ptr<Reader> MakeRarReader() {
    return std::make_unique<RarFormatSwitch>();
}

} // namespace dvl::lister
