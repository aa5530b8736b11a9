// ZOO archives: the archive header points at a chain of directory entries,
// each pointing at the next and at its file's data (stored, LZW or the LZH
// of -lh5-), checked by CRC-16. Older generations of a file stay in the chain
// marked deleted and are passed over.
#include "archive/extract/zoo_source.h"

#include "archive/codecs/lzh.h"
#include "archive/codecs/lzw.h"
#include "archive/errors.h"
#include "archive/extract/file_reader.h"
#include "archive/formats/zoo_header.h"
#include "archive/lister/method_names.h"
#include "archive/text.h"
#include "platform/file.h"
#include "platform/times.h"

#include <vector>

namespace dvl::extract {

namespace {

enum Method : uint8_t { kStored = 0, kLzw = 1, kLzh = 2 };

constexpr codecs::LzwVariant kZooLzw{
    .initialBits = 9, .maxBits = 13, .clearCode = 256, .endCode = 257, .firstFree = 258};

class ZooSource final : public EntrySource {
public:
    ZooSource(std::string path, int64_t start) : path_(std::move(path)), start_(start) {}

    void Walk(EntryVisitor& visitor) override {
        visitor_ = &visitor;
        int64_t size = 0;
        std::vector<uint8_t> bytes;
        formats::ZooArchiveHeader header;
        if (!file_.OpenRead(path_) || !Read(start_, formats::kZooHeaderRead, bytes, size) ||
            formats::ParseZooArchiveHeader(bytes, header) != formats::ZooParse::Ok ||
            !header.tagMatches) {
            visitor.ArchiveError(kErrBadFileHeader);
            return;
        }
        // Each entry must lie after the one before it: the chain cannot loop.
        int64_t previous = -1;
        for (int64_t pos = header.firstEntry; !visitor.Cancelled();) {
            formats::ZooEntry entry;
            if (pos <= previous || pos >= size) {
                visitor.ArchiveError(kErrBadFileHeader);
                return;
            }
            if (!Read(pos, formats::kZooEntryRead, bytes, size) ||
                formats::ParseZooEntry(bytes, entry) != formats::ZooParse::Ok) {
                visitor.ArchiveError(kErrUnexpectedEnd);
                return;
            }
            // The entry that closes the chain carries no check value.
            const bool closing = entry.tagMatches && entry.next == 0;
            if (closing) return;
            if (!entry.tagMatches || !entry.crcMatches) {
                visitor.ArchiveError(kErrBadFileHeader);
                return;
            }
            if (!entry.deleted) Extract(entry);
            previous = pos;
            pos = entry.next;
        }
    }

private:
    // Up to n bytes at `pos`; `size` becomes the file's size.
    bool Read(int64_t pos, size_t n, std::vector<uint8_t>& bytes, int64_t& size) {
        bytes.resize(n);
        try {
            size = file_.Size();
            file_.Seek(pos);
            bytes.resize(file_.Read(bytes.data(), n));
        } catch (const platform::IoError&) {
            return false;
        }
        return true;
    }

    static Entry MakeEntry(const formats::ZooEntry& e) {
        Entry entry;
        const std::string& name = e.longName.empty() ? e.shortName : e.longName;
        entry.name = OemToAnsiName(
            e.directory.empty() ? name : AddBackslash(SlashToBackslash(e.directory)) + name);
        entry.size = e.originalSize;
        entry.packedSize = e.packedSize;
        entry.check = CheckKind::Crc16;
        entry.checkValue = e.crc;
        entry.method = lister::MethodNameFor(atZOO, e.method);
        if (const auto unix = platform::UnixFromDosDateTime(SwapHalves(e.dateTime)))
            entry.modified = *unix;
        if (e.unixMode) {
            entry.unixMode = *e.unixMode;
            entry.attributes = (*e.unixMode & 0200) ? 0x20 : 0x21;
        }
        return entry;
    }

    void Extract(const formats::ZooEntry& e) {
        const Entry entry = MakeEntry(e);
        codecs::ByteSink* sink = visitor_->Begin(entry);
        if (!sink) {
            visitor_->End(entry, DataEnd::Complete);
            return;
        }
        FileReader in(file_, visitor_, e.dataAt, int64_t(e.dataAt) + e.packedSize);
        switch (e.method) {
        case kStored:
            visitor_->End(entry, DataEndOf(CopyStored(in, *sink, e.packedSize)));
            return;
        case kLzw:
            visitor_->End(entry, DataEndOf(codecs::DecodeLzw(in, *sink, kZooLzw)));
            return;
        case kLzh:
            visitor_->End(entry, DataEndOf(codecs::DecodeLzhStatic(in, *sink, e.originalSize,
                                                                   codecs::LhaStaticVariant(5))));
            return;
        default:
            visitor_->End(entry, DataEnd::Unsupported);
            return;
        }
    }

    std::string path_;
    int64_t start_;
    platform::File file_;
    EntryVisitor* visitor_ = nullptr;
};

} // namespace

std::unique_ptr<EntrySource> MakeZooSource(const std::string& archivePath, int64_t start) {
    return std::make_unique<ZooSource>(archivePath, start);
}

} // namespace dvl::extract
