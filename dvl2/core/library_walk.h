// What the RAR and ACE back ends share while they walk an archive through
// their library: the two labels of the progress window, the list row and the
// error row of the current entry, the answers of the volume and data
// callbacks, the replacement of an existing file and the destination folder.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace dvl::platform {
class OutputTree;
}

namespace dvl::dvl2 {

class FrontEnd;

// The file-name part of a path a library reports (native or Windows form).
std::string LibraryNamePart(const std::string& path);

// True when every component of a stored name (Windows form) is a plain name:
// no root, no drive, no "." or "..".
bool StaysBelow(const std::string& storedName);

class LibraryWalk {
public:
    explicit LibraryWalk(FrontEnd& frontEnd);

    const std::string& FileLabel() const { return fileLabel_; }
    const std::string& ArchiveLabel() const { return archiveLabel_; }
    void SetFileLabel(const std::string& text);    // lbl_filename
    void SetArchiveLabel(const std::string& text); // lbl_archivename

    // A ListView2 row from the two labels and the entry's unpacked size.
    void AddListRow(uint64_t unpackedSize);
    // An error-log row for the current entry: the two labels and the error.
    void AddEntryRow(const std::string& error);

    // The volume callback's two answers: a missing volume becomes a log row
    // (archive cell as given, File "N/A"); an opened one shows its name and
    // moves the volume bar one step.
    void VolumeMissing(const std::string& archiveCell, const std::string& error);
    void VolumeOpened(const std::string& volumePath);
    // The data callback: moves the entry bar, lets messages run; true to go on.
    bool EntryData(int size);

    // Before an entry is extracted: the row text that refuses it, empty when
    // it may go on. A symbolic link in its path below the destination refuses
    // it; so does a name that has to change to fit the file system, unless
    // the library writing it fits names itself (`libraryFitsNames`, and then
    // `renamed` tells that it arrives under a changed name).
    struct OutputCheck {
        std::string refusal;
        bool renamed = false;
    };
    OutputCheck CheckOutput(const std::string& storedName, bool libraryFitsNames) const;

    // Asked before an entry replaces a file that is there (its path as
    // shown): true keeps the file and steps over the entry with a row. Unset
    // (dvl2), files are replaced.
    void SetKeepExisting(std::function<bool(const std::string& path)> keep) {
        keepExisting_ = std::move(keep);
    }
    // True (after the row) when the entry must step over an existing file;
    // folder entries never replace anything.
    bool KeepsExisting(const std::string& storedName, bool folder);

    // Deletes a file at the entry's destination (read-only or not) so that
    // the entry replaces it, when the stored name stays below the
    // destination folder; nothing is reached through a symbolic link.
    void RemoveExisting(const std::string& storedName) const;

    // The volume opened last (Windows form): the archive itself until the
    // library changes volume.
    std::string LastVolume() const;

    // Creates the destination folder with its missing parents; true when it
    // exists afterwards.
    bool EnsureDestination() const;

private:
    // No entry may replace the archive or a volume of its set.
    void ProtectArchive(platform::OutputTree& tree) const;

    FrontEnd& frontEnd_;
    std::vector<std::string> volumes_; // opened so far
    std::function<bool(const std::string& path)> keepExisting_;
    std::string fileLabel_;
    std::string archiveLabel_;
};

} // namespace dvl::dvl2
