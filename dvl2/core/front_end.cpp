#include "dvl2/core/front_end.h"

#include "archive/text.h"
#include "dvl2/core/ace_back_end.h"
#include "dvl2/core/detect.h"
#include "dvl2/core/layer_back_end.h"
#include "dvl2/core/rar_back_end.h"
#include "dvl2/core/zip_back_end.h"
#include "platform/hooks.h"
#include "platform/paths.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>

namespace dvl::dvl2 {

namespace {

using platform::MessageBoxRequest;
using platform::MessageButtons;
using platform::MessageIcon;

constexpr int kKeyEscape = 27;

const char* const kUsageNote =
    "Dovrel cannot be run this way..\r\rUsage: Right click on an associated file/archive in "
    "explorer\rand select desired action..";
const char* const kNoteCaption = "Dovrel - NOTE! -";

void ShowNote(const std::string& caption, const std::string& text, MessageIcon icon) {
    platform::ShowMessageBox(MessageBoxRequest{caption, text, icon, MessageButtons::Ok});
}

// The first argument as the components take it: Windows form, absolute so
// that its folder is known also when the program is started from a shell.
std::string ArchivePathFromArgument(const std::string& arg) {
    if (arg.empty()) return arg;
    std::error_code ec;
    const std::filesystem::path p = std::filesystem::absolute(arg, ec);
    return platform::ToWindowsPath(ec ? arg : p.lexically_normal().string());
}

} // namespace

int EntryBar::Position() const {
    const double rounded = std::nearbyint(progress_);
    if (!(rounded < double(INT_MAX))) return INT_MAX;
    if (rounded < double(INT_MIN)) return INT_MIN;
    return int(rounded);
}

WindowLayout LayoutForMode(int mode, const std::string& format, const std::string& archivePath) {
    switch (mode) {
    case kModeExtract:
        return {Panel::Progress, 365, 142, "Extracting.."};
    case kModeTest:
        return {Panel::Progress, 365, 142, "Testing.."};
    default: {
        const std::string caption = "Contents of [" + ExtractFileName(archivePath) + "]";
        return {format == "ZIP" || IsLayerFormat(format) ? Panel::ZipList : Panel::OtherList, 420,
                360, caption};
    }
    }
}

std::string LogCaption(int mode) {
    return mode == kModeList ? "Archive listings.." : "Error log..";
}

FrontEnd::FrontEnd(MainView& view)
    : view_(view), zip_(std::make_unique<ZipBackEnd>(*this)),
      layer_(std::make_unique<LayerBackEnd>(*this)), rar_(std::make_unique<RarBackEnd>(*this)),
      ace_(std::make_unique<AceBackEnd>(*this)) {}

FrontEnd::~FrontEnd() = default;

std::string FrontEnd::ArchiveFolder() const {
    return ExtractFilePath(state_.ArchivePath);
}

void FrontEnd::FormShow(const std::string& arg1, const std::string& arg2) {
    state_.Mode = kModeExtract;
    state_.ArchivePath = ArchivePathFromArgument(arg1);
    if (state_.ArchivePath.empty()) {
        ShowNote(kNoteCaption, kUsageNote, MessageIcon::Warning);
        platform::Terminate();
        return;
    }
    if (!platform::FileExists(state_.ArchivePath)) {
        platform::Terminate();
        return;
    }
    std::string ioError;
    const std::optional<std::string> format = DetectFormat(state_.ArchivePath, &ioError);
    if (!format) {
        ShowNote("Error", ioError, MessageIcon::Error);
        platform::Terminate();
        return;
    }
    state_.ArchiveFormat = *format;
    // Beyond the tags of the first bytes, the formats the extraction layer
    // takes, by the components' detection.
    if (state_.ArchiveFormat.empty()) state_.ArchiveFormat = LayerFormatOf(state_.ArchivePath);

    SetVolumeBar(volumePosition_,
                 CountVolumes(ArchiveFolder(), ExtractFileName(state_.ArchivePath)));

    if (!EvaluateSwitch(arg2)) return;

    if (state_.ArchiveFormat.empty()) {
        ShowNote(kApplicationTitle, "No files to extract, or un-recognized format..",
                 MessageIcon::None);
        platform::Terminate();
        return;
    }
    view_.SetFileLabel("");
    view_.SetArchiveLabel("");
    state_.StartPending = true;
    view_.PrepareLayout(LayoutForMode(state_.Mode, state_.ArchiveFormat, state_.ArchivePath));
}

bool FrontEnd::EvaluateSwitch(const std::string& sw) {
    if (sw == "/n") {
        state_.DestFolder = view_.ShowExtractTo();
        if (state_.DestFolder.empty()) {
            platform::Terminate();
            return false;
        }
    } else if (sw == "/h") {
        state_.DestFolder = ArchiveFolder();
    } else if (sw == "/d") {
        const std::string folder =
            WithBackslash(ArchiveFolder()) + NameWithoutLast4(ExtractFileName(state_.ArchivePath));
        if (platform::DirectoryExists(folder)) {
            ShowNote("Error", "Cannot create directory.. (directory already exists)",
                     MessageIcon::Error);
            platform::Terminate();
            return false;
        }
        if (::mkdir(platform::ToNativePath(folder).c_str(), 0777) != 0) {
            ShowNote("Error", std::strerror(errno), MessageIcon::Error);
            platform::Terminate();
            return false;
        }
        state_.DestFolder = folder;
    } else if (sw == "/t") {
        if (state_.ArchiveFormat == "ACE" || state_.ArchiveFormat == "RAR" ||
            state_.ArchiveFormat == "ZIP" || IsLayerFormat(state_.ArchiveFormat)) {
            state_.DestFolder = ArchiveFolder();
            state_.Mode = kModeTest;
        } else {
            ShowNote(kNoteCaption,
                     "\"Test Archive\"\r\rNot yet implemented for this archive format..",
                     MessageIcon::Warning);
            platform::Terminate();
            return false;
        }
    } else if (sw == "/l" || sw.empty()) {
        state_.DestFolder = ArchiveFolder();
        state_.Mode = kModeList;
    } else if (sw == "/?") {
        view_.ShowHelp();
        platform::Terminate();
        return false;
    }
    return true;
}

bool FrontEnd::TakeStartPending() {
    if (!state_.StartPending) return false;
    state_.StartPending = false;
    return true;
}

void FrontEnd::RunOperation() {
    if (state_.ArchiveFormat == "ZIP")
        zip_->RunZip();
    else if (state_.ArchiveFormat == "RAR")
        rar_->RunRar();
    else if (state_.ArchiveFormat == "ACE")
        ace_->RunAce();
    else if (IsLayerFormat(state_.ArchiveFormat))
        layer_->RunLayer();
}

void FrontEnd::CancelClick() {
    const std::string question =
        state_.Mode == kModeTest ? "Cancel testing?" : "Cancel extraction?";
    const auto answer = platform::ShowMessageBox(
        MessageBoxRequest{"Confirm", question, MessageIcon::Question, MessageButtons::YesNo});
    if (answer != platform::MessageResult::Yes) return;
    state_.CancelRequested = true;
    platform::Terminate();
}

void FrontEnd::KeyDown(int key) {
    if (key == kKeyEscape && state_.Mode == kModeList) platform::Terminate();
}

void FrontEnd::CloseRequested() {
    platform::Terminate();
}

void FrontEnd::AddLogRow(const std::string& archive, const std::string& file,
                         const std::string& error) {
    view_.AddLogRow(archive, file, error);
}

void FrontEnd::FinishOperation() {
    if (view_.LogRowCount() > 0 && !platform::Terminated())
        view_.ShowLogModal(LogCaption(state_.Mode));
    if (state_.Mode != kModeList) platform::Terminate();
}

void FrontEnd::BeginEntry(int32_t unpackedSize) {
    entryBar_.Begin(unpackedSize);
    state_.EntryProgress = 0;
    state_.EntrySize = unpackedSize;
    view_.SetEntryBar(0);
}

bool FrontEnd::EntryData(int64_t blockSize) {
    entryBar_.Add(blockSize);
    state_.EntryProgress = entryBar_.Progress();
    view_.SetEntryBar(entryBar_.Position());
    platform::ProcessMessages();
    return !state_.CancelRequested;
}

void FrontEnd::SetVolumeBar(int position, int maximum) {
    volumePosition_ = position;
    volumeMaximum_ = maximum;
    view_.SetVolumeBar(position, maximum);
}

} // namespace dvl::dvl2
