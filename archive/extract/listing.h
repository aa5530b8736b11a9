// A listing through the extraction layer, for archives the lister cannot read
// whole (a TAR inside a compressed stream, the compressors without a type):
// every entry that matches the mask, with its unpacked size (counted while
// the stream passes where the archive stores none).
#pragma once

#include "archive/extract/source.h"

#include <cstdint>
#include <functional>
#include <string>

namespace dvl::extract {

struct ListingEvents {
    // An entry listed: its values and its unpacked size.
    std::function<void(const Entry& entry, uint64_t unpacked)> entry;
    // Damage found on the way (error table codes), naming the entry or the archive.
    std::function<void(int32_t code, const std::string& name)> row;
    std::function<bool()> cancelled;
};

class Listing final : public EntryVisitor {
public:
    // mask: matched against names only, as the lister does; folders are
    // listed with blankDirs.
    Listing(std::string archiveName, std::string mask, bool blankDirs, ListingEvents events);

    codecs::ByteSink* Begin(const Entry& entry) override;
    void End(const Entry& entry, DataEnd end) override;
    void ArchiveError(int32_t code) override;
    void VolumeError(int32_t code, const std::string& file) override;
    void Progress(uint64_t, uint64_t) override {}
    bool Cancelled() const override { return events_.cancelled && events_.cancelled(); }

private:
    class Counter final : public codecs::ByteSink {
    public:
        bool Write(const uint8_t*, size_t n) override {
            bytes += n;
            return true;
        }
        uint64_t bytes = 0;
    };

    std::string archiveName_, mask_;
    bool blankDirs_;
    ListingEvents events_;
    Counter counter_;
    bool listed_ = false; // the entry begun is one to list
};

} // namespace dvl::extract
