#include "dvl2/core/rar_back_end.h"

#include "archive/errors.h"
#include "archive/lister/lorvex.h"
#include "archive/text.h"
#include "dvl2/core/front_end.h"
#include "platform/hooks.h"
#include "platform/paths.h"
#include "rar/rar_archive.h"

namespace dvl::dvl2 {

namespace {

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

// The library ends its walk at an archive cut at a header as at a whole one;
// the lister's reader looks for the end that the archive's format marks.
bool EndsWhole(const std::string& volume) {
    const std::string folder = platform::GetCurrentDir();
    TLorvex lister(nullptr);
    bool cut = false;
    lister.OnRead = [](TZipCommon*, int32_t, int32_t) {};
    lister.OnError = [&cut](TZipCommon*, const std::string&, const std::string&, int32_t code) {
        cut |= code == kErrUnexpectedEnd;
    };
    lister.SetArchiveFile(volume);
    lister.Activate();
    platform::SetCurrentDir(folder); // the lister makes the archive's folder the current one
    return !cut;
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

RarBackEnd::RarBackEnd(FrontEnd& frontEnd) : frontEnd_(frontEnd), walk_(frontEnd) {}

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
        walk_.SetFileLabel(ExtractFileName(storedName));
        walk_.SetArchiveLabel(LibraryNamePart(header.ArcName));
        if (state.Mode == kModeList) walk_.AddListRow(header.UnpSize64);
        platform::ProcessMessages();
        if (state.CancelRequested) break;
        int entryOperation = operation;
        if (state.Mode == kModeExtract) {
            const std::string refusal = ExtractRefusal(header, storedName);
            if (!refusal.empty()) {
                // Stepped over with its row; the walk goes on.
                walk_.AddEntryRow(refusal);
                entryOperation = rar::kSkip;
            } else if (walk_.KeepsExisting(storedName, header.Flags & rar::kFlagDirectory)) {
                entryOperation = rar::kSkip;
            } else {
                walk_.RemoveExisting(storedName);
            }
        }

        const int e = archive.ProcessFile(entryOperation, dest);
        // A folder or an empty file that the library fails to "extract" is
        // no failure; the full 64-bit size decides, so that an entry of
        // exactly 4 GiB is not taken for an empty one.
        if (e != 0 && header.UnpSize64 != 0) {
            if (!state.CancelRequested || ProcessErrorText(e)) ReportRarProcessError(e);
            // A file that could not be created costs only itself.
            if (e != rar::kECreate || state.CancelRequested) break;
        }
        r = archive.ReadHeader(header);
    }
    if (r == rar::kEndArchive && state.Mode != kModeList && !EndsWhole(walk_.LastVolume())) {
        walk_.AddEntryRow("Unexpected end of archive");
    } else if (r == rar::kBadData) {
        walk_.AddEntryRow("File header broken");
    } else if (r != 0 && r != rar::kEndArchive) {
        // Any other end of the walk means entries were left unread (an
        // encrypted header without a password, a missing volume): say so.
        const char* text = ProcessErrorText(r);
        walk_.AddEntryRow(text ? text : RarUnmappedErrorText(r));
    }
    archive.Close();
    frontEnd_.FinishOperation();
}

std::string RarBackEnd::ExtractRefusal(const rar::Header& header,
                                       const std::string& storedName) const {
    // Links are never made from archive data.
    if (header.IsLink) return ErrorMessage(kErrLinkEntry);
    return walk_.CheckOutput(storedName, false).refusal;
}

int RarBackEnd::RarChangeVolume(const std::string& volume, int mode) {
    if (mode == rar::kVolumeAsk) {
        walk_.VolumeMissing(volume, "Can't find file");
        return 0;
    }
    walk_.VolumeOpened(volume);
    return 1;
}

int RarBackEnd::RarProcessData(int size) {
    return walk_.EntryData(size) ? 1 : 0;
}

void RarBackEnd::ReportRarOpenError(int code) {
    // Every failed open gets a row: nothing is extracted, and an archive
    // with encrypted headers would otherwise end without a word.
    const char* text = OpenErrorText(code);
    walk_.AddEntryRow(text ? text : RarUnmappedErrorText(code));
}

void RarBackEnd::ReportRarProcessError(int code) {
    // Results outside the mapped table get a row too, since the walk ends
    // with the entry not extracted.
    const char* text = ProcessErrorText(code);
    walk_.AddEntryRow(text ? text : RarUnmappedErrorText(code));
}

} // namespace dvl::dvl2
