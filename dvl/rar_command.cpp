// dvl x, t and l on RAR archives: the dvl2 RAR back end run with a console
// in place of its windows, so that both programs share one walk.
#include "archive/text.h"
#include "dvl/commands.h"
#include "dvl2/core/front_end.h"
#include "dvl2/core/rar_back_end.h"
#include "dvl2/core/view.h"
#include "platform/paths.h"
#include "rar/rar_archive.h"

#include <cstdio>

namespace dvl::cli {

namespace {

using dvl2::MainView;
using dvl2::OtherListRow;
using dvl2::WindowLayout;
using dvl2::ZipListRow;
using dvl2::ZipOptionsAnswer;

// Error-log rows go to stderr as "error (file)", list rows to stdout as the
// three cells of the list, tab-separated.
class ConsoleView : public MainView {
public:
    explicit ConsoleView(std::string archive) : archive_(std::move(archive)) {}

    void PrepareLayout(const WindowLayout&) override {}
    void SetFileLabel(const std::string&) override {}
    void SetArchiveLabel(const std::string&) override {}
    void SetEntryBar(int) override {}
    void SetVolumeBar(int, int) override {}
    void AddZipListRow(const ZipListRow&) override {}
    void AddOtherListRow(const OtherListRow& row) override {
        std::printf("%s\t%s\t%s\n", row[0].c_str(), row[1].c_str(), row[2].c_str());
    }
    void AddLogRow(const std::string& archive, const std::string& file,
                   const std::string& error) override {
        // The entry when there is one, else the volume, else the archive.
        const std::string& where = !file.empty() && file != "N/A" ? file
                                   : !archive.empty()             ? archive
                                                                  : archive_;
        std::fprintf(stderr, "%s (%s)\n", error.c_str(), where.c_str());
        ++rows_;
    }
    int LogRowCount() const override { return rows_; }
    void ShowLogModal(const std::string&) override {}
    std::string ShowExtractTo() override { return {}; }
    ZipOptionsAnswer ShowZipOptions(const std::string&) override { return {}; }
    void ShowHelp() override {}

private:
    std::string archive_;
    int rows_ = 0;
};

} // namespace

bool IsRarArchive(TArcType type, const std::string& archivePath) {
    if (type == atRAR || type == atRarExe) return true;
    if (type != atUnknown && type != atNA && type != atUnsupported) return false;
    rar::Archive probe;
    return probe.Open(platform::ToNativePath(archivePath), rar::kOpenList) == 0;
}

int RarCommand(const std::string& shownName, const std::string& archivePath, RarOperation operation,
               const std::string& destFolder, const std::string& password) {
    ConsoleView view(shownName);
    dvl2::FrontEnd frontEnd(view);
    dvl2::FrontState& state = frontEnd.State();
    state.ArchivePath = archivePath;
    state.ArchiveFormat = "RAR";
    if (operation == RarOperation::Extract) {
        state.Mode = dvl2::kModeExtract;
        state.DestFolder = AddBackslash(destFolder);
        if (!platform::ForceDirectories(state.DestFolder)) {
            std::fprintf(stderr, "Cannot create directory (%s)\n",
                         platform::ToNativeSpelling(destFolder).c_str());
            return kExitUsage;
        }
    } else {
        state.Mode = operation == RarOperation::Test ? dvl2::kModeTest : dvl2::kModeList;
        state.DestFolder = ExtractFilePath(state.ArchivePath);
    }
    frontEnd.Rar().SetPassword(password);
    frontEnd.RunOperation();
    if (frontEnd.Rar().ArchiveFailed()) return kExitUsage;
    if (view.LogRowCount() > 0) return kExitEntryFailed;
    if (operation == RarOperation::Test) std::printf("%s: ok\n", shownName.c_str());
    return kExitOk;
}

} // namespace dvl::cli
