#include "dvl/library_command.h"

#include "archive/text.h"
#include "dvl2/core/front_end.h"
#include "dvl2/core/view.h"
#include "platform/hooks.h"
#include "platform/paths.h"

#include <algorithm>
#include <cstdio>

namespace dvl::cli {

namespace {

using dvl2::MainView;
using dvl2::OtherListRow;
using dvl2::WindowLayout;
using dvl2::ZipListRow;
using dvl2::ZipOptionsAnswer;

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
        Report(error, where);
        ++rows_;
    }
    int LogRowCount() const override { return rows_; }
    void ShowLogModal(const std::string&) override {}
    std::string ShowExtractTo() override { return {}; }
    ZipOptionsAnswer ShowZipOptions(const std::string&) override { return {}; }
    void ShowHelp() override {}

    // A message box of the back end: its text on one line, about the archive.
    void ShowBox(std::string text) {
        std::replace(text.begin(), text.end(), '\r', ' ');
        Report(text, archive_);
        ++boxes_;
    }
    int BoxCount() const { return boxes_; }

private:
    static void Report(const std::string& error, const std::string& where) {
        std::fprintf(stderr, "%s (%s)\n", error.c_str(), where.c_str());
    }

    std::string archive_;
    int rows_ = 0;
    int boxes_ = 0;
};

// Routes the message boxes to the view while a command runs.
class BoxesToView {
public:
    explicit BoxesToView(ConsoleView& view) {
        platform::SetMessageBoxHook([&view](const platform::MessageBoxRequest& request) {
            view.ShowBox(request.text);
            return platform::MessageResult::Ok;
        });
    }
    ~BoxesToView() { platform::SetMessageBoxHook(nullptr); }
    BoxesToView(const BoxesToView&) = delete;
    BoxesToView& operator=(const BoxesToView&) = delete;
};

} // namespace

int LibraryCommand(const LibraryBackEnd& backEnd, const std::string& shownName,
                   const std::string& archivePath, LibraryOperation operation,
                   const std::string& destFolder) {
    ConsoleView view(shownName);
    const BoxesToView boxes(view);
    dvl2::FrontEnd frontEnd(view);
    dvl2::FrontState& state = frontEnd.State();
    state.ArchivePath = archivePath;
    state.ArchiveFormat = backEnd.format;
    if (operation == LibraryOperation::Extract) {
        state.Mode = dvl2::kModeExtract;
        state.DestFolder = AddBackslash(destFolder);
        if (!platform::ForceDirectories(state.DestFolder)) {
            std::fprintf(stderr, "Cannot create directory (%s)\n",
                         platform::ToNativeSpelling(destFolder).c_str());
            return kExitUsage;
        }
    } else {
        state.Mode = operation == LibraryOperation::Test ? dvl2::kModeTest : dvl2::kModeList;
        state.DestFolder = ExtractFilePath(state.ArchivePath);
    }
    if (backEnd.prepare) backEnd.prepare(frontEnd);
    frontEnd.RunOperation();
    if (backEnd.archiveFailed(frontEnd)) return kExitUsage;
    if (view.LogRowCount() > 0 || view.BoxCount() > 0) return kExitEntryFailed;
    if (operation == LibraryOperation::Test) std::printf("%s: ok\n", shownName.c_str());
    return kExitOk;
}

} // namespace dvl::cli
