// The extraction layer's driver: takes the entries an entry source walks,
// picks them by the file mask, and writes their data through one sink
// below the destination (or only checks it, in a test): names confined to the
// destination, folders made (empty ones too), every file written beside its
// name and given it only once its check value, its size and its bounds held,
// dates and attributes applied through the open file. Every entry that is not
// written as stored gets a row of its own.
#pragma once

#include "archive/extract/source.h"
#include "platform/file.h"
#include "platform/output_tree.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace dvl::extract {

struct ExtractionOptions {
    std::string archiveName;   // how rows about the archive itself name it
    std::string destination;   // Windows form
    std::string mask = "*.*";  // matched against the stored path
    bool useStoredDirs = true; // false: every file directly in the destination
    bool test = false;         // decode and check only; nothing is written
    bool keepBroken = false;   // a failed entry's output stays as NAME.broken
    // For entries without a stored size: the most output per packed byte
    // (0: no limit). An entry beyond it is a decompression bomb, not data.
    uint64_t ratioLimit = 1000;
    std::vector<std::string> protectedFiles; // the archive and its volumes
};

struct ExtractionEvents {
    // An error row for an entry (or the archive): the code and the entry's name.
    std::function<void(int32_t code, const std::string& name)> row;
    // An entry begins to be written or tested.
    std::function<void(const std::string& name, std::optional<uint64_t> size)> entryBegins;
    std::function<void(int percent)> entryProgress;
    std::function<void(int percent)> archiveProgress;
    std::function<bool()> cancelled;
    // Asked when a file is already where an entry goes; unset, files are
    // replaced.
    enum class Existing { Replace, Keep, Rename };
    std::function<Existing(const std::string& path)> existingFile;
};

class Extraction final : public EntryVisitor {
public:
    Extraction(ExtractionOptions options, ExtractionEvents events);
    ~Extraction() override;

    // Walks the source; true when no row was reported.
    bool Run(EntrySource& source);
    // Files written and entries that failed, so far.
    int Written() const { return written_; }
    int Failed() const { return failed_; }

    codecs::ByteSink* Begin(const Entry& entry) override;
    void End(const Entry& entry, DataEnd end) override;
    void ArchiveError(int32_t code) override;
    void VolumeError(int32_t code, const std::string& file) override;
    void Progress(uint64_t done, uint64_t total) override;
    bool Cancelled() const override;

private:
    class CheckingSink;

    bool Selected(const Entry& entry) const;
    std::string RelativePath(const Entry& entry) const;
    void Row(int32_t code, const std::string& name);
    void MakeFolder(const Entry& entry, const std::string& relative);
    void CopyHardLink(const Entry& entry, const std::string& relative);
    bool OpenOutput(std::string relative, std::string& shownName);
    void Finish(const Entry& entry, DataEnd end);

    ExtractionOptions options_;
    ExtractionEvents events_;
    platform::OutputTree tree_;
    platform::File file_;
    platform::PendingFile pending_;
    std::unique_ptr<CheckingSink> sink_;
    std::string shownName_; // of the entry being written
    bool active_ = false;   // an entry's data is being taken
    bool diskFull_ = false;
    bool rows_ = false;
    int written_ = 0, failed_ = 0;
    int lastArchivePercent_ = -1;
};

} // namespace dvl::extract
