#include "dvl2/core/library_walk.h"

#include "archive/text.h"
#include "dvl2/core/detect.h"
#include "dvl2/core/front_end.h"
#include "platform/paths.h"

#include <algorithm>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace dvl::dvl2 {

namespace fs = std::filesystem;

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
    SetArchiveLabel(LibraryNamePart(volumePath));
    frontEnd_.SetVolumeBar(frontEnd_.VolumeBarPosition() + 1, frontEnd_.VolumeBarMaximum());
}

bool LibraryWalk::EntryData(int size) {
    return frontEnd_.EntryData(size);
}

void LibraryWalk::RemoveExisting(const std::string& storedName) const {
    if (!StaysBelow(storedName)) return;
    const std::string& destFolder = frontEnd_.State().DestFolder;
    const std::string target = platform::ToNativePath(WithBackslash(destFolder) + storedName);
    struct stat st {};
    if (::lstat(target.c_str(), &st) != 0 || !(S_ISREG(st.st_mode) || S_ISLNK(st.st_mode))) return;
    // The folder that holds it must resolve below the destination, so that
    // a linked folder never leads the deletion elsewhere.
    std::error_code ec;
    const fs::path base = fs::weakly_canonical(
        destFolder.empty() ? fs::current_path(ec) : fs::path(platform::ToNativePath(destFolder)),
        ec);
    if (ec) return;
    const fs::path root = base.has_filename() ? base : base.parent_path();
    const fs::path parent = fs::weakly_canonical(fs::path(target).parent_path(), ec);
    if (ec) return;
    const auto mismatch = std::mismatch(root.begin(), root.end(), parent.begin(), parent.end());
    if (mismatch.first != root.end()) return;
    if (S_ISREG(st.st_mode)) ::chmod(target.c_str(), (st.st_mode & 07777) | S_IWUSR);
    ::unlink(target.c_str());
}

bool LibraryWalk::EnsureDestination() const {
    const std::string& destFolder = frontEnd_.State().DestFolder;
    return platform::DirectoryExists(destFolder) || platform::ForceDirectories(destFolder);
}

} // namespace dvl::dvl2
