// ARJ archives and volume sets (base.arj, base.a01, base.a02 ...): a main
// header, then a local header before each file's data. A file that goes on in
// the next volume is split into parts, each compressed, garbled and checked
// on its own (its header gives the part's sizes, CRC-32 and position in the
// file); the parts are decoded in turn into the one entry, whose check value
// is their CRCs combined.
#include "archive/extract/arj_source.h"

#include "archive/codecs/crc32.h"
#include "archive/codecs/lzh.h"
#include "archive/errors.h"
#include "archive/extract/file_reader.h"
#include "archive/formats/arj_header.h"
#include "archive/lister/method_names.h"
#include "archive/text.h"
#include "platform/file.h"
#include "platform/times.h"

#include <cctype>
#include <memory>
#include <vector>

namespace dvl::extract {

namespace {

using formats::ArjHeader;
using formats::ArjHeaderKind;
using formats::ArjParse;

// A basic header and a trailer without extended headers fit in this; more is
// read only for a header that needs it.
constexpr size_t kFirstRead = 4096;
constexpr size_t kMaxHeaderRead = 1 << 20;
constexpr int kLastVolume = 999;
constexpr uint32_t kAttributeMask = 0x27; // read-only, hidden, system, archive

enum Method : uint8_t { kStored = 0, kLastStatic = 3, kFastest = 4 };

struct Volume {
    std::string path;
    platform::File file;
};

// A file's data in one volume.
struct Part {
    Volume* volume = nullptr;
    int64_t dataAt = 0;
    ArjHeader header;
};

ArjParse ReadHeader(platform::File& file, int64_t pos, ArjHeaderKind kind, ArjHeader& header) {
    std::vector<uint8_t> bytes;
    for (size_t want = kFirstRead;; want *= 2) {
        bytes.resize(want);
        try {
            file.Seek(pos);
            bytes.resize(file.Read(bytes.data(), bytes.size()));
        } catch (const platform::IoError&) {
            return ArjParse::Truncated;
        }
        const ArjParse parsed = formats::ParseArjHeader(bytes, kind, header);
        if (parsed != ArjParse::Truncated || bytes.size() < want || want >= kMaxHeaderRead)
            return parsed;
    }
}

// The classic garble: every byte XOR the password's next byte plus the
// header's modifier, the password starting over with each part.
class Ungarbled final : public codecs::ByteSource {
public:
    Ungarbled(codecs::ByteSource& in, const std::string& password, uint8_t modifier)
        : in_(in), password_(password), modifier_(modifier) {}

    std::span<const uint8_t> Next() override {
        const std::span<const uint8_t> chunk = in_.Next();
        buffer_.assign(chunk.begin(), chunk.end());
        for (uint8_t& byte : buffer_) {
            byte ^= uint8_t(uint8_t(password_[next_]) + modifier_);
            next_ = (next_ + 1) % password_.size();
        }
        return buffer_;
    }

private:
    codecs::ByteSource& in_;
    const std::string& password_;
    uint8_t modifier_;
    size_t next_ = 0;
    std::vector<uint8_t> buffer_;
};

// The number of a set's volume from its name: 0 for base.arj (or any other
// name), 1 for base.a01, 100 for base.100.
int VolumeNumberOf(const std::string& path) {
    const std::string ext = ExtractFileExt(path);
    if (ext.size() != 4 || !std::isdigit(uint8_t(ext[2])) || !std::isdigit(uint8_t(ext[3])))
        return 0;
    const int low = (ext[2] - '0') * 10 + (ext[3] - '0');
    if (ext[1] == 'a' || ext[1] == 'A') return low;
    return std::isdigit(uint8_t(ext[1])) ? (ext[1] - '0') * 100 + low : 0;
}

bool IsEntry(uint8_t fileType) {
    return fileType == formats::kArjBinary || fileType == formats::kArjText ||
           fileType == formats::kArjFolder;
}

class ArjSource final : public EntrySource {
public:
    ArjSource(std::string path, int64_t start, std::string password)
        : path_(std::move(path)), start_(start), password_(std::move(password)) {}

