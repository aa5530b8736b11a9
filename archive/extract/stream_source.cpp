// Archives that are one stream: a TAR file, and the single-stream compressors
// (gzip, compress, pack, bzip2, XZ, LZMA-alone, Zstandard). A compressed
// stream that holds a TAR is that TAR to the user: its members are the
// entries, read as the decompressor produces them. Any other compressed
// stream is one entry, named by the stored name (gzip) or by the archive's
// name without its suffix.
#include "archive/extract/stream_source.h"

#include "archive/bytes.h"
#include "archive/codecs/crc32.h"
#include "archive/codecs/inflate.h"
#include "archive/codecs/lzw.h"
#include "archive/codecs/pack.h"
#include "archive/codecs/stream_libraries.h"
#include "archive/errors.h"
#include "archive/extract/file_reader.h"
#include "archive/extract/tar_stream.h"
#include "archive/formats/gzip_header.h"
#include "archive/formats/tar_header.h"
#include "archive/text.h"
#include "platform/file.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <optional>
#include <vector>

namespace dvl::extract {

namespace {

constexpr size_t kHeaderWindow = 64 * 1024;
constexpr size_t kTrailerSize = 8;

// Counts and folds into a CRC what passes to another sink.
class CrcSink final : public codecs::ByteSink {
public:
    explicit CrcSink(codecs::ByteSink& out) : out_(out) {}
    bool Write(const uint8_t* data, size_t n) override {
        crc_ = codecs::CrcUpdate(crc_, data, n);
        size_ += n;
        if (!out_.Write(data, n)) refused_ = true;
        return !refused_;
    }
    uint32_t Crc() const { return ~crc_; }
    uint64_t Size() const { return size_; }
    bool Refused() const { return refused_; }

private:
    codecs::ByteSink& out_;
    uint32_t crc_ = 0xFFFFFFFF;
    uint64_t size_ = 0;
    bool refused_ = false;
};

size_t ReadAt(platform::File& file, int64_t position, std::vector<uint8_t>& buffer, size_t n) {
    buffer.resize(n);
    try {
        file.Seek(position);
        buffer.resize(file.Read(buffer.data(), n));
    } catch (const platform::IoError&) {
        buffer.clear();
    }
    return buffer.size();
}

// Every member of a gzip file, each checked against its CRC and size.
codecs::DecodeStatus DecodeGzip(platform::File& file, FileReader& reader, codecs::ByteSink& out) {
    codecs::Inflater inflater;
    std::vector<uint8_t> bytes;
    int64_t position = reader.Position();
    for (bool first = true;; first = false) {
        ReadAt(file, position, bytes, kHeaderWindow);
        if (bytes.empty())
            return first ? codecs::DecodeStatus::Truncated : codecs::DecodeStatus::Ok;
        formats::GzipHeader header;
        switch (formats::ParseGzipHeader(bytes, header)) {
        case formats::GzipParse::Ok:
            break;
        case formats::GzipParse::NeedMore:
            return codecs::DecodeStatus::Truncated;
        case formats::GzipParse::NotGzip:
            // Bytes after the last member (padding) are not another member.
            return first ? codecs::DecodeStatus::Corrupt : codecs::DecodeStatus::Ok;
        case formats::GzipParse::BadHeaderCrc:
            return codecs::DecodeStatus::Corrupt;
        }
        if (header.method != 8 || (header.flags & formats::kGzipEncrypted))
            return codecs::DecodeStatus::Corrupt;
        reader.MoveTo(position + int64_t(header.size));
        CrcSink crc(out);
        const codecs::InflateResult result = inflater.Inflate(reader, crc);
        if (crc.Refused()) return codecs::DecodeStatus::WriteFailed;
        const int64_t trailer = position + int64_t(header.size) + int64_t(result.consumed);
        if (result.error != 0)
            return trailer >= reader.End() ? codecs::DecodeStatus::Truncated
                                           : codecs::DecodeStatus::Corrupt;
        if (ReadAt(file, trailer, bytes, kTrailerSize) < kTrailerSize)
            return codecs::DecodeStatus::Truncated;
        if (Le32(bytes.data()) != crc.Crc() || Le32(bytes.data() + 4) != uint32_t(crc.Size()))
            return codecs::DecodeStatus::Corrupt;
        position = trailer + int64_t(kTrailerSize);
        if (position >= reader.End()) return codecs::DecodeStatus::Ok;
    }
}

// Takes a decompressor's output: its first block tells a TAR (its header
// checksum holds) from any other data, which is the one entry.
class StreamRouter final : public codecs::ByteSink {
public:
    StreamRouter(EntryVisitor& visitor, Entry single)
        : visitor_(visitor), single_(std::move(single)) {}

