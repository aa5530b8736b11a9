#include "archive/extract/tar_stream.h"

#include "archive/errors.h"
#include "archive/text.h"

#include <algorithm>
#include <cstring>

namespace dvl::extract {

namespace {

using formats::kTarBlock;

// Metadata beyond this size is no name or record set worth keeping.
constexpr size_t kMaxMetadata = 1 << 20;
constexpr uint32_t kReadOnly = 0x01, kArchive = 0x20;

EntryKind KindOf(const formats::TarMember& m) {
    switch (m.type) {
    case '5':
    case 'D': // a GNU dump folder: its data lists the folder's names
        return EntryKind::Folder;
    case '2':
        return EntryKind::SymbolicLink;
    case '1':
        return EntryKind::HardLink;
    case '3':
    case '4':
    case '6':
        return EntryKind::Other;
    default:
        // Unknown types are read as plain files, as the format asks.
        return !m.name.empty() && m.name.back() == '/' ? EntryKind::Folder : EntryKind::File;
    }
}

std::string StoredPath(std::string_view name) {
    while (!name.empty() && (name.back() == '/' || uint8_t(name.back()) <= ' '))
        name.remove_suffix(1);
    while (!name.empty() && uint8_t(name.front()) <= ' ')
        name.remove_prefix(1);
    return SlashToBackslash(name);
}

} // namespace

bool TarStream::Write(const uint8_t* data, size_t n) {
    size_t i = 0;
    while (i < n && state_ != State::Done) {
        const size_t left = n - i;
        switch (state_) {
        case State::Header:
        case State::SparseExtension: {
            const size_t take = std::min(left, kTarBlock - block_.size());
            block_.insert(block_.end(), data + i, data + i + take);
            i += take;
            if (block_.size() == kTarBlock) {
                if (state_ == State::Header) {
                    TakeHeader();
                } else {
                    const bool more =
                        formats::ParseSparseExtension(block_.data(), member_.sparseMap);
                    if (!more) StartMember();
                }
                block_.clear();
            }
            break;
        }
        case State::Metadata: {
            const size_t take = size_t(std::min<int64_t>(int64_t(left), dataLeft_));
            if (metadata_.size() < kMaxMetadata)
                metadata_.append(reinterpret_cast<const char*>(data + i),
                                 std::min(take, kMaxMetadata - metadata_.size()));
            i += take;
            dataLeft_ -= int64_t(take);
            if (dataLeft_ == 0) {
                formats::ApplyTarMetadata(member_, metadata_, pending_);
                metadata_.clear();
                StartPadding();
            }
            break;
        }
        case State::SparseMap: {
            const size_t take = size_t(std::min<int64_t>(
                {int64_t(left), dataLeft_, int64_t(kTarBlock - sparseText_.size() % kTarBlock)}));
            sparseText_.append(reinterpret_cast<const char*>(data + i), take);
            i += take;
            dataLeft_ -= int64_t(take);
            if (sparseText_.size() % kTarBlock != 0 && dataLeft_ > 0) break;
            const int64_t used = formats::ParseSparseMapInData(sparseText_, member_.sparseMap);
            if (used > 0) {
                sparseText_.clear();
                state_ = State::Data;
            } else if (used < 0 || dataLeft_ == 0 || sparseText_.size() > kMaxMetadata) {
                sparseText_.clear();
                EndMember(DataEnd::Corrupt);
                state_ = State::Data; // the rest of the data is stepped over
            }
            if (state_ == State::Data && dataLeft_ == 0) {
                if (memberOpen_) {
                    DeliverZeros(member_.size - written_);
                    EndMember(DataEnd::Complete);
                }
                StartPadding();
            }
            break;
        }
        case State::Data: {
            const size_t take = size_t(std::min<int64_t>(int64_t(left), dataLeft_));
            if (memberOpen_) {
                if (member_.sparse == formats::TarSparse::None)
                    Deliver(data + i, take);
                else
                    DeliverSparse(data + i, take);
            }
            i += take;
            dataLeft_ -= int64_t(take);
            if (dataLeft_ == 0) {
                if (memberOpen_) {
                    if (member_.sparse != formats::TarSparse::None)
                        DeliverZeros(member_.size - written_);
                    EndMember(DataEnd::Complete);
                }
                StartPadding();
            }
            break;
        }
        case State::Padding: {
            const size_t take = size_t(std::min<int64_t>(int64_t(left), padLeft_));
            i += take;
            padLeft_ -= int64_t(take);
            if (padLeft_ == 0) state_ = State::Header;
            break;
        }
        case State::Done:
            break;
        }
        if (visitor_.Cancelled()) state_ = State::Done;
    }
    return state_ != State::Done;
}

void TarStream::TakeHeader() {
    member_ = formats::ParseTarHeader(block_.data(), pending_);
    if (member_.endOfArchive) {
        endReached_ = true;
        state_ = State::Done;
        return;
    }
    if (!member_.checksumValid) {
        // Before any header this is no TAR at all; after one, damage.
        if (sawHeader_) visitor_.ArchiveError(kErrBadFileHeader);
        state_ = State::Done;
        return;
    }
    sawHeader_ = true;
    dataLeft_ = member_.dataSize;
    if (member_.IsMetadata()) {
        state_ = dataLeft_ > 0 ? State::Metadata : State::Header;
        if (dataLeft_ == 0) formats::ApplyTarMetadata(member_, {}, pending_);
        return;
    }
    if (member_.sparseExtended) {
        state_ = State::SparseExtension;
        return;
    }
    StartMember();
}

void TarStream::StartMember() {
    entry_ = Entry{};
    entry_.name = StoredPath(member_.name);
    entry_.kind = KindOf(member_);
    entry_.linkTarget = StoredPath(member_.linkName);
    entry_.packedSize = uint64_t(member_.dataSize);
    entry_.method = "Stored";
    entry_.modified = member_.modified;
    entry_.unixMode = member_.mode;
    entry_.attributes = kArchive | ((member_.mode & 0200) ? 0 : kReadOnly);
    // Only a file's data is its content; links and folders carry none.
    const bool file = entry_.kind == EntryKind::File;
    if (file) entry_.size = uint64_t(std::max<int64_t>(member_.size, 0));
    written_ = 0;
    chunk_ = 0;
    sinkRefused_ = damaged_ = false;
    sink_ = visitor_.Begin(entry_);
    memberOpen_ = true;
    if (!file) {
        EndMember(DataEnd::Complete);
        memberOpen_ = false;
    }
    if (member_.sparse == formats::TarSparse::PaxMapInData && dataLeft_ > 0) {
        state_ = State::SparseMap;
        return;
    }
    state_ = State::Data;
    if (dataLeft_ == 0) {
        if (memberOpen_) {
            if (member_.sparse != formats::TarSparse::None) DeliverZeros(member_.size);
            EndMember(DataEnd::Complete);
        }
        state_ = State::Header;
    }
}

void TarStream::EndMember(DataEnd end) {
    if (!memberOpen_) return;
    memberOpen_ = false;
    if (end == DataEnd::Complete && damaged_) end = DataEnd::Corrupt;
    if (end == DataEnd::Complete && sinkRefused_ && sink_) end = DataEnd::Stopped;
    visitor_.End(entry_, end);
    sink_ = nullptr;
}

void TarStream::StartPadding() {
    const int64_t used = member_.dataSize % int64_t(kTarBlock);
    padLeft_ = used == 0 ? 0 : int64_t(kTarBlock) - used;
    state_ = padLeft_ > 0 ? State::Padding : State::Header;
}

void TarStream::Deliver(const uint8_t* data, size_t n) {
    written_ += int64_t(n);
    if (!sink_ || sinkRefused_ || n == 0) return;
    if (!sink_->Write(data, n)) sinkRefused_ = true;
}

void TarStream::DeliverZeros(int64_t n) {
    if (n <= 0) return;
    written_ += n;
    if (!sink_ || sinkRefused_) return;
    if (!sink_->WriteZeros(uint64_t(n))) sinkRefused_ = true;
}

// The data of a sparse member is its chunks one after another; the holes
// between them read as zeros.
void TarStream::DeliverSparse(const uint8_t* data, size_t n) {
    const auto& map = member_.sparseMap;
    while (n > 0) {
        // Data the map does not place (beyond its chunks, or chunks that run
        // backwards) means a damaged member.
        if (chunk_ >= map.size() || written_ > map[chunk_].offset + map[chunk_].length ||
            map[chunk_].length < 0) {
            damaged_ = true;
            return;
        }
        const formats::SparseChunk& c = map[chunk_];
        DeliverZeros(c.offset - written_);
        const size_t take = size_t(std::min<int64_t>(int64_t(n), c.offset + c.length - written_));
        Deliver(data, take);
        data += take;
        n -= take;
        if (written_ >= c.offset + c.length) ++chunk_;
    }
}

bool TarStream::Finish(DataEnd end) {
    if (state_ == State::Done) return false;
    state_ = State::Done;
    if (memberOpen_) {
        EndMember(end);
        return true;
    }
    if ((!block_.empty() || dataLeft_ > 0 || padLeft_ > 0) && sawHeader_) {
        visitor_.ArchiveError(kErrUnexpectedEnd);
        return true;
    }
    return false;
}

} // namespace dvl::extract
