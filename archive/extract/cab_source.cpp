// Cabinets: a cabinet, or a set of them, is a row of folders, each one
// compressed stream (stored, MSZIP, Quantum or LZX) of data blocks; files are
// stretches of their folder's stream. A folder may run on from the last
// folder of one cabinet into the first of the next, and a data block may be
// split between them. Each folder is decoded once, in order, and its bytes
// are handed to the files they belong to.
#include "archive/extract/cab_source.h"

#include "archive/bytes.h"
#include "archive/codecs/inflate.h"
#include "archive/codecs/lzx.h"
#include "archive/codecs/quantum.h"
#include "archive/errors.h"
#include "archive/formats/cab_header.h"
#include "archive/text.h"
#include "platform/file.h"
#include "platform/paths.h"
#include "platform/times.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace dvl::extract {

namespace {

using formats::CabFileRecord;
using formats::CabHeader;

constexpr size_t kHeaderRead = 256 * 1024;
constexpr int kMaxCabinets = 1000;
constexpr size_t kMaxBlockOutput = 32768;
constexpr size_t kMaxBlockInput = 32768 + 6144; // a block's bytes may not exceed this
constexpr uint32_t kAttributeMask = 0x27;       // read-only, hidden, system, archive

enum Method : uint16_t { kStored = 0, kMszip = 1, kQuantum = 2, kLzx = 3 };

const char* MethodName(uint16_t compression) {
    switch (compression & 0x000F) {
    case kStored:
        return "Stored";
    case kMszip:
        return "MSZIP";
    case kQuantum:
        return "Quantum";
    case kLzx:
        return "LZX";
    default:
        return "Unknown";
    }
}

struct Cabinet {
    std::string path;
    std::unique_ptr<platform::File> file;
    int64_t start = 0; // of the cabinet in its file
    int64_t size = 0;
    CabHeader header;
    std::vector<CabFileRecord> files;
};

struct BlockRef {
    size_t cabinet = 0;
    int64_t dataAt = 0; // the compressed bytes, from the file's start
    uint16_t packed = 0, unpacked = 0;
    uint32_t checksum = 0;
    std::vector<uint8_t> fields; // sizes and reserve, which the checksum covers too
};

struct Member {
    Entry entry;
    uint32_t offset = 0, size = 0;
};

struct LogicalFolder {
    uint16_t compression = 0;
    std::vector<BlockRef> blocks;
    std::vector<Member> members;
};

// Decodes a folder's blocks in order and hands each block's output on.
class FolderDecoder {
public:
    explicit FolderDecoder(uint16_t compression) : method_(compression & 0x000F) {
        const int windowBits = (compression >> 8) & 0x1F;
        if (method_ == kLzx && windowBits >= 15 && windowBits <= 21)
            lzx_ = std::make_unique<codecs::LzxDecoder>(windowBits);
        if (method_ == kQuantum && windowBits >= 10 && windowBits <= 21)
            quantum_ = std::make_unique<codecs::QuantumDecoder>(windowBits);
        if (method_ == kMszip) inflater_ = std::make_unique<codecs::Inflater>();
    }

    bool Supported() const { return method_ == kStored || method_ == kMszip || lzx_ || quantum_; }

    // Decodes one block of `input` into exactly `outputSize` bytes.
    DataEnd Decode(std::span<const uint8_t> input, size_t outputSize, std::vector<uint8_t>& out) {
        out.resize(outputSize);
        switch (method_) {
        case kStored:
            if (input.size() != outputSize) return DataEnd::Corrupt;
            std::copy(input.begin(), input.end(), out.begin());
            return DataEnd::Complete;
        case kMszip:
            return DecodeMszip(input, outputSize, out);
        case kLzx:
            return Status(lzx_->DecodeBlock(input, out.data(), outputSize));
        case kQuantum:
            return Status(quantum_->DecodeBlock(input, out.data(), outputSize));
        default:
            return DataEnd::Unsupported;
        }
    }

private:
    static DataEnd Status(codecs::DecodeStatus status) {
        switch (status) {
        case codecs::DecodeStatus::Ok:
            return DataEnd::Complete;
        case codecs::DecodeStatus::Truncated:
        case codecs::DecodeStatus::Corrupt:
        case codecs::DecodeStatus::NoMemory:
        case codecs::DecodeStatus::WriteFailed:
            break;
        }
        return DataEnd::Corrupt;
    }

