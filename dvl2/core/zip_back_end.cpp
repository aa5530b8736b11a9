#include "dvl2/core/zip_back_end.h"

#include "archive/name_code_page.h"
#include "archive/text.h"
#include "archive/unzip/un_zip.h"
#include "dvl2/core/detect.h"
#include "dvl2/core/front_end.h"
#include "dvl2/core/list_rows.h"
#include "platform/hooks.h"
#if DVL2_HAVE_LISTER
#include "archive/lister/lorvex.h"
#endif

namespace dvl::dvl2 {

namespace {

constexpr const char* kListingFailed = "The archive could not be listed";

} // namespace

ZipBackEnd::ZipBackEnd(FrontEnd& frontEnd) : frontEnd_(frontEnd) {
    using namespace std::placeholders;
    unzip_ = new TUnZIP(&owner_);
    unzip_->SetName("UnZIP1");
    unzip_->SetFileSpec("*.*");
    unzip_->SetZipCmntBufSize(2000);
    unzip_->SetCpuType(cptAuto);
    unzip_->OnProgress = std::bind(&ZipBackEnd::UnZIP1Progress, this, _1, _2, _3);
    unzip_->OnError = std::bind(&ZipBackEnd::UnZIP1Error, this, _1, _2, _3, _4);
    unzip_->Loaded();
#if DVL2_HAVE_LISTER
    lorvex_ = new TLorvex(&owner_);
    lorvex_->SetName("Lorvex1");
    lorvex_->SetFileSpec("*.*");
    lorvex_->SetZipCmntBufSize(2000);
    lorvex_->SetShowBlankDirs(true);
    lorvex_->OnRead = std::bind(&ZipBackEnd::Lorvex1Read, this, _1, _2, _3);
    lorvex_->Loaded();
#endif
}

ZipBackEnd::~ZipBackEnd() = default;

void ZipBackEnd::RunZip() {
    FrontState& state = frontEnd_.State();
    state.FileSpec = "*.*";
    if (state.Mode == kModeList) {
        RunList();
    } else if (state.Mode == kModeTest) {
        // A test checks the one archive named.
        ExtractOne(state.ArchivePath, ExtractFileName(state.ArchivePath));
        frontEnd_.FinishOperation();
    } else {
        RunExtract();
    }
}

void ZipBackEnd::RunList() {
#if DVL2_HAVE_LISTER
    dateSeparator_ = SystemDateSeparator();
    const std::string& archive = frontEnd_.State().ArchivePath;
    const ArchiveCodePage codePage(archive);
    lorvex_->SetArchiveFile(archive);
    // Without an OnError handler a failed listing would leave an empty list
    // that looks like an empty archive; the error log says so instead.
    if (!lorvex_->Activate()) {
        frontEnd_.AddLogRow(ExtractFileName(archive), "", kListingFailed);
        frontEnd_.FinishOperation();
    }
#else
    frontEnd_.AddLogRow(ExtractFileName(frontEnd_.State().ArchivePath), "", kListingFailed);
    frontEnd_.FinishOperation();
#endif
}

void ZipBackEnd::RunExtract() {
    FrontState& state = frontEnd_.State();
    MainView& view = frontEnd_.View();
    const std::string folder = ExtractFilePath(state.ArchivePath);
    const std::string siblings = SiblingMask(ExtractFileName(state.ArchivePath));

    if (ListPlainFiles(folder, siblings).size() > 1) {
        const ZipOptionsAnswer answer = view.ShowZipOptions(siblings);
        switch (answer.button) {
        case ZipOptionsAnswer::Button::Ok:
            state.OptionsCancelled = false;
            state.ExtractAllMatching = answer.extractAll;
            state.MatchMask = answer.match;
            state.FileSpec = answer.mask;
            break;
        case ZipOptionsAnswer::Button::Cancel:
            state.OptionsCancelled = true;
            break;
        case ZipOptionsAnswer::Button::Closed:
            break;
        }
        if (state.OptionsCancelled) {
            platform::Terminate();
            return;
        }
    }

    frontEnd_.SetVolumeBar(0, frontEnd_.VolumeBarMaximum());
    unzip_->SetFileSpec(state.FileSpec);

    if (state.ExtractAllMatching) {
        const std::vector<std::string> names = ListPlainFiles(folder, state.MatchMask);
        frontEnd_.SetVolumeBar(0, int(names.size()));
        for (const std::string& name : names) {
            ExtractOne(WithBackslash(folder) + name, name);
            frontEnd_.SetVolumeBar(frontEnd_.VolumeBarPosition() + 1, frontEnd_.VolumeBarMaximum());
            if (state.CancelRequested) break;
        }
    } else {
        ExtractOne(state.ArchivePath, ExtractFileName(state.ArchivePath));
    }
    frontEnd_.FinishOperation();
}

void ZipBackEnd::ExtractOne(const std::string& archivePath, const std::string& label) {
    frontEnd_.View().SetArchiveLabel(label);
    currentArchive_ = label;
    const ArchiveCodePage codePage(archivePath);
    unzip_->SetArchiveFile(archivePath);
    unzip_->SetExtractDir(frontEnd_.State().DestFolder);
    if (frontEnd_.State().Mode == kModeTest)
        unzip_->Test();
    else
        unzip_->Extract();
}

void ZipBackEnd::UnZIP1Progress(TZipCommon*, const std::string& fn, uint8_t progress) {
    frontEnd_.View().SetFileLabel(ExtractFileName(fn));
    frontEnd_.View().SetEntryBar(progress);
}

void ZipBackEnd::UnZIP1Error(TZipCommon*, const std::string& fn, const std::string& volumeID,
                             int32_t code) {
    // The engine passes "0" as VolumeID; the row then names the archive being
    // extracted, so that rows of a run over several archives can be told apart.
    std::string archive = ExtractFileName(volumeID);
    if (archive.empty() || archive == "0") archive = currentArchive_;
    frontEnd_.AddLogRow(archive, fn, std::to_string(code));
}

void ZipBackEnd::Lorvex1Read(TZipCommon* sender, int32_t, int32_t) {
    frontEnd_.View().AddZipListRow(MakeZipListRow(*sender, dateSeparator_));
}

} // namespace dvl::dvl2
