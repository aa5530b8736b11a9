// LHA/LZH: a chain of headers, each followed by its entry's data, compressed
// alone. Every entry is decoded from its own data; the chain ends at a zero
// byte, at the file's end or at a header that does not hold.
#include "archive/extract/lha_source.h"

#include "archive/codecs/lzh.h"
#include "archive/errors.h"
#include "archive/extract/file_reader.h"
#include "archive/formats/lha_header.h"
#include "archive/text.h"
#include "platform/file.h"
#include "platform/times.h"

#include <algorithm>
#include <string_view>

namespace dvl::extract {

namespace {

using formats::LhaHeader;
using formats::LhaParse;

constexpr uint32_t kAttributeMask = 0x27; // read-only, hidden, system, archive
constexpr uint32_t kReadOnly = 0x01;
constexpr uint16_t kOwnerWrite = 0200;
constexpr uint8_t kAmiga = 'A';
constexpr uint8_t kAmigaWriteDenied = 0x04; // the protection bits' "w", set when denied

// Amiga archivers store the protection bits where MS-DOS ones would be: of
// them only a denied write means anything here (read-only).
uint32_t AmigaAttributes(uint8_t protection) {
    return 0x20 | ((protection & kAmigaWriteDenied) ? kReadOnly : 0);
}

class FileInput final : public formats::LhaInput {
public:
    FileInput(platform::File& file, int64_t size) : file_(file), size_(size) {}

    size_t ReadAt(int64_t offset, uint8_t* buffer, size_t n) override {
        if (offset < 0 || offset >= size_) return 0;
        try {
            file_.Seek(offset);
            return file_.Read(buffer, n);
        } catch (const platform::IoError&) {
            return 0;
        }
    }
    int64_t Size() const override { return size_; }

private:
    platform::File& file_;
    int64_t size_;
};

bool IsStored(std::string_view method) {
    return method == "-lh0-" || method == "-lz4-" || method == "-pm0-";
}

// The -lh4- to -lh7- family: the digit names the window and position table.
bool IsLzhStatic(std::string_view method) {
    return method.substr(0, 3) == "-lh" && method[3] >= '4' && method[3] <= '7';
}

DataEnd Decode(std::string_view method, codecs::ByteSource& reader, codecs::ByteSink& sink,
               uint64_t size) {
    if (IsStored(method)) return DataEndOf(CopyStored(reader, sink, size));
    if (IsLzhStatic(method))
        return DataEndOf(
            codecs::DecodeLzhStatic(reader, sink, size, codecs::LhaStaticVariant(method[3] - '0')));
    if (method == "-lh1-") return DataEndOf(codecs::DecodeLzhDynamic(reader, sink, size));
    if (method == "-lzs-") return DataEndOf(codecs::DecodeLzs(reader, sink, size));
    if (method == "-lz5-") return DataEndOf(codecs::DecodeLz5(reader, sink, size));
    return DataEnd::Unsupported;
}

// The name as the lister gives it: the Unicode path where the header has
// one, else the stored path in the archive's code page.
std::string EntryName(const LhaHeader& h) {
    const std::string unicode = formats::LhaUnicodePath(h);
    std::string name = unicode.empty() ? OemToAnsiName(formats::LhaStoredPath(h)) : unicode;
    while (h.folder && !name.empty() && name.back() == '\\')
        name.pop_back();
    return name;
}

Entry MakeEntry(const LhaHeader& h) {
    Entry e;
    e.name = EntryName(h);
    e.kind = h.folder         ? EntryKind::Folder
             : h.symbolicLink ? EntryKind::SymbolicLink
                              : EntryKind::File;
    if (h.symbolicLink) e.linkTarget = OemToAnsiName(h.linkTarget);
    e.packedSize = h.packedSize;
    e.method = h.method;
    if (e.kind == EntryKind::File) {
        e.size = h.originalSize;
        if (h.dataCrc) {
            e.check = CheckKind::Crc16;
            e.checkValue = *h.dataCrc;
        }
    }
    if (h.unixTime)
        e.modified = std::time_t(*h.unixTime);
    else if (const auto dos = platform::UnixFromDosDateTime(h.dosTime))
        e.modified = *dos;
    e.attributes = h.osId == kAmiga ? AmigaAttributes(h.attribute) : h.attribute & kAttributeMask;
    if (h.unixMode) {
        e.unixMode = *h.unixMode & 0777;
        if (!(*h.unixMode & kOwnerWrite)) e.attributes |= kReadOnly;
    }
    return e;
}

class LhaSource final : public EntrySource {
public:
    LhaSource(std::string path, int64_t start) : path_(std::move(path)), start_(start) {}

    void Walk(EntryVisitor& visitor) override {
        platform::File file;
        int64_t size = 0;
        try {
            if (file.OpenRead(path_)) size = file.Size();
        } catch (const platform::IoError&) {
            file.Close();
        }
        if (!file.IsOpen()) {
            visitor.ArchiveError(kErrOpeningFile);
            return;
        }
        FileInput input(file, size);
        for (int64_t at = start_; at < size && !visitor.Cancelled();) {
            LhaHeader h;
            switch (formats::ParseLhaHeader(input, at, h)) {
            case LhaParse::End:
                return;
            case LhaParse::Truncated:
                visitor.ArchiveError(kErrUnexpectedEnd);
                return;
            case LhaParse::NotHeader:
                visitor.ArchiveError(kErrBadFileHeader);
                return;
            case LhaParse::Ok:
                break;
            }
            // A header whose checksum or extended headers do not hold may
            // name anything: nothing of it is trusted.
            if (!h.checksumMatches || !h.extendedIntact) {
                visitor.ArchiveError(kErrBadFileHeader);
                return;
            }
            Deliver(file, h, visitor);
            at = h.nextHeader;
        }
    }

private:
    void Deliver(platform::File& file, const LhaHeader& h, EntryVisitor& visitor) {
        const Entry entry = MakeEntry(h);
        codecs::ByteSink* sink = visitor.Begin(entry);
        const int64_t room = std::max<int64_t>(0, INT64_MAX - h.dataOffset);
        const int64_t end =
            h.dataOffset + int64_t(std::min<uint64_t>(h.packedSize, uint64_t(room)));
        if (!sink || entry.kind != EntryKind::File) {
            const bool cut = entry.kind == EntryKind::File && end > FileSize(file);
            visitor.End(entry, cut ? DataEnd::Truncated : DataEnd::Complete);
            return;
        }
        FileReader reader(file, &visitor, h.dataOffset, end);
        visitor.End(entry, Decode(h.method, reader, *sink, h.originalSize));
    }

    static int64_t FileSize(platform::File& file) {
        try {
            return file.Size();
        } catch (const platform::IoError&) {
            return 0;
        }
    }

    std::string path_;
    int64_t start_;
};

} // namespace

std::unique_ptr<EntrySource> MakeLhaSource(const std::string& archivePath, int64_t start) {
    return std::make_unique<LhaSource>(archivePath, start);
}

} // namespace dvl::extract