    // Each MSZIP block is "CK" and a deflate stream whose window goes on from
    // the blocks before it.
    DataEnd DecodeMszip(std::span<const uint8_t> input, size_t outputSize,
                        std::vector<uint8_t>& out) {
        if (input.size() < 2 || input[0] != 'C' || input[1] != 'K') return DataEnd::Corrupt;
        struct Source final : codecs::ByteSource {
            std::span<const uint8_t> data;
            std::span<const uint8_t> Next() override { return std::exchange(data, {}); }
        } source;
        source.data = input.subspan(2);
        struct Sink final : codecs::ByteSink {
            std::vector<uint8_t>& out;
            size_t limit, size = 0;
            Sink(std::vector<uint8_t>& o, size_t l) : out(o), limit(l) {}
            bool Write(const uint8_t* data, size_t n) override {
                if (n > limit - size) return false;
                std::copy(data, data + n, out.begin() + long(size));
                size += n;
                return true;
            }
        } sink(out, outputSize);
        const codecs::InflateResult result = inflater_->Inflate(source, sink, history_);
        if (result.error != 0 || sink.size != outputSize) return DataEnd::Corrupt;
        history_.assign(out.begin(), out.end());
        return DataEnd::Complete;
    }

    uint16_t method_;
    std::unique_ptr<codecs::Inflater> inflater_; // MSZIP only
    std::vector<uint8_t> history_;
    std::unique_ptr<codecs::LzxDecoder> lzx_;
    std::unique_ptr<codecs::QuantumDecoder> quantum_;
};

// Hands a folder's stream, in order, to the files it holds.
class Slicer {
public:
    Slicer(std::vector<Member>& members, EntryVisitor& visitor)
        : members_(members), visitor_(visitor) {}

    bool Done() const { return next_ >= members_.size() && !open_; }

    void Take(const uint8_t* data, size_t n) {
        while (n > 0 || (!open_ && next_ < members_.size() && members_[next_].offset == position_ &&
                         members_[next_].size == 0)) {
            if (!open_) {
                if (next_ >= members_.size()) return;
                Member& m = members_[next_];
                if (m.offset < position_) { // overlapping another file: damage
                    visitor_.Begin(m.entry);
                    visitor_.End(m.entry, DataEnd::Corrupt);
                    ++next_;
                    continue;
                }
                const size_t skip = size_t(std::min<uint64_t>(n, m.offset - position_));
                data += skip;
                n -= skip;
                position_ += skip;
                if (position_ < m.offset) return;
                sink_ = visitor_.Begin(m.entry);
                refused_ = false;
                open_ = true;
            }
            Member& m = members_[next_];
            const size_t take =
                size_t(std::min<uint64_t>(n, uint64_t(m.offset) + m.size - position_));
            if (take > 0 && sink_ && !refused_ && !sink_->Write(data, take)) refused_ = true;
            data += take;
            n -= take;
            position_ += take;
            if (position_ == uint64_t(m.offset) + m.size) {
                visitor_.End(m.entry, refused_ ? DataEnd::Stopped : DataEnd::Complete);
                open_ = false;
                ++next_;
            }
        }
    }

    // The stream ended (or broke) here: every file not yet whole fails.
    void FailRest(DataEnd end) {
        if (open_) {
            visitor_.End(members_[next_].entry, end);
            open_ = false;
            ++next_;
        }
        for (; next_ < members_.size(); ++next_) {
            visitor_.Begin(members_[next_].entry);
            visitor_.End(members_[next_].entry, end);
        }
    }

private:
    std::vector<Member>& members_;
    EntryVisitor& visitor_;
    size_t next_ = 0;
    uint64_t position_ = 0;
    bool open_ = false, refused_ = false;
    codecs::ByteSink* sink_ = nullptr;
};

class CabSource final : public EntrySource {
public:
    CabSource(std::string path, int64_t start) : path_(std::move(path)), start_(start) {}

    void Walk(EntryVisitor& visitor) override {
        if (!LoadSet(visitor)) return;
        BuildFolders(visitor);
        for (LogicalFolder& folder : folders_) {
            if (visitor.Cancelled()) return;
            DecodeFolder(folder, visitor);
        }
    }

private:
    bool OpenCabinet(const std::string& path, int64_t start, Cabinet& cab) {
        cab.path = path;
        cab.start = start;
        cab.file = std::make_unique<platform::File>();
        if (!cab.file->OpenRead(path)) return false;
        std::vector<uint8_t> bytes(kHeaderRead);
        try {
            cab.size = cab.file->Size();
            cab.file->Seek(start);
            bytes.resize(cab.file->Read(bytes.data(), bytes.size()));
        } catch (const platform::IoError&) {
            return false;
        }
        return formats::ParseCabHeader(bytes, cab.header) == formats::CabParse::Ok;
    }

