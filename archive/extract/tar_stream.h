// A TAR archive as a stream of bytes: takes the bytes in order (from the
// file, or from a decompressor for .tar.gz and its kin) and hands each member
// and its data to a visitor as they pass. Nothing is read twice and nothing is
// kept but the member at hand, so a compressed TAR never needs a temporary
// file.
#pragma once

#include "archive/codecs/byte_stream.h"
#include "archive/extract/source.h"
#include "archive/formats/tar_header.h"

#include <string>
#include <vector>

namespace dvl::extract {

class TarStream final : public codecs::ByteSink {
public:
    explicit TarStream(EntryVisitor& visitor) : visitor_(visitor) {}

    // Takes the next bytes; false once the walk is over (the end of the
    // archive, damage or a cancel), which stops whatever feeds it.
    bool Write(const uint8_t* data, size_t n) override;
    // The stream ended: a member cut short ends with `end`, and a header cut
    // short is reported; true when something was reported.
    bool Finish(DataEnd end = DataEnd::Truncated);
    // True once the archive's end (its zero block) was read.
    bool EndReached() const { return endReached_; }

    // True once a header block was read whose checksum held (the bytes were
    // a TAR at all).
    bool SawHeader() const { return sawHeader_; }

private:
    enum class State { Header, Metadata, SparseExtension, SparseMap, Data, Padding, Done };

    void TakeHeader();
    void StartMember();
    void EndMember(DataEnd end);
    // Passes `n` bytes of a member's data (or zeros for a hole).
    void Deliver(const uint8_t* data, size_t n);
    void DeliverZeros(int64_t n);
    void DeliverSparse(const uint8_t* data, size_t n);
    void StartPadding();

    EntryVisitor& visitor_;
    State state_ = State::Header;
    std::vector<uint8_t> block_; // the header or extension block being gathered
    std::string metadata_;       // a metadata member's data
    std::string sparseText_;     // a 1.0 map being gathered
    formats::TarPending pending_;
    formats::TarMember member_;
    Entry entry_;
    codecs::ByteSink* sink_ = nullptr;
    bool memberOpen_ = false, sinkRefused_ = false, damaged_ = false;
    int64_t dataLeft_ = 0; // bytes of data blocks still to come
    int64_t padLeft_ = 0;  // bytes to the end of the block
    int64_t written_ = 0;  // bytes of the member's file delivered (sparse: with holes)
    size_t chunk_ = 0;     // the sparse chunk at hand
    bool sawHeader_ = false;
    bool endReached_ = false;
};

} // namespace dvl::extract
