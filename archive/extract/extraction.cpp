#include "archive/extract/extraction.h"

#include "archive/codecs/crc16.h"
#include "archive/codecs/crc32.h"
#include "archive/errors.h"
#include "archive/file_spec.h"
#include "archive/text.h"
#include "platform/attributes.h"
#include "platform/paths.h"
#include "platform/times.h"

#include <algorithm>
#include <cerrno>
#include <vector>

namespace dvl::extract {

namespace {

// Entries without a stored size may still grow this much whatever the ratio.
constexpr uint64_t kRatioFloor = 1 << 20;
constexpr size_t kCopyBlock = 64 * 1024;

bool SelectsEveryEntry(const std::string& mask) {
    return mask == "*.*" || mask == "*";
}

int32_t CodeOf(DataEnd end, bool encrypted) {
    switch (end) {
    case DataEnd::Corrupt:
        // Encrypted data that breaks its method's rules was most likely
        // decrypted with a wrong password: the check would fail as well.
        return encrypted ? kErrFailsCrc : kErrBadBlock;
    case DataEnd::Truncated:
        return kErrUnexpectedEnd;
    case DataEnd::Unsupported:
        return encrypted ? kErrPasswordProtected : kErrUnsupportedMethod;
    default:
        return kErrWritingFile;
    }
}

} // namespace

// Takes an entry's decoded bytes: folds them into its check value, counts
// them against its bound, writes them (unless testing) and reports progress.
class Extraction::CheckingSink final : public codecs::ByteSink {
public:
    enum class Stop { None, Cancelled, Bound, DiskFull, WriteError };

    CheckingSink(Extraction& owner, const Entry& entry, platform::File* file)
        : owner_(owner), check_(entry.check), file_(file), size_(entry.size) {
        if (entry.size)
            limit_ = *entry.size;
        else if (owner.options_.ratioLimit != 0)
            limit_ = std::max(kRatioFloor, entry.packedSize * owner.options_.ratioLimit);
    }

    bool Write(const uint8_t* data, size_t n) override {
        if (owner_.Cancelled()) return Stopped(Stop::Cancelled);
        if (n > limit_ - written_) return Stopped(Stop::Bound);
        if (check_ == CheckKind::Crc32) crc32_ = codecs::CrcUpdate(crc32_, data, n);
        if (check_ == CheckKind::Crc16) crc16_ = codecs::Crc16Update(crc16_, data, n);
        if (file_) {
            try {
                if (file_->Write(data, n) < n) return Stopped(Stop::DiskFull);
            } catch (const platform::IoError& e) {
                return Stopped(e.ErrorNumber() == ENOSPC ? Stop::DiskFull : Stop::WriteError);
            }
        }
        written_ += n;
        if (size_ && *size_ > 0 && owner_.events_.entryProgress) {
            const int percent = int(std::min<uint64_t>(written_, *size_) * 100 / *size_);
            if (percent != lastPercent_) owner_.events_.entryProgress(lastPercent_ = percent);
        }
        return true;
    }

    // A hole: without a check value to fold the zeros into, the file is
    // left sparse.
    bool WriteZeros(uint64_t n) override {
        if (check_ != CheckKind::None || !file_) return ByteSink::WriteZeros(n);
        if (owner_.Cancelled()) return Stopped(Stop::Cancelled);
        if (n > limit_ - written_) return Stopped(Stop::Bound);
        try {
            file_->Seek(int64_t(written_ + n));
        } catch (const platform::IoError&) {
            return Stopped(Stop::WriteError);
        }
        written_ += n;
        holes_ = true;
        return true;
    }

    uint64_t Written() const { return written_; }
    bool HasHoles() const { return holes_; }
    Stop StopReason() const { return stop_; }
    bool CheckPasses(uint32_t stored) const {
        switch (check_) {
        case CheckKind::Crc32:
            return ~crc32_ == stored;
        case CheckKind::Crc16:
            return crc16_ == uint16_t(stored);
        case CheckKind::None:
            break;
        }
        return true;
    }

private:
    bool Stopped(Stop why) {
        stop_ = why;
        return false;
    }