    // The cabinet given and the others of its set, from the first.
    bool LoadSet(EntryVisitor& visitor) {
        Cabinet first;
        if (!OpenCabinet(path_, start_, first)) {
            visitor.ArchiveError(kErrBadFileHeader);
            return false;
        }
        const std::string folder = ExtractFilePath(path_);
        // A set is read from its first cabinet, whichever one was named.
        for (int n = 0; n < kMaxCabinets && (first.header.flags & formats::kCabHasPrevious); ++n) {
            Cabinet previous;
            const std::string name =
                ExtractFileName(SlashToBackslash(first.header.previousCabinet));
            if (!OpenCabinet(folder + name, 0, previous)) {
                visitor.ArchiveError(kErrFirstDiskNeeded);
                return false;
            }
            first = std::move(previous);
        }
        cabinets_.push_back(std::move(first));
        while (cabinets_.back().header.flags & formats::kCabHasNext) {
            if (int(cabinets_.size()) >= kMaxCabinets) break;
            const std::string name =
                ExtractFileName(SlashToBackslash(cabinets_.back().header.nextCabinet));
            Cabinet next;
            if (!OpenCabinet(folder + name, 0, next) ||
                next.header.setId != cabinets_.front().header.setId) {
                visitor.ArchiveError(kErrNextVolume);
                break;
            }
            cabinets_.push_back(std::move(next));
        }
        for (Cabinet& cab : cabinets_)
            ReadFiles(cab, visitor);
        return true;
    }

    void ReadFiles(Cabinet& cab, EntryVisitor& visitor) {
        const int64_t table = cab.start + int64_t(cab.header.filesOffset);
        std::vector<uint8_t> bytes;
        size_t pos = 0;
        for (uint16_t i = 0; i < cab.header.fileCount; ++i) {
            CabFileRecord record;
            while (!formats::ParseCabFile(std::span(bytes).subspan(pos), record)) {
                // More of the file table is needed.
                const size_t had = bytes.size();
                bytes.resize(had + kHeaderRead);
                size_t got = 0;
                try {
                    cab.file->Seek(table + int64_t(had));
                    got = cab.file->Read(bytes.data() + had, kHeaderRead);
                } catch (const platform::IoError&) {
                }
                bytes.resize(had + got);
                if (got == 0) {
                    visitor.ArchiveError(kErrUnexpectedEnd);
                    return;
                }
            }
            pos += record.recordSize;
            cab.files.push_back(std::move(record));
        }
    }

    // Joins folders that run on into the next cabinet and gives every file
    // its folder.
    void BuildFolders(EntryVisitor& visitor) {
        for (size_t c = 0; c < cabinets_.size(); ++c) {
            const Cabinet& cab = cabinets_[c];
            std::vector<size_t> logical(cab.header.folders.size());
            const bool continues =
                c > 0 && std::any_of(cab.files.begin(), cab.files.end(), [](const auto& f) {
                    return f.folder == formats::kCabContinuedFromPrevious ||
                           f.folder == formats::kCabContinuedBoth;
                });
            for (size_t f = 0; f < cab.header.folders.size(); ++f) {
                const formats::CabFolderRecord& record = cab.header.folders[f];
                if (!(f == 0 && continues && !folders_.empty())) {
                    folders_.emplace_back();
                    folders_.back().compression = record.compression;
                }
                logical[f] = folders_.size() - 1;
                ReadBlocks(c, record, folders_.back(), visitor);
            }
            for (const CabFileRecord& file : cab.files) {
                size_t index = 0;
                if (file.folder == formats::kCabContinuedFromPrevious ||
                    file.folder == formats::kCabContinuedBoth)
                    continue; // listed where it began
                if (file.folder == formats::kCabContinuedToNext) {
                    if (logical.empty()) continue;
                    index = logical.back();
                } else if (file.folder < logical.size()) {
                    index = logical[file.folder];
                } else {
                    Member member = MakeMember(file, 0);
                    visitor.Begin(member.entry);
                    visitor.End(member.entry, DataEnd::Corrupt);
                    continue;
                }
                folders_[index].members.push_back(MakeMember(file, folders_[index].compression));
            }
        }
        for (LogicalFolder& folder : folders_)
            std::stable_sort(folder.members.begin(), folder.members.end(),
                             [](const Member& a, const Member& b) { return a.offset < b.offset; });
    }

    void ReadBlocks(size_t c, const formats::CabFolderRecord& record, LogicalFolder& folder,
                    EntryVisitor& visitor) {
        Cabinet& cab = cabinets_[c];
        int64_t at = cab.start + int64_t(record.dataOffset);
        const size_t reserve = cab.header.dataReserve;
        for (uint16_t b = 0; b < record.blockCount; ++b) {
            std::vector<uint8_t> head(formats::kCabDataFixedSize + reserve);
            size_t got = 0;
            try {
                cab.file->Seek(at);
                got = cab.file->Read(head.data(), head.size());
            } catch (const platform::IoError&) {
            }
            if (got < head.size()) {
                visitor.ArchiveError(kErrUnexpectedEnd);
                return;
            }
            BlockRef block;
            block.cabinet = c;
            block.checksum = Le32(head.data());
            block.packed = Le16(head.data() + 4);
            block.unpacked = Le16(head.data() + 6);
            block.fields.assign(head.begin() + 4, head.end());
            block.dataAt = at + int64_t(head.size());
            folder.blocks.push_back(std::move(block));
            at += int64_t(head.size()) + folder.blocks.back().packed;
        }
    }

