#include "dvl2/core/library_walk.h"

#include "archive/errors.h"
#include "archive/text.h"
#include "dvl2/core/detect.h"
#include "dvl2/core/front_end.h"
#include "platform/output_tree.h"
#include "platform/paths.h"

namespace dvl::dvl2 {

std::string LibraryNamePart(const std::string& path) {
    return ExtractFileName(platform::ToWindowsPath(path));
}

bool StaysBelow(const std::string& storedName) {
    if (storedName.empty() || storedName[0] == '\\') return false;
    size_t start = 0;
    while (start <= storedName.size()) {
        size_t end = storedName.find('\\', start);
        if (end == std::string::npos) end = storedName.size();
        const std::string part = storedName.substr(start, end - start);
        if (part.empty() || part == "." || part == ".." || part.find(':') != std::string::npos)
            return false;
        start = end + 1;
    }
    return true;
}

LibraryWalk::LibraryWalk(FrontEnd& frontEnd) : frontEnd_(frontEnd) {}

void LibraryWalk::SetFileLabel(const std::string& text) {
    fileLabel_ = text;
    frontEnd_.View().SetFileLabel(text);
}

void LibraryWalk::SetArchiveLabel(const std::string& text) {
    archiveLabel_ = text;
    frontEnd_.View().SetArchiveLabel(text);
}

void LibraryWalk::AddListRow(uint64_t unpackedSize) {
    frontEnd_.View().AddOtherListRow({archiveLabel_, fileLabel_, std::to_string(unpackedSize)});
}

void LibraryWalk::AddEntryRow(const std::string& error) {
    frontEnd_.AddLogRow(archiveLabel_, fileLabel_, error);
}

void LibraryWalk::VolumeMissing(const std::string& archiveCell, const std::string& error) {
    frontEnd_.AddLogRow(archiveCell, "N/A", error);
}

void LibraryWalk::VolumeOpened(const std::string& volumePath) {
    volumes_.push_back(platform::ToWindowsPath(volumePath));
    SetArchiveLabel(LibraryNamePart(volumePath));
    frontEnd_.SetVolumeBar(frontEnd_.VolumeBarPosition() + 1, frontEnd_.VolumeBarMaximum());
}

bool LibraryWalk::EntryData(int size) {
    return frontEnd_.EntryData(size);
}

LibraryWalk::OutputCheck LibraryWalk::CheckOutput(const std::string& storedName,
                                                  bool libraryFitsNames) const {
    const std::string relative = ConfinedRelativePath(storedName);
    if (relative.empty()) return {};
    platform::OutputTree tree(frontEnd_.State().DestFolder);
    ProtectArchive(tree);
    const platform::OutputResult planned = tree.Check(relative);
    switch (planned.status) {
    case platform::OutputStatus::LinkInPath:
        return {ErrorMessage(kErrLinkInPath), false};
    case platform::OutputStatus::Protected:
        return {ErrorMessage(kErrWouldReplaceArchive), false};
    case platform::OutputStatus::InvalidName:
        return {ErrorMessage(kErrInvalidFileName), false};
    default:
        break;
    }
    if (planned.renamed && !libraryFitsNames) return {ErrorMessage(kErrInvalidFileName), false};
    return {{}, planned.renamed};
}

void LibraryWalk::ProtectArchive(platform::OutputTree& tree) const {
    const std::string& archive = frontEnd_.State().ArchivePath;
    tree.Protect(archive);
    for (const std::string& volume : volumes_)
        tree.Protect(volume);
    // The volumes of a set that are still to come, by the names of both
    // libraries' sets (base.part2.rar, base.r00, base.c00).
    const std::string folder = ExtractFilePath(archive);
    std::string stem = ExtractFileName(archive);
    stem.erase(std::min(stem.find('.'), stem.size()));
    for (const char* pattern : {".part*.rar", ".r??", ".c??"})
        for (const std::string& name : platform::ListFiles(folder, stem + pattern))
            tree.Protect(folder + name);
}

bool LibraryWalk::KeepsExisting(const std::string& storedName, bool folder) {
    if (!keepExisting_ || folder) return false;
    const std::string relative = ConfinedRelativePath(storedName);
    const std::string& dest = frontEnd_.State().DestFolder;
    if (relative.empty() || !platform::OutputTree(dest).Exists(relative)) return false;
    if (!keepExisting_(platform::ToNativeSpelling(WithBackslash(dest) + relative))) return false;
    AddEntryRow(ErrorMessage(kErrExistingKept));
    return true;
}

void LibraryWalk::RemoveExisting(const std::string& storedName) const {
    if (!StaysBelow(storedName)) return;
    platform::OutputTree tree(frontEnd_.State().DestFolder);
    ProtectArchive(tree);
    if (tree.Check(storedName).Ok()) tree.RemoveFile(storedName);
}

std::string LibraryWalk::LastVolume() const {
    return volumes_.empty() ? frontEnd_.State().ArchivePath : volumes_.back();
}

bool LibraryWalk::EnsureDestination() const {
    const std::string& destFolder = frontEnd_.State().DestFolder;
    return platform::DirectoryExists(destFolder) || platform::ForceDirectories(destFolder);
}

} // namespace dvl::dvl2
