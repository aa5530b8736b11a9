#include "dvl2/core/ace_back_end.h"

#include "archive/errors.h"
#include "archive/text.h"
#include "dvl2/core/detect.h"
#include "dvl2/core/front_end.h"
#include "platform/hooks.h"
#include "platform/paths.h"

#include <memory>

namespace dvl::dvl2 {

namespace {

using namespace dvl::unace;

constexpr unsigned kAceFolderAttribute = 0x10;

int OperationForMode(int mode) {
    switch (mode) {
    case kModeExtract:
        return ACE_EXTRACT;
    case kModeTest:
        return ACE_TEST;
    default:
        return ACE_SKIP;
    }
}

// The three tables word the same codes differently; each keeps its own texts.
const char* OpenErrorText(int code) {
    switch (code) {
    case ACE_NO_MEMORY:
        return "Not enough memory";
    case ACE_FILE_NOT_FOUND:
        return "File not found";
    case ACE_OPEN_ERROR:
        return "Error opening file..";
    case ACE_READ_ERROR:
        return "Error reading file..";
    case ACE_CRC_ERROR:
        return "File failed crc check, header broken..";
    case ACE_NOT_ACE:
        return "Not a valid ACE archive..";
    default:
        return nullptr;
    }
}

const char* ProcessErrorText(int code) {
    switch (code) {
    case ACE_DISK_FULL:
        return "Write error: disk is full";
    case ACE_OPEN_ERROR:
        return "Open file error..";
    case ACE_READ_ERROR:
        return "Read error";
    case ACE_WRITE_ERROR:
        return "Write error";
    case ACE_CRC_ERROR:
        return "CRC error";
    case ACE_ENCRYPTED:
        return "file is encrypted";
    case ACE_UNKNOWN_METHOD:
        return "file has been compressed with unknown method";
    default:
        return nullptr;
    }
}

const char* HeaderErrorText(int code) {
    switch (code) {
    case ACE_FILE_NOT_FOUND:
        return "File not found";
    case ACE_OPEN_ERROR:
        return "Open file error";
    case ACE_READ_ERROR:
        return "Read error";
    case ACE_CRC_ERROR:
        return "CRC error";
    case ACE_BAD_HANDLE:
        return "Invalid handle given as parameter";
    default:
        return nullptr;
    }
}

void ShowError(const std::string& text) {
    platform::ShowMessageBox(platform::MessageBoxRequest{
        "Error", text, platform::MessageIcon::Error, platform::MessageButtons::Ok});
}

int ChangeVolumeCallback(void* userData, const char* volume, int mode) {
    return static_cast<AceBackEnd*>(userData)->AceChangeVolume(volume ? volume : "", mode);
}

int ProcessDataCallback(void* userData, const unsigned char*, int size) {
    return static_cast<AceBackEnd*>(userData)->AceProcessData(size);
}

struct ArchiveCloser {
    void operator()(AceArchive* archive) const { ACECloseArchive(archive); }
};
using ArchiveHandle = std::unique_ptr<AceArchive, ArchiveCloser>;

} // namespace

std::string AceUnmappedErrorText(int code) {
    switch (code) {
    case ACE_NO_MEMORY:
        return "Not enough memory";
    case ACE_USER_BREAK:
        return "Process stopped";
    default:
        return "Unknown error (code " + std::to_string(code) + ")";
    }
}

AceBackEnd::AceBackEnd(FrontEnd& frontEnd) : frontEnd_(frontEnd), walk_(frontEnd) {}

bool AceBackEnd::ArchiveAndDestinationReady() {
    if (!platform::FileExists(frontEnd_.State().ArchivePath)) {
        ShowError("Can't find file to extract.\rProcess stopped...");
        return false;
    }
    if (!walk_.EnsureDestination()) {
        ShowError("Can't find directory to extract.\rProcess stopped...");
        return false;
    }
    return true;
}

int AceBackEnd::ReadHeader(AceArchive* archive, AceHeaderData& header) {
    const int r = ACEReadHeader(archive, &header);
    frontEnd_.BeginEntry(header.UnpSize);
    return r;
}

void AceBackEnd::RunAce() {
    FrontState& state = frontEnd_.State();
    archiveFailed_ = false;
    // The error log starts empty: one operation runs per process.
    platform::ProcessMessages();
    if (state.DestFolder.empty()) return;
    if (!ArchiveAndDestinationReady()) {
        archiveFailed_ = true;
        frontEnd_.FinishOperation();
        return;
    }
    state.DestFolder = WithBackslash(state.DestFolder);

    AceOpenData open;
    open.ArcName = state.ArchivePath.c_str();
    open.OpenMode = state.Mode == kModeList ? ACE_OPEN_LIST : ACE_OPEN_EXTRACT;
    open.LibraryField = 4;
    open.ChangeVolProc = ChangeVolumeCallback;
    open.ProcessDataProc = ProcessDataCallback;
    open.UserData = this;
    if (!password_.empty()) open.Password = password_.c_str();
    ArchiveHandle archive(ACEOpenArchive(&open));
    if (open.OpenResult != ACE_OK) {
        archiveFailed_ = true;
        ReportAceOpenError(open.OpenResult);
        frontEnd_.FinishOperation();
        return;
    }

    const int operation = OperationForMode(state.Mode);
    AceHeaderData header;
    int r = ReadHeader(archive.get(), header);
    archiveFailed_ = r != ACE_OK && r != ACE_END_ARCHIVE;
    // A Cancel confirmed before the walk does not stop it.
    state.CancelRequested = false;
    while (r == ACE_OK) {
        walk_.SetFileLabel(header.FileName);
        walk_.SetArchiveLabel(LibraryNamePart(header.ArcName));
        platform::ProcessMessages();
        if (state.Mode == kModeList) walk_.AddListRow(header.UnpSize64);
        int entryOperation = operation;
        LibraryWalk::OutputCheck check;
        if (state.Mode == kModeExtract) {
            check = walk_.CheckOutput(header.FileName, true);
            if (!check.refusal.empty()) {
                // Stepped over with its row; the walk goes on.
                walk_.AddEntryRow(check.refusal);
                entryOperation = ACE_SKIP;
            } else if (walk_.KeepsExisting(header.FileName,
                                           header.FileAttr & kAceFolderAttribute)) {
                entryOperation = ACE_SKIP;
            } else {
                walk_.RemoveExisting(header.FileName);
            }
        }

        const int e = ACEProcessFile(archive.get(), entryOperation, state.DestFolder.c_str());
        if (state.CancelRequested) break;
        // A folder or an empty file that the library fails on is no failure;
        // the full 64-bit size decides, so that an entry of exactly 4 GiB is
        // not taken for an empty one.
        if (e != ACE_OK && header.UnpSize64 != 0) {
            ReportAceProcessError(e);
            // A file that could not be created costs only itself.
            if (e != ACE_OPEN_ERROR) break;
        } else if (e == ACE_OK && check.renamed) {
            walk_.AddEntryRow(ErrorMessage(kErrNameChanged));
        }
        r = ReadHeader(archive.get(), header);
    }
    if (r != ACE_OK) ReportAceHeaderError(r);
    archive.reset();
    frontEnd_.FinishOperation();
}

int AceBackEnd::AceChangeVolume(const std::string& volume, int mode) {
    switch (mode) {
    case ACE_VOL_MISSING:
        walk_.VolumeMissing(LibraryNamePart(volume), "Missing or corrupt archive file");
        return 0;
    case ACE_VOL_OPENED:
        walk_.VolumeOpened(volume);
        return 1;
    default:
        return 0;
    }
}

int AceBackEnd::AceProcessData(int size) {
    return walk_.EntryData(size) ? 1 : 0;
}

void AceBackEnd::ReportAceOpenError(int code) {
    if (code == ACE_WRONG_CONSTANT) {
        ShowError("Wrong constant");
        return;
    }
    // Every failed open gets a row: nothing is extracted, and the run would
    // otherwise end without a word.
    const char* text = OpenErrorText(code);
    frontEnd_.AddLogRow(ExtractFileName(frontEnd_.State().ArchivePath), "N/A",
                        text ? text : AceUnmappedErrorText(code));
}

void AceBackEnd::ReportAceProcessError(int code) {
    if (code == ACE_BAD_HANDLE) {
        ShowError("Invalid handle given as parameter");
        return;
    }
    if (code == ACE_WRONG_CONSTANT) {
        ShowError("Wrong constant");
        return;
    }
    // Results outside the table get a row too, since the walk ends with the
    // entry not processed.
    const char* text = ProcessErrorText(code);
    walk_.AddEntryRow(text ? text : AceUnmappedErrorText(code));
}

void AceBackEnd::ReportAceHeaderError(int code) {
    if (code == ACE_END_ARCHIVE) return;
    // Any other end of the walk leaves entries unread: say so.
    const char* text = HeaderErrorText(code);
    walk_.AddEntryRow(text ? text : AceUnmappedErrorText(code));
}

} // namespace dvl::dvl2
