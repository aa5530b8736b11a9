#include "dvl2/core/rar_back_end.h"

#include "archive/text.h"
#include "dvl2/core/detect.h"
#include "dvl2/core/front_end.h"
#include "platform/hooks.h"
#include "platform/paths.h"
#include "rar/rar_archive.h"

#include <algorithm>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace dvl::dvl2 {

namespace {

namespace fs = std::filesystem;

// The file-name part of a path the library reports (native form).
std::string NamePart(const std::string& nativePath) {
    return ExtractFileName(platform::ToWindowsPath(nativePath));
}

int OperationForMode(int mode) {
    switch (mode) {
    case kModeExtract:
        return rar::kExtract;
    case kModeTest:
        return rar::kTest;
    default:
        return rar::kSkip;
    }
}

const char* OpenErrorText(int code) {
    switch (code) {
    case rar::kNoMemory:
        return "Not enough memory";
    case rar::kBadData:
        return "Failed CRC check, broken header..";
    case rar::kBadArchive:
        return "Not a valid RAR archive..";
    case rar::kEOpen:
        return "Cannot open archive";
    default:
        return nullptr;
    }
}

const char* ProcessErrorText(int code) {
    switch (code) {
    case rar::kBadData:
        return "CRC error";
    case rar::kBadArchive:
        return "Bad volume";
    case rar::kUnknownFormat:
        return "Unknown archive format";
    case rar::kEOpen:
        return "Volume open error";
    case rar::kECreate:
        return "File create error";
    case rar::kEClose:
        return "File close error";
    case rar::kERead:
        return "Read error";
    case rar::kEWrite:
        return "Write error";
    default:
        return nullptr;
    }
}

// True when every component of a stored name (Windows form) is a plain name:
// no root, no drive, no "." or "..".
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

} // namespace

std::string RarUnmappedErrorText(int code) {
    switch (code) {
    case rar::kMissingPassword:
        return "Password required";
    case rar::kBadPassword:
        return "Wrong password";
    default:
        return "Unknown error (code " + std::to_string(code) + ")";
    }
}

RarBackEnd::RarBackEnd(FrontEnd& frontEnd) : frontEnd_(frontEnd) {}

void RarBackEnd::SetFileLabel(const std::string& text) {
    fileLabel_ = text;
    frontEnd_.View().SetFileLabel(text);
}

void RarBackEnd::SetArchiveLabel(const std::string& text) {
    archiveLabel_ = text;
    frontEnd_.View().SetArchiveLabel(text);
}

void RarBackEnd::RunRar() {
    FrontState& state = frontEnd_.State();
    archiveFailed_ = false;
    // The error log starts empty: one operation runs per process.
    platform::ProcessMessages();

    rar::Archive archive;
    const int openResult =
        archive.Open(platform::ToNativePath(state.ArchivePath),
                     state.Mode == kModeList ? rar::kOpenList : rar::kOpenExtract);
    if (openResult != 0) {
        archiveFailed_ = true;
        ReportRarOpenError(openResult);
        frontEnd_.FinishOperation();
        return;
    }
    archive.SetChangeVolumeProc(
        [this](const std::string& volume, int mode) { return RarChangeVolume(volume, mode); });
    archive.SetProcessDataProc(
        [this](const unsigned char*, int size) { return RarProcessData(size); });
    if (!password_.empty()) archive.SetPassword(password_);

    const std::string dest = platform::ToNativePath(state.DestFolder);
    const int operation = OperationForMode(state.Mode);
    rar::Header header;
    int r = archive.ReadHeader(header);
    archiveFailed_ = r != 0 && r != rar::kEndArchive;
    while (r == 0) {
        frontEnd_.BeginEntry(int32_t(header.UnpSize));
        const std::string storedName = platform::ToWindowsPath(header.FileName);
        SetFileLabel(ExtractFileName(storedName));
        SetArchiveLabel(NamePart(header.ArcName));
        if (state.Mode == kModeList)
            frontEnd_.View().AddOtherListRow(
                {archiveLabel_, fileLabel_, std::to_string(header.UnpSize64)});
        platform::ProcessMessages();
        if (state.CancelRequested) break;
        if (state.Mode == kModeExtract) RemoveExisting(storedName);

        const int e = archive.ProcessFile(operation, dest);
        // A folder or an empty file that the library fails to "extract" is
        // no failure; the full 64-bit size decides, so that an entry of
        // exactly 4 GiB is not taken for an empty one.
        if (e != 0 && header.UnpSize64 != 0) {
            if (!state.CancelRequested || ProcessErrorText(e)) ReportRarProcessError(e);
            break;
        }
        r = archive.ReadHeader(header);
    }
    if (r == rar::kBadData) {
        frontEnd_.AddLogRow(archiveLabel_, fileLabel_, "File header broken");
    } else if (r != 0 && r != rar::kEndArchive) {
        // Any other end of the walk means entries were left unread (an
        // encrypted header without a password, a missing volume): say so.
        const char* text = ProcessErrorText(r);
        frontEnd_.AddLogRow(archiveLabel_, fileLabel_, text ? text : RarUnmappedErrorText(r));
    }
    archive.Close();
    frontEnd_.FinishOperation();
}

int RarBackEnd::RarChangeVolume(const std::string& volume, int mode) {
    if (mode == rar::kVolumeAsk) {
        frontEnd_.AddLogRow(volume, "N/A", "Can't find file");
        return 0;
    }
    SetArchiveLabel(NamePart(volume));
    frontEnd_.SetVolumeBar(frontEnd_.VolumeBarPosition() + 1, frontEnd_.VolumeBarMaximum());
    return 1;
}

int RarBackEnd::RarProcessData(int size) {
    return frontEnd_.EntryData(size) ? 1 : 0;
}

void RarBackEnd::ReportRarOpenError(int code) {
    // Every failed open gets a row: nothing is extracted, and an archive
    // with encrypted headers would otherwise end without a word.
    const char* text = OpenErrorText(code);
    frontEnd_.AddLogRow(archiveLabel_, fileLabel_, text ? text : RarUnmappedErrorText(code));
}

void RarBackEnd::ReportRarProcessError(int code) {
    // Results outside the mapped table get a row too, since the walk ends
    // with the entry not extracted.
    const char* text = ProcessErrorText(code);
    frontEnd_.AddLogRow(archiveLabel_, fileLabel_, text ? text : RarUnmappedErrorText(code));
}

void RarBackEnd::RemoveExisting(const std::string& storedName) {
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

} // namespace dvl::dvl2
