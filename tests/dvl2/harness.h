// A scripted stand-in for the windows of dvl2: records what the logic shows
// and answers its dialogs and message boxes from a script.
#pragma once

#include "dvl2/core/front_end.h"
#include "dvl2/core/view.h"
#include "platform/hooks.h"

#include <deque>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace dvl::dvl2::test {

struct LogRow {
    std::string archive, file, error;
    bool operator==(const LogRow&) const = default;
};

class ScriptedView : public MainView {
public:
    // Recorded.
    std::vector<WindowLayout> layouts;
    std::vector<std::string> fileLabels;
    std::vector<std::string> archiveLabels;
    std::vector<int> entryBar;
    std::vector<std::pair<int, int>> volumeBar;
    std::vector<ZipListRow> listRows;
    std::vector<OtherListRow> otherRows;
    std::vector<LogRow> log;
    std::vector<std::string> logShownWith;
    std::vector<std::string> zipOptionsShownWith;
    int extractToShown = 0;
    int helpShown = 0;

    // Answers.
    std::string extractToAnswer;
    std::function<ZipOptionsAnswer(const std::string& match)> zipOptionsAnswer;
    // Called after each file label change (a progress report).
    std::function<void()> onProgress;

    void PrepareLayout(const WindowLayout& layout) override { layouts.push_back(layout); }
    void SetFileLabel(const std::string& text) override {
        fileLabels.push_back(text);
        if (onProgress && !text.empty()) onProgress();
    }
    void SetArchiveLabel(const std::string& text) override { archiveLabels.push_back(text); }
    void SetEntryBar(int position) override { entryBar.push_back(position); }
    void SetVolumeBar(int position, int maximum) override {
        volumeBar.emplace_back(position, maximum);
    }
    void AddZipListRow(const ZipListRow& row) override { listRows.push_back(row); }
    void AddOtherListRow(const OtherListRow& row) override { otherRows.push_back(row); }
    void AddLogRow(const std::string& archive, const std::string& file,
                   const std::string& error) override {
        log.push_back({archive, file, error});
    }
    int LogRowCount() const override { return int(log.size()); }
    void ShowLogModal(const std::string& caption) override { logShownWith.push_back(caption); }
    std::string ShowExtractTo() override {
        ++extractToShown;
        return extractToAnswer;
    }
    ZipOptionsAnswer ShowZipOptions(const std::string& match) override {
        zipOptionsShownWith.push_back(match);
        return zipOptionsAnswer ? zipOptionsAnswer(match) : ZipOptionsAnswer{};
    }
    void ShowHelp() override { ++helpShown; }
};

// Installs hooks that record message boxes and answer them from a queue
// (Ok, or No for Yes/No questions, when the queue is empty); removes them
// again on destruction.
class MessageBoxes {
public:
    MessageBoxes() {
        platform::ResetTerminated();
        platform::SetTerminateHook(nullptr);
        platform::SetProcessMessagesHook(nullptr);
        platform::SetMessageBoxHook([this](const platform::MessageBoxRequest& request) {
            shown.push_back(request);
            if (!answers.empty()) {
                const platform::MessageResult answer = answers.front();
                answers.pop_front();
                return answer;
            }
            return request.buttons == platform::MessageButtons::YesNo ? platform::MessageResult::No
                                                                      : platform::MessageResult::Ok;
        });
    }
    ~MessageBoxes() {
        platform::SetMessageBoxHook(nullptr);
        platform::ResetTerminated();
    }
    std::vector<platform::MessageBoxRequest> shown;
    std::deque<platform::MessageResult> answers;
};

} // namespace dvl::dvl2::test