    Extraction& owner_;
    CheckKind check_;
    platform::File* file_;
    std::optional<uint64_t> size_;
    uint64_t limit_ = UINT64_MAX;
    uint64_t written_ = 0;
    uint32_t crc32_ = 0xFFFFFFFF;
    uint16_t crc16_ = 0;
    int lastPercent_ = -1;
    bool holes_ = false;
    Stop stop_ = Stop::None;
};

Extraction::Extraction(ExtractionOptions options, ExtractionEvents events)
    : options_(std::move(options)), events_(std::move(events)), tree_(options_.destination) {
    for (const std::string& path : options_.protectedFiles)
        tree_.Protect(path);
}

Extraction::~Extraction() = default;

bool Extraction::Run(EntrySource& source) {
    source.Walk(*this);
    if (active_) Finish({}, DataEnd::Stopped);
    return !rows_;
}

bool Extraction::Cancelled() const {
    return events_.cancelled && events_.cancelled();
}

void Extraction::Row(int32_t code, const std::string& name) {
    rows_ = true;
    if (events_.row) events_.row(code, name);
}

void Extraction::ArchiveError(int32_t code) {
    Row(code, options_.archiveName);
}

void Extraction::VolumeError(int32_t code, const std::string& file) {
    Row(code, file);
}

void Extraction::Progress(uint64_t done, uint64_t total) {
    if (!events_.archiveProgress || total == 0) return;
    const int percent = int(std::min(done, total) * 100 / total);
    if (percent != lastArchivePercent_) events_.archiveProgress(lastArchivePercent_ = percent);
}

bool Extraction::Selected(const Entry& entry) const {
    return SelectsEveryEntry(options_.mask) || MatchFileSpec(entry.name, options_.mask, false);
}

std::string Extraction::RelativePath(const Entry& entry) const {
    const std::string relative = ConfinedRelativePath(entry.name);
    return options_.useStoredDirs ? relative : ExtractFileName(relative);
}

codecs::ByteSink* Extraction::Begin(const Entry& entry) {
    if (active_) Finish(entry, DataEnd::Stopped);
    if (Cancelled() || !Selected(entry)) return nullptr;
    const std::string shown = VisibleName(ExtractFileName(entry.name));
    const std::string relative = RelativePath(entry);
    switch (entry.kind) {
    case EntryKind::Folder:
        if (!options_.test && options_.useStoredDirs && !relative.empty())
            MakeFolder(entry, relative);
        return nullptr;
    case EntryKind::SymbolicLink:
        // Links are never made from archive data.
        if (!options_.test) Row(kErrLinkEntry, shown);
        return nullptr;
    case EntryKind::Other:
        if (!options_.test) Row(kErrSpecialEntry, shown);
        return nullptr;
    case EntryKind::HardLink:
        if (relative.empty())
            Row(kErrInvalidFileName, VisibleName(entry.name));
        else if (!options_.test)
            CopyHardLink(entry, relative);
        return nullptr;
    case EntryKind::File:
        break;
    }
    if (relative.empty()) {
        Row(kErrInvalidFileName, VisibleName(entry.name));
        return nullptr;
    }
    shownName_ = shown;
    if (!options_.test && !OpenOutput(relative, shownName_)) return nullptr;
    if (events_.entryBegins) events_.entryBegins(shownName_, entry.size);
    sink_ = std::make_unique<CheckingSink>(*this, entry, options_.test ? nullptr : &file_);
    active_ = true;
    return sink_.get();
}

void Extraction::MakeFolder(const Entry& entry, const std::string& relative) {
    const platform::OutputResult made = tree_.CreateFolders(relative);
    const std::string shown = VisibleName(ExtractFileName(entry.name));
    switch (made.status) {
    case platform::OutputStatus::Ok:
        return;
    case platform::OutputStatus::LinkInPath:
        Row(kErrLinkInPath, shown);
        return;
    case platform::OutputStatus::InvalidName:
        Row(kErrInvalidFileName, shown);
        return;
    default:
        Row(kErrCreatingDir, shown);
    }
}

// A file whose data the archive holds only once: its second name gets a copy
// of what the first one was extracted to.
void Extraction::CopyHardLink(const Entry& entry, const std::string& relative) {
    const std::string shown = VisibleName(ExtractFileName(entry.name));
    platform::File target;
    const std::string targetRelative =
        options_.useStoredDirs ? ConfinedRelativePath(entry.linkTarget)
                               : ExtractFileName(ConfinedRelativePath(entry.linkTarget));
    if (targetRelative.empty() || !tree_.OpenForReading(targetRelative, target)) {
        Row(kErrFileNotFound, shown);
        return;
    }
    std::string name = shown;
    if (!OpenOutput(relative, name)) return;
    std::vector<uint8_t> block(kCopyBlock);
    try {
        for (size_t got; (got = target.Read(block.data(), block.size())) > 0;) {
            if (file_.Write(block.data(), got) < got) {
                diskFull_ = true;
                Row(kErrDiskFull, name);
                file_.Close();
                pending_.Discard();
                return;
            }
        }
    } catch (const platform::IoError&) {
        Row(kErrWritingFile, name);
        file_.Close();
        pending_.Discard();
        return;
    }
    if (entry.modified) platform::SetLastWriteTime(file_, *entry.modified);
    if (!file_.Close() || !pending_.Commit()) {
        Row(kErrWritingFile, name);
        return;
    }
    ++written_;
}

// Creates the entry's file beside its name; false (after the row) when the
// entry is not to be written.
bool Extraction::OpenOutput(std::string relative, std::string& shownName) {
    if (diskFull_) {
        // Nothing more is written once the disk was found full.
        Row(kErrDiskFull, shownName);
        return false;
    }
    bool renamed = false;
    if (events_.existingFile && tree_.Exists(relative)) {
        const std::string path =
            platform::ToNativeSpelling(AddBackslash(options_.destination) + relative);
        switch (events_.existingFile(path)) {
        case ExtractionEvents::Existing::Replace:
            break;
        case ExtractionEvents::Existing::Keep:
            Row(kErrExistingKept, shownName);
            return false;
        case ExtractionEvents::Existing::Rename:
            relative = tree_.FreeName(relative);
            renamed = true;
            break;
        }
    }
    const platform::OutputResult created = tree_.CreateFile(relative, file_, pending_);
    switch (created.status) {
    case platform::OutputStatus::Ok:
        break;
    case platform::OutputStatus::LinkInPath:
        Row(kErrLinkInPath, shownName);
        return false;
    case platform::OutputStatus::InvalidName:
        Row(kErrInvalidFileName, shownName);
        return false;
    case platform::OutputStatus::FolderFailed:
        Row(kErrCreatingDir, shownName);
        return false;
    case platform::OutputStatus::FileFailed:
        Row(kErrOpeningFile, shownName);
        return false;
    case platform::OutputStatus::Protected:
        Row(kErrWouldReplaceArchive, shownName);
        return false;
    }
    if (created.renamed || renamed) {
        shownName = ExtractFileName(created.relative);
        Row(kErrNameChanged, shownName);
    }
    return true;
}

void Extraction::End(const Entry& entry, DataEnd end) {
    if (active_) Finish(entry, end);
}

// The verdict on an entry: a file takes its name only when everything held.
void Extraction::Finish(const Entry& entry, DataEnd end) {
    active_ = false;
    const std::unique_ptr<CheckingSink> sink = std::move(sink_);
    int32_t code = 0;
    if (end == DataEnd::Stopped) {
        switch (sink->StopReason()) {
        case CheckingSink::Stop::Cancelled:
            break;
        case CheckingSink::Stop::Bound:
            code = entry.size ? kErrSizeDifferent : kErrRatioLimit;
            break;
        case CheckingSink::Stop::DiskFull:
            diskFull_ = true;
            code = kErrDiskFull;
            break;
        case CheckingSink::Stop::None:
        case CheckingSink::Stop::WriteError:
            code = kErrWritingFile;
            break;
        }
    } else if (end != DataEnd::Complete) {
        code = CodeOf(end, entry.encrypted);
    } else if (entry.size && sink->Written() != *entry.size) {
        code = kErrSizeDifferent;
    } else if (!sink->CheckPasses(entry.checkValue)) {
        code = kErrFailsCrc;
    }
    const bool cancelled =
        end == DataEnd::Stopped && sink->StopReason() == CheckingSink::Stop::Cancelled;
    if (code != 0) {
        Row(code, shownName_);
        ++failed_;
    }
    if (options_.test) return;
    if (code != 0 || cancelled) {
        file_.Close();
        if (options_.keepBroken && !cancelled)
            pending_.KeepAs(".broken");
        else
            pending_.Discard();
        return;
    }
    // A file that ends in a hole is as long as its last byte written so far.
    if (sink->HasHoles() && !file_.SetSize(int64_t(sink->Written()))) {
        Row(kErrWritingFile, shownName_);
        ++failed_;
        file_.Close();
        pending_.Discard();
        return;
    }
    if (entry.modified) platform::SetLastWriteTime(file_, *entry.modified);
    uint32_t attributes = entry.attributes;
    if (entry.unixMode) attributes |= (0100000u | (*entry.unixMode & 0777)) << 16;
    platform::ApplyExternalAttributes(file_, attributes);
    if (!file_.Close() || !pending_.Commit()) {
        Row(kErrWritingFile, shownName_);
        ++failed_;
        return;
    }
    ++written_;
}

} // namespace dvl::extract
