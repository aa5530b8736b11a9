#include "archive/zip_common.h"

#include "archive/dates.h"
#include "archive/text.h"
#include "platform/hooks.h"
#include "platform/paths.h"

#include <algorithm>

namespace dvl {

// --- TlvxFileAttr ---------------------------------------------------------

TlvxFileAttr::TlvxFileAttr(uint32_t mask)
    : mask_(mask), archive_(mask & kArchive), hidden_(mask & kHidden), readOnly_(mask & kReadOnly),
      sysFile_(mask & kSysFile), volumeID_(mask & kVolumeID), directory_(mask & kDirectory) {}

void TlvxFileAttr::SetFlag(bool& flag, uint32_t bit, bool on) {
    flag = on;
    if (on)
        mask_ |= bit;
    else
        mask_ &= ~bit;
}

void TlvxFileAttr::Assign(const TlvxFileAttr& other) {
    archive_ = other.archive_;
    hidden_ = other.hidden_;
    readOnly_ = other.readOnly_;
    sysFile_ = other.sysFile_;
    volumeID_ = other.volumeID_;
    directory_ = other.directory_;
}

// --- TZipCommon -----------------------------------------------------------

TZipCommon::TZipCommon(TComponent* owner)
    : TComponent(owner),
      fileAttr_(std::make_unique<TlvxFileAttr>(TlvxFileAttr::kArchive | TlvxFileAttr::kReadOnly)) {}

TZipCommon::~TZipCommon() = default;

std::string TZipCommon::About() const {
    return "(DV)";
}

const std::string& TZipCommon::ArchiveFile() {
    cancel_ = false;
    Library().cancel = false;
    return archiveFile_;
}

void TZipCommon::SetArchiveFile(const std::string& value) {
    if (value.empty()) {
        archiveFile_.clear();
        arcType_ = atNA;
        return;
    }
    ReadPos = 1;
    Library().entryCount = 0;
    archiveFile_ = SlashToBackslash(value);
    IdentifyArchive();
    std::string folder = ExtractFileDir(archiveFile_);
    if (!folder.empty() && platform::DirectoryExists(folder)) platform::SetCurrentDir(folder);
}

void TZipCommon::SetArcType(TArcType) {
    IdentifyArchive();
}

void TZipCommon::SetExtractDir(const std::string& value) {
    if (!value.empty())
        extractDir_ = AddBackslash(SlashToBackslash(value));
    else
        extractDir_ = AddBackslash(ExtractFileDir(archiveFile_));
}

void TZipCommon::SetFileSpec(const std::string& value) {
    fileSpec_ = value.empty() ? "*.*" : SlashToBackslash(value);
}

void TZipCommon::SetZipCmntBufSize(int32_t value) {
    zipCmntBufSize_ = std::clamp<int32_t>(value, 2000, 32767);
}

TSetDate TZipCommon::SetDateTo() {
    Library().setDateTo = setDateTo_;
    return setDateTo_;
}

void TZipCommon::SetSetDateTo(TSetDate value) {
    setDateTo_ = value;
    Library().setDateTo = value;
}

void TZipCommon::SetCancel(bool value) {
    cancel_ = value;
    Library().cancel = value;
    platform::ProcessMessages();
}

double TZipCommon::ConvertFileDate(uint32_t dosDateTime) const {
    return DosDateTimeToDateValue(dosDateTime);
}

void TZipCommon::MakeOutputName(const std::string& storedName) {
    outputRelativePath_.clear();
    if (storedName.empty()) {
        FileName.clear();
        return;
    }
    std::string n = StoredNameToAnsi(storedName);
    FileName = n;
    if (extractDir_.empty()) SetExtractDir(ExtractFileDir(archiveFile_));
    if (extractDir_.empty()) SetExtractDir(platform::GetCurrentDir());

    std::string dir;
    std::string path;
    if (useStoredDirs_) {
        // Drop a drive ("C:\" or "C:") or one leading backslash.
        if (n.find(':') != std::string::npos)
            n.erase(0, n.find('\\') == 2 ? 3 : 2);
        else if (!n.empty() && n[0] == '\\')
            n.erase(0, 1);
        // What is left of the stored path stays inside the destination.
        path = ConfinedRelativePath(ExtractFilePath(n));
        if (!path.empty() && path.back() != ':') path += '\\';
        dir = AddBackslash(extractDir_) + path;
    } else {
        dir = extractDir_;
    }
    if (dir.find(':') == std::string::npos && (dir.empty() || dir[0] != '\\')) dir = "\\" + dir;
    std::string name = ExtractFileName(n);
    if (name == "." || name == "..") name.clear();
    FileName = dir + name;
    if (!name.empty()) outputRelativePath_ = path + name;
}

std::string TZipCommon::StoredNameToAnsi(const std::string& storedName) const {
    return OemToAnsiName(storedName);
}

void TZipCommon::Report(const std::string& fileName, const std::string& volume, int32_t code,
                        bool warning) {
    if (Designing()) {
        platform::MessageBoxRequest box;
        box.caption = warning ? "Warning" : "";
        box.text = fileName + "\r" + ErrorMessage(code) + ".";
        box.icon = warning ? platform::MessageIcon::Warning : platform::MessageIcon::None;
        platform::ShowMessageBox(box);
        return;
    }
    if (OnError) OnError(this, ExtractFileName(fileName), volume, code);
}

void TZipCommon::ReportError(const std::string& fileName, const std::string& volume, int32_t code) {
    Report(fileName, volume, code, false);
}

void TZipCommon::ReportMissingEntries(uint64_t found, uint64_t recorded) {
    if (found >= recorded) return;
    ReportError(std::to_string(recorded - found) + " of " + std::to_string(recorded) + " entries",
                "0", kErrDirectoryDamaged);
}

bool TZipCommon::RequestVolume(std::string& dir, std::string& fn, const std::string& volumeID) {
    // A volume that is there needs no handler to be found.
    if (!OnNextVolume && !platform::FileExists(fn)) {
        ReportError(archiveFile_, volumeID, kErrFileNotFound);
        return false;
    }
    bool cancel = false;
    const std::string original = dir;
    bool asked = false;
    while (!platform::FileExists(fn) && !cancel) {
        asked = true;
        OnNextVolume(this, dir, fn, volumeID, cancel);
        std::string dirName = ExtractFileName(dir);
        fn = !dirName.empty() ? dirName : ExtractFileName(fn);
        std::string dirPath = ExtractFilePath(dir);
        if (!dirPath.empty())
            dir = dirPath;
        else if (!ExtractFilePath(original).empty())
            dir = ExtractFilePath(original);
        else
            dir = platform::GetCurrentDir();
        fn = ExtractFileName(fn);
        platform::SetCurrentDir(dir);
    }
    if (!asked) dir = platform::GetCurrentDir();
    return !cancel;
}

std::string TZipCommon::NextVolumeName(std::string& dir, std::string& fn, std::string& num) {
    if (platform::FileExists(ExtractFileName(fn)))
        dir = AddBackslash(platform::GetCurrentDir());
    else {
        dir = ExtractFilePath(fn);
        if (dir.empty()) dir = AddBackslash(platform::GetCurrentDir());
    }
    fn = ExtractFileName(fn);
    // Only the extension gives way to the volume's, so that a dotted base
    // name (my.set.arj) finds its volumes (my.set.A01).
    if (size_t dot = fn.rfind('.'); dot != std::string::npos) fn.erase(dot);

    int32_t n = 0;
    TryParseInt(num, n);
    ++n;
    num = std::to_string(n);
    std::string ext;
    if (n >= 1 && n <= 9)
        ext = "A0" + num;
    else if (n >= 10 && n <= 99)
        ext = "A" + num;
    else if (n >= 100 && n <= 999)
        ext = num;
    if (ext.empty()) {
        fn.clear();
        return {};
    }
    fn += "." + ext;
    return dir + fn;
}

bool TZipCommon::OpenInput(const std::string& path) {
    Library().input.Close();
    return Library().input.OpenRead(path);
}

bool TZipCommon::CloseInput() {
    return Library().input.Close();
}

void TZipCommon::SetArchiveSize(int64_t size) {
    archiveSize64_ = size;
    archiveSize_ = int32_t(std::min<int64_t>(size, INT32_MAX));
}

} // namespace dvl