    static Member MakeMember(const CabFileRecord& file, uint16_t compression) {
        Member m;
        m.offset = file.folderOffset;
        m.size = file.size;
        m.entry.name = (file.attributes & formats::kCabNameIsUtf8) ? SlashToBackslash(file.name)
                                                                   : OemToAnsiName(file.name);
        m.entry.size = file.size;
        m.entry.packedSize = file.size;
        m.entry.method = MethodName(compression);
        const uint32_t dos = (uint32_t(file.date) << 16) | file.time;
        if (const auto unix = platform::UnixFromDosDateTime(dos)) m.entry.modified = *unix;
        m.entry.attributes = file.attributes & kAttributeMask;
        return m;
    }

    // The compressed bytes of a block (both parts of a split one) and the
    // size it decodes to; false when they cannot be read or do not check.
    bool ReadBlock(const LogicalFolder& folder, size_t& b, std::vector<uint8_t>& data,
                   size_t& unpacked, DataEnd& failure) {
        data.clear();
        for (;;) {
            const BlockRef& block = folder.blocks[b];
            const size_t had = data.size();
            if (had + block.packed > kMaxBlockInput) {
                failure = DataEnd::Corrupt;
                return false;
            }
            data.resize(had + block.packed);
            size_t got = 0;
            try {
                platform::File& file = *cabinets_[block.cabinet].file;
                file.Seek(block.dataAt);
                got = file.Read(data.data() + had, block.packed);
            } catch (const platform::IoError&) {
            }
            if (got < block.packed) {
                failure = DataEnd::Truncated;
                return false;
            }
            if (block.checksum != 0) {
                const uint32_t sum =
                    formats::CabChecksum(block.fields.data(), block.fields.size(),
                                         formats::CabChecksum(data.data() + had, block.packed, 0));
                if (sum != block.checksum) {
                    failure = DataEnd::Corrupt;
                    return false;
                }
            }
            unpacked = block.unpacked;
            // A block that gives nothing goes on in the next cabinet.
            const bool split = block.unpacked == 0 && b + 1 < folder.blocks.size() &&
                               folder.blocks[b + 1].cabinet != block.cabinet;
            if (!split) {
                if (unpacked <= kMaxBlockOutput) return true;
                failure = DataEnd::Corrupt;
                return false;
            }
            ++b;
        }
    }

    // Progress over the whole set: the cabinets before this block's, then
    // the block's place in its own.
    void Report(const BlockRef& block, EntryVisitor& visitor) const {
        uint64_t done = 0, total = 0;
        for (size_t c = 0; c < cabinets_.size(); ++c) {
            if (c < block.cabinet) done += uint64_t(cabinets_[c].size);
            total += uint64_t(cabinets_[c].size);
        }
        visitor.Progress(done + uint64_t(std::max<int64_t>(block.dataAt, 0)), total);
    }

    void DecodeFolder(LogicalFolder& folder, EntryVisitor& visitor) {
        Slicer slicer(folder.members, visitor);
        FolderDecoder decoder(folder.compression);
        if (!decoder.Supported()) {
            slicer.FailRest(DataEnd::Unsupported);
            return;
        }
        std::vector<uint8_t> data, out;
        for (size_t b = 0; b < folder.blocks.size() && !slicer.Done(); ++b) {
            if (visitor.Cancelled()) return;
            size_t unpacked = 0;
            DataEnd failure = DataEnd::Corrupt;
            if (!ReadBlock(folder, b, data, unpacked, failure)) {
                slicer.FailRest(failure);
                return;
            }
            const DataEnd decoded = decoder.Decode(data, unpacked, out);
            if (decoded != DataEnd::Complete) {
                slicer.FailRest(decoded);
                return;
            }
            Report(folder.blocks[b], visitor);
            slicer.Take(out.data(), out.size());
        }
        slicer.FailRest(DataEnd::Truncated);
    }

    std::string path_;
    int64_t start_;
    std::vector<Cabinet> cabinets_;
    std::vector<LogicalFolder> folders_;
};

} // namespace

std::unique_ptr<EntrySource> MakeCabSource(const std::string& archivePath, int64_t start) {
    return std::make_unique<CabSource>(archivePath, start);
}

} // namespace dvl::extract
