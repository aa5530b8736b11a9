// Entry sources: one per format, each walking its archive's headers and
// handing every entry and the entry's decoded data to a visitor. A source runs
// the entry's codec itself (a solid stream or a cabinet folder is decoded once,
// in order), so the visitor only chooses where each entry's bytes go.
#pragma once

#include "archive/arc_type.h"
#include "archive/codecs/byte_stream.h"
#include "archive/extract/entry.h"

#include <cstdint>
#include <memory>
#include <string>

namespace dvl::extract {

// How an entry's data ended.
enum class DataEnd {
    Complete,    // decoded to its end
    Corrupt,     // the data breaks its method's rules
    Truncated,   // the archive ended inside the entry
    Unsupported, // a method (or encryption) this layer cannot decode
    Stopped,     // the visitor's sink refused more (cancel, a write failure, a bound)
};

class EntryVisitor {
public:
    virtual ~EntryVisitor() = default;
    // A new entry. Returns where its data goes, or null to step over it (a
    // source may still decode it, when later entries need the stream).
    virtual codecs::ByteSink* Begin(const Entry& entry) = 0;
    // The data of the entry last begun ended (also for an entry stepped over).
    virtual void End(const Entry& entry, DataEnd end) = 0;
    // The archive itself is damaged or cut short at this point: later entries
    // are lost. `code` is one of the error table's codes.
    virtual void ArchiveError(int32_t code) = 0;
    // The same for another file of the archive's set (a volume that is
    // missing or not the one expected), which the row names.
    virtual void VolumeError(int32_t code, const std::string& /*file*/) { ArchiveError(code); }
    // Compressed bytes of the archive read so far, of `total`.
    virtual void Progress(uint64_t done, uint64_t total) = 0;
    // True once the walk should end (between entries and between blocks).
    virtual bool Cancelled() const = 0;
};

class EntrySource {
public:
    virtual ~EntrySource() = default;
    // Walks every entry of the archive to the end, to a cancel or to damage.
    virtual void Walk(EntryVisitor& visitor) = 0;
};

// How a codec's result ends an entry's data.
DataEnd DataEndOf(codecs::DecodeStatus status);

// Stored data: every byte of `in` as it is; Truncated when fewer than `size`
// came.
codecs::DecodeStatus CopyStored(codecs::ByteSource& in, codecs::ByteSink& out, uint64_t size);

// What a source may need besides the archive.
struct SourceOptions {
    std::string password; // for encrypted (garbled) entries; empty: none given
};

// The source of an archive of a type the layer handles; null for any other.
// The archive's path is Windows form; `startOffset` is detection's (1-based).
std::unique_ptr<EntrySource> MakeEntrySource(TArcType type, const std::string& archivePath,
                                             int64_t startOffset,
                                             const SourceOptions& options = {});

// True for the types MakeEntrySource takes.
bool LayerHandles(TArcType type);

} // namespace dvl::extract
