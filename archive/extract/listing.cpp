#include "archive/extract/listing.h"

#include "archive/errors.h"
#include "archive/file_spec.h"
#include "archive/text.h"

namespace dvl::extract {

Listing::Listing(std::string archiveName, std::string mask, bool blankDirs, ListingEvents events)
    : archiveName_(std::move(archiveName)), mask_(std::move(mask)), blankDirs_(blankDirs),
      events_(std::move(events)) {}

codecs::ByteSink* Listing::Begin(const Entry& entry) {
    const bool folder = entry.kind == EntryKind::Folder;
    listed_ = folder ? blankDirs_ : MatchFileSpec(mask_, entry.name, true);
    counter_.bytes = 0;
    // Sizes the archive does not store are counted as the data passes.
    return listed_ && !entry.size && entry.kind == EntryKind::File ? &counter_ : nullptr;
}

void Listing::End(const Entry& entry, DataEnd end) {
    if (!listed_) return;
    listed_ = false;
    if (events_.entry) events_.entry(entry, entry.size ? *entry.size : counter_.bytes);
    if (end == DataEnd::Corrupt || end == DataEnd::Truncated) {
        if (events_.row)
            events_.row(end == DataEnd::Corrupt ? kErrBadBlock : kErrUnexpectedEnd,
                        ExtractFileName(entry.name));
    }
}

void Listing::ArchiveError(int32_t code) {
    if (events_.row) events_.row(code, archiveName_);
}

void Listing::VolumeError(int32_t code, const std::string& file) {
    if (events_.row) events_.row(code, file);
}

} // namespace dvl::extract