    void Walk(EntryVisitor& visitor) override {
        visitor_ = &visitor;
        auto first = std::make_unique<Volume>(Volume{path_, {}});
        if (!first->file.OpenRead(path_)) {
            visitor.ArchiveError(kErrOpeningFile);
            return;
        }
        ArjHeader main;
        const ArjParse parsed = ReadHeader(first->file, start_, ArjHeaderKind::Main, main);
        if (parsed != ArjParse::Ok || !main.crcMatches) {
            visitor.ArchiveError(kErrBadFileHeader);
            return;
        }
        encryptionVersion_ = main.encryptionVersion;
        volumeNumber_ = VolumeNumberOf(path_);
        volumes_.push_back(std::move(first));
        int64_t pos = start_ + int64_t(main.size);
        while (!visitor.Cancelled() && Step(pos)) {
            // Only the volume the walk goes on in stays open.
            volumes_.erase(volumes_.begin(), volumes_.end() - 1);
        }
    }

private:
    // The header at `pos` and its data; false when the walk ends.
    bool Step(int64_t& pos) {
        Volume& volume = *volumes_.back();
        ArjHeader h;
        const ArjParse parsed = ReadHeader(volume.file, pos, ArjHeaderKind::Local, h);
        if (parsed == ArjParse::End) return false;
        if (parsed != ArjParse::Ok || !h.crcMatches) {
            visitor_->ArchiveError(parsed == ArjParse::Truncated ? kErrUnexpectedEnd
                                                                 : kErrBadFileHeader);
            return false;
        }
        std::vector<Part> parts{{&volume, pos + int64_t(h.size), h}};
        pos = parts.back().dataAt + h.packedSize;
        if ((h.flags & formats::kArjExtendedFile) && h.partPosition != 0) {
            // The file began in a volume before this one.
            visitor_->ArchiveError(kErrPreviousVolume);
            return true;
        }
        const bool whole = !(h.flags & formats::kArjVolume) || FollowParts(parts, pos);
        if (IsEntry(h.fileType)) Extract(parts, whole);
        return whole;
    }

    // The name of volume n (1..999) beside the first: base.a01 .. base.a99,
    // base.100 .. base.999, the letter in the case of the first one's name.
    std::string VolumePath(int n) const {
        const std::string name = ExtractFileName(path_);
        const size_t dot = name.rfind('.');
        const std::string base = ExtractFilePath(path_) + name.substr(0, dot);
        const bool lower = dot != std::string::npos && dot + 1 < name.size() &&
                           std::islower(uint8_t(name[dot + 1]));
        const std::string number = std::to_string(n);
        if (n >= 100) return base + "." + number;
        return base + "." + (lower ? "a" : "A") + (n < 10 ? "0" : "") + number;
    }

    // The parts of a file in the volumes after the one holding parts[0];
    // `pos` moves past the last part found. False when a volume is missing
    // or does not go on with the file.
    bool FollowParts(std::vector<Part>& parts, int64_t& pos) {
        const std::string name = parts.front().header.name;
        uint64_t position = parts.front().header.originalSize;
        while (parts.back().header.flags & formats::kArjVolume) {
            if (volumeNumber_ >= kLastVolume) {
                visitor_->ArchiveError(kErrNextVolume);
                return false;
            }
            const std::string path = VolumePath(++volumeNumber_);
            auto volume = std::make_unique<Volume>(Volume{path, {}});
            if (!volume->file.OpenRead(path)) {
                visitor_->VolumeError(kErrFileNotFound, ExtractFileName(path));
                return false;
            }
            ArjHeader main, part;
            if (ReadHeader(volume->file, 0, ArjHeaderKind::Main, main) != ArjParse::Ok ||
                !main.crcMatches ||
                ReadHeader(volume->file, int64_t(main.size), ArjHeaderKind::Local, part) !=
                    ArjParse::Ok ||
                !part.crcMatches || !(part.flags & formats::kArjExtendedFile) ||
                part.partPosition != position || part.name != name) {
                visitor_->VolumeError(kErrBadFileHeader, ExtractFileName(path));
                return false;
            }
            position += part.originalSize;
            volumes_.push_back(std::move(volume));
            const int64_t dataAt = int64_t(main.size + part.size);
            parts.push_back({volumes_.back().get(), dataAt, part});
            pos = dataAt + part.packedSize;
        }
        return true;
    }