    bool Write(const uint8_t* data, size_t n) override {
        if (!decided_) {
            const size_t take = std::min(n, formats::kTarBlock - first_.size());
            first_.insert(first_.end(), data, data + take);
            data += take;
            n -= take;
            if (first_.size() < formats::kTarBlock) return true;
            if (!Decide()) return false;
        }
        return n == 0 || Pass(data, n);
    }

    // The decompressor ended with `status`.
    void Finish(codecs::DecodeStatus status) {
        if (!decided_ && !Decide()) return;
        if (tar_) {
            // A TAR stopped by its own damage or a cancel has said so.
            if (status == codecs::DecodeStatus::WriteFailed) return;
            const DataEnd end = DataEndOf(status);
            const bool reported = tar_->Finish(end == DataEnd::Complete ? DataEnd::Truncated : end);
            if (reported) return;
            if (end == DataEnd::Corrupt) visitor_.ArchiveError(kErrBadBlock);
            if (end == DataEnd::Truncated) visitor_.ArchiveError(kErrUnexpectedEnd);
            // A stream without the TAR's end lost what came after it.
            if (end == DataEnd::Complete && !tar_->EndReached())
                visitor_.ArchiveError(kErrUnexpectedEnd);
            return;
        }
        if (!entryOpen_) return;
        entryOpen_ = false;
        visitor_.End(single_, refused_ ? DataEnd::Stopped : DataEndOf(status));
    }

private:
    bool Decide() {
        decided_ = true;
        if (first_.size() == formats::kTarBlock && formats::TarChecksumValid(first_.data())) {
            tar_.emplace(visitor_);
        } else {
            sink_ = visitor_.Begin(single_);
            entryOpen_ = true;
        }
        return first_.empty() || Pass(first_.data(), first_.size());
    }

    bool Pass(const uint8_t* data, size_t n) {
        // After the TAR's end the rest of the stream is still decoded, so
        // that its check covers the members read.
        if (tar_) return tar_->Write(data, n) || (tar_->EndReached() && !visitor_.Cancelled());
        if (!sink_ || refused_) return !visitor_.Cancelled();
        if (!sink_->Write(data, n)) refused_ = true;
        return !refused_;
    }

    EntryVisitor& visitor_;
    Entry single_;
    std::vector<uint8_t> first_;
    bool decided_ = false, entryOpen_ = false, refused_ = false;
    std::optional<TarStream> tar_;
    codecs::ByteSink* sink_ = nullptr;
};

std::string NameWithoutSuffix(const std::string& archivePath) {
    std::string name = ExtractFileName(archivePath);
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0) name.resize(dot);
    return name;
}

// LZMA-alone has no magic: a properties byte, a dictionary size as encoders
// write them (2^n or 2^n + 2^(n-1), 4 KiB to 1 GiB) and an unpacked size that
// is unknown (all bits set) or below 256 GiB. Programs and other data with a
// zero near their start would pass a looser test.
bool LooksLikeLzmaAlone(const uint8_t* head) {
    if (head[0] >= 225) return false;
    const uint32_t dictionary = Le32(head + 1);
    if (dictionary < (1u << 12) || dictionary > (1u << 30)) return false;
    const uint32_t highBit = uint32_t(1) << (31 - std::countl_zero(dictionary));
    if (dictionary != highBit && dictionary != highBit + (highBit >> 1)) return false;
    const uint64_t size = Le32(head + 5) | uint64_t(Le32(head + 9)) << 32;
    return size == ~uint64_t(0) || size < (uint64_t(1) << 38);
}

StreamKind KindOf(const std::vector<uint8_t>& head) {
    const auto starts = [&](std::initializer_list<uint8_t> magic) {
        return head.size() >= magic.size() && std::equal(magic.begin(), magic.end(), head.begin());
    };
    if (starts({0x1F, 0x8B}) || starts({0x1F, 0x9E})) return StreamKind::Gzip;
    if (starts({0x1F, 0x9D})) return StreamKind::Compress;
    if (starts({0x1F, 0x1E})) return StreamKind::Pack;
    if (starts({0x1F, 0xA0})) return StreamKind::LzhCompress;
    if (starts({'B', 'Z', 'h'}) && head.size() > 3 && head[3] >= '1' && head[3] <= '9')
        return StreamKind::Bzip2;
    if (starts({0xFD, '7', 'z', 'X', 'Z', 0x00})) return StreamKind::Xz;
    if (starts({0x28, 0xB5, 0x2F, 0xFD})) return StreamKind::Zstd;
    // A TAR header's checksum is firmer evidence than the LZMA guess below
    // (a member named "20230101.log" fits it).
    if (head.size() >= formats::kTarBlock && formats::TarChecksumValid(head.data()))
        return StreamKind::Tar;
    if (head.size() >= 13 && LooksLikeLzmaAlone(head.data())) return StreamKind::LzmaAlone;
    return StreamKind::None;
}

const char* MethodName(StreamKind kind) {
    switch (kind) {
    case StreamKind::Gzip:
        return "Deflate";
    case StreamKind::Compress:
        return "Compress";
    case StreamKind::Pack:
        return "Packed";
    case StreamKind::Bzip2:
        return "BZip2";
    case StreamKind::Xz:
        return "XZ";
    case StreamKind::LzmaAlone:
        return "LZMA";
    case StreamKind::Zstd:
        return "Zstandard";
    default:
        return "Stored";
    }
}

class StreamSource final : public EntrySource {
public:
    codecs::DecodeStatus DecodeInto(platform::File& file, FileReader& reader,
                                    codecs::ByteSink& out) const;