    Entry MakeEntry(const std::vector<Part>& parts, bool whole) const {
        const ArjHeader& h = parts.front().header;
        Entry entry;
        entry.name = OemToAnsiName(h.name);
        entry.kind = h.fileType == formats::kArjFolder ? EntryKind::Folder : EntryKind::File;
        entry.method = lister::MethodNameFor(atARJ, h.method, {.fileType = h.fileType});
        entry.encrypted = h.flags & formats::kArjGarbled;
        uint64_t size = 0;
        uint32_t crc = 0;
        for (const Part& part : parts) {
            const ArjHeader& p = part.header;
            crc = size == 0 ? p.fileCrc : codecs::CrcCombine(crc, p.fileCrc, p.originalSize);
            size += p.originalSize;
            entry.packedSize += p.packedSize;
        }
        entry.size = size;
        if (whole) {
            entry.check = CheckKind::Crc32;
            entry.checkValue = crc;
        }
        if (h.hostOs == formats::kArjHostUnix) {
            // Unix archivers store the time as seconds since 1970 and the
            // permission bits as the access mode.
            entry.modified = std::time_t(h.dateTime);
            entry.unixMode = h.accessMode & 0777;
            entry.attributes = (h.accessMode & 0200) ? 0x20 : 0x21;
        } else {
            if (const auto unix = platform::UnixFromDosDateTime(h.dateTime)) entry.modified = *unix;
            entry.attributes = h.accessMode & kAttributeMask;
        }
        return entry;
    }

    void Extract(const std::vector<Part>& parts, bool whole) {
        const Entry entry = MakeEntry(parts, whole);
        codecs::ByteSink* sink = visitor_->Begin(entry);
        if (!sink || entry.kind == EntryKind::Folder) {
            visitor_->End(entry, DataEnd::Complete);
            return;
        }
        if (!whole) {
            visitor_->End(entry, DataEnd::Truncated);
            return;
        }
        if (entry.encrypted &&
            (password_.empty() || encryptionVersion_ >= formats::kArjFirstUnknownEncryption)) {
            visitor_->End(entry, DataEnd::Unsupported);
            return;
        }
        DataEnd end = DataEnd::Complete;
        for (const Part& part : parts) {
            end = DecodePart(part, *sink);
            if (end != DataEnd::Complete) break;
        }
        visitor_->End(entry, end);
    }

    DataEnd DecodePart(const Part& part, codecs::ByteSink& sink) {
        const ArjHeader& h = part.header;
        FileReader reader(part.volume->file, visitor_, part.dataAt, part.dataAt + h.packedSize);
        Ungarbled ungarbled(reader, password_, h.passwordModifier);
        codecs::ByteSource& in =
            (h.flags & formats::kArjGarbled) ? static_cast<codecs::ByteSource&>(ungarbled) : reader;
        codecs::DecodeStatus status;
        if (h.method == kStored)
            status = CopyStored(in, sink, h.packedSize);
        else if (h.method <= kLastStatic)
            status = codecs::DecodeLzhStatic(in, sink, h.originalSize, codecs::ArjStaticVariant());
        else if (h.method == kFastest)
            status = codecs::DecodeArjFastest(in, sink, h.originalSize);
        else
            return DataEnd::Unsupported;
        return EndOfPart(status, part);
    }

    // A stream that wants more than its stored size while the archive holds
    // all of it is damaged (or, garbled, decrypted with a wrong password);
    // only an archive that ends inside the data truncates it.
    static DataEnd EndOfPart(codecs::DecodeStatus status, const Part& part) {
        const DataEnd end = DataEndOf(status);
        if (end != DataEnd::Truncated) return end;
        try {
            if (part.dataAt + int64_t(part.header.packedSize) <= part.volume->file.Size())
                return DataEnd::Corrupt;
        } catch (const platform::IoError&) {
        }
        return end;
    }

    std::string path_;
    int64_t start_;
    std::string password_;
    EntryVisitor* visitor_ = nullptr;
    uint8_t encryptionVersion_ = 0;
    int volumeNumber_ = 0; // of the volume opened last
    std::vector<std::unique_ptr<Volume>> volumes_;
};

} // namespace

std::unique_ptr<EntrySource> MakeArjSource(const std::string& archivePath, int64_t start,
                                           const SourceOptions& options) {
    return std::make_unique<ArjSource>(archivePath, start, options.password);
}

} // namespace dvl::extract