    StreamSource(std::string path, int64_t start, StreamKind kind)
        : path_(std::move(path)), start_(start), kind_(kind) {}

    void Walk(EntryVisitor& visitor) override {
        platform::File file;
        if (!file.OpenRead(path_)) {
            visitor.ArchiveError(kErrOpeningFile);
            return;
        }
        FileReader reader(file, &visitor, start_);
        if (kind_ == StreamKind::Tar) {
            WalkTar(reader, visitor);
            return;
        }
        Entry single;
        single.name = SingleName(file);
        single.method = MethodName(kind_);
        single.packedSize = uint64_t(std::max<int64_t>(reader.End() - start_, 0));
        StreamRouter router(visitor, single);
        router.Finish(DecodeInto(file, reader, router));
    }

private:
    static void WalkTar(FileReader& reader, EntryVisitor& visitor) {
        TarStream tar(visitor);
        for (std::span<const uint8_t> chunk; !(chunk = reader.Next()).empty();)
            if (!tar.Write(chunk.data(), chunk.size())) break;
        const bool reported = tar.Finish();
        if (!tar.SawHeader())
            visitor.ArchiveError(kErrBadFileHeader);
        else if (!reported && !tar.EndReached() && !visitor.Cancelled())
            visitor.ArchiveError(kErrUnexpectedEnd); // cut at a member's end
        if (reader.Failed()) visitor.ArchiveError(kErrReadingFile);
    }

    std::string SingleName(platform::File& file) const {
        if (kind_ == StreamKind::Gzip) {
            std::vector<uint8_t> bytes;
            ReadAt(file, start_, bytes, kHeaderWindow);
            formats::GzipHeader header;
            if (formats::ParseGzipHeader(bytes, header) == formats::GzipParse::Ok &&
                !header.name.empty())
                return SlashToBackslash(header.name);
        }
        return NameWithoutSuffix(path_);
    }

    std::string path_;
    int64_t start_;
    StreamKind kind_;
};

codecs::DecodeStatus StreamSource::DecodeInto(platform::File& file, FileReader& reader,
                                              codecs::ByteSink& out) const {
    switch (kind_) {
    case StreamKind::Gzip:
        return DecodeGzip(file, reader, out);
    case StreamKind::Compress:
        return codecs::DecodeCompress(reader, out);
    case StreamKind::Pack:
        return codecs::DecodePack(reader, out);
    case StreamKind::Bzip2:
        return codecs::DecodeBzip2(reader, out);
    case StreamKind::Xz:
    case StreamKind::LzmaAlone:
        return codecs::DecodeXz(reader, out);
    case StreamKind::Zstd:
        return codecs::DecodeZstd(reader, out);
    default:
        return codecs::DecodeStatus::Corrupt;
    }
}

} // namespace

StreamKind DetectStream(const std::string& archivePath, int64_t start) {
    platform::File file;
    if (!file.OpenRead(archivePath)) return StreamKind::None;
    std::vector<uint8_t> head;
    ReadAt(file, start, head, formats::kTarBlock);
    return KindOf(head);
}

bool StreamHoldsTar(const std::string& archivePath, int64_t start) {
    const StreamKind kind = DetectStream(archivePath, start);
    if (kind == StreamKind::Tar) return true;
    if (kind == StreamKind::None || kind == StreamKind::LzhCompress) return false;
    // The first block of the decoded stream tells.
    struct FirstBlock final : codecs::ByteSink {
        std::vector<uint8_t> bytes;
        bool Write(const uint8_t* data, size_t n) override {
            const size_t take = std::min(n, formats::kTarBlock - bytes.size());
            bytes.insert(bytes.end(), data, data + take);
            return bytes.size() < formats::kTarBlock;
        }
    } first;
    platform::File file;
    if (!file.OpenRead(archivePath)) return false;
    FileReader reader(file, nullptr, start);
    StreamSource(archivePath, start, kind).DecodeInto(file, reader, first);
    return first.bytes.size() == formats::kTarBlock &&
           formats::TarChecksumValid(first.bytes.data());
}

std::unique_ptr<EntrySource> MakeStreamSource(const std::string& archivePath, int64_t start,
                                              StreamKind kind) {
    if (kind == StreamKind::None || kind == StreamKind::LzhCompress) return nullptr;
    return std::make_unique<StreamSource>(archivePath, start, kind);
}

} // namespace dvl::extract
