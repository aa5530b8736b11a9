// The main window's rules: the RAR/ACE entry bar, Cancel, Escape, the close
// box, the error log and the end of an operation.
#include "dvl2/core/front_end.h"
#include "tests/dvl2/harness.h"

#include <climits>
#include <gtest/gtest.h>
#include <vector>

namespace dvl::dvl2 {
namespace {

using platform::MessageResult;
using test::MessageBoxes;
using test::ScriptedView;

TEST(EntryBar, SumsBlockPercentagesAndRoundsHalfToEven) {
    struct Case {
        int32_t size;
        std::vector<int64_t> blocks;
        int position;
    };
    const Case cases[] = {
        {200, {1}, 0},       // 0.5 -> 0
        {200, {3}, 2},       // 1.5 -> 2
        {200, {5}, 2},       // 2.5 -> 2
        {3, {1, 1, 1}, 100}, // 33.33.. three times
        {1000, {250, 250}, 50},
        {0, {50, 60}, 110}, // size 0 moves by the byte count: shows full
        {100, {300}, 300},  // above 100 the bar shows full
        {1, {int64_t(1) << 40}, INT_MAX},
    };
    for (const Case& c : cases) {
        EntryBar bar;
        bar.Begin(c.size);
        for (int64_t b : c.blocks)
            bar.Add(b);
        EXPECT_EQ(bar.Position(), c.position) << "size " << c.size;
    }
}

TEST(EntryBar, FrontEndLetsMessagesRunAndAnswersStopAfterCancel) {
    MessageBoxes boxes;
    int pumped = 0;
    platform::SetProcessMessagesHook([&] { ++pumped; });
    ScriptedView view;
    FrontEnd frontEnd(view);
    frontEnd.BeginEntry(400);
    pumped = 0;
    EXPECT_TRUE(frontEnd.EntryData(100));
    EXPECT_EQ(pumped, 1);
    EXPECT_EQ(frontEnd.State().EntryProgress, 25.0);
    EXPECT_EQ(frontEnd.State().EntrySize, 400);
    EXPECT_EQ(view.entryBar, (std::vector<int>{0, 25}));
    boxes.answers.push_back(MessageResult::Yes);
    frontEnd.CancelClick();
    pumped = 0;
    EXPECT_FALSE(frontEnd.EntryData(100));
    EXPECT_EQ(pumped, 1);
    platform::SetProcessMessagesHook(nullptr);
}

TEST(Cancel, AsksByModeAndEndsOnlyOnYes) {
    struct Case {
        int mode;
        MessageResult answer;
        const char* question;
        bool cancelled;
    };
    const Case cases[] = {
        {kModeExtract, MessageResult::No, "Cancel extraction?", false},
        {kModeExtract, MessageResult::Yes, "Cancel extraction?", true},
        {kModeTest, MessageResult::Yes, "Cancel testing?", true},
    };
    for (const Case& c : cases) {
        MessageBoxes boxes;
        boxes.answers.push_back(c.answer);
        ScriptedView view;
        FrontEnd frontEnd(view);
        frontEnd.State().Mode = c.mode;
        frontEnd.CancelClick();
        ASSERT_EQ(boxes.shown.size(), 1u);
        EXPECT_EQ(boxes.shown[0].caption, "Confirm");
        EXPECT_EQ(boxes.shown[0].text, c.question);
        EXPECT_EQ(boxes.shown[0].icon, platform::MessageIcon::Question);
        EXPECT_EQ(boxes.shown[0].buttons, platform::MessageButtons::YesNo);
        EXPECT_EQ(frontEnd.State().CancelRequested, c.cancelled);
        EXPECT_EQ(platform::Terminated(), c.cancelled);
    }
}

TEST(Keys, EscapeEndsOnlyAListing) {
    struct Case {
        int mode, key;
        bool ends;
    };
    for (const Case& c : {Case{kModeList, 27, true}, Case{kModeExtract, 27, false},
                          Case{kModeTest, 27, false}, Case{kModeList, 13, false}}) {
        MessageBoxes boxes;
        ScriptedView view;
        FrontEnd frontEnd(view);
        frontEnd.State().Mode = c.mode;
        frontEnd.KeyDown(c.key);
        EXPECT_EQ(platform::Terminated(), c.ends) << "mode " << c.mode << " key " << c.key;
        EXPECT_FALSE(frontEnd.State().CancelRequested);
        EXPECT_TRUE(boxes.shown.empty());
    }
}

TEST(FinishOperation, ShowsTheLogWhenItHasRowsUnlessTheProgramIsEnding) {
    struct Case {
        int mode;
        int rows;
        bool closedBefore;
        std::vector<std::string> shown;
        bool ends;
    };
    const Case cases[] = {
        {kModeExtract, 0, false, {}, true},
        {kModeExtract, 2, false, {"Error log.."}, true},
        {kModeTest, 1, false, {"Error log.."}, true},
        {kModeExtract, 1, true, {}, true}, // closed or cancelled: no log
        {kModeList, 1, false, {"Archive listings.."}, false},
        {kModeList, 0, false, {}, false},
    };
    for (const Case& c : cases) {
        MessageBoxes boxes;
        ScriptedView view;
        FrontEnd frontEnd(view);
        frontEnd.State().Mode = c.mode;
        for (int i = 0; i < c.rows; ++i)
            frontEnd.AddLogRow("a.zip", "f" + std::to_string(i), "25120");
        if (c.closedBefore) frontEnd.CloseRequested();
        frontEnd.FinishOperation();
        EXPECT_EQ(view.logShownWith, c.shown) << "mode " << c.mode << " rows " << c.rows;
        EXPECT_EQ(platform::Terminated(), c.ends);
        EXPECT_EQ(view.log.size(), size_t(c.rows));
    }
}

TEST(Layout, SizeAndCaptionPerMode) {
    EXPECT_EQ(LayoutForMode(0, "ZIP", "C:\\in\\a.zip"),
              (WindowLayout{Panel::Progress, 365, 142, "Extracting.."}));
    EXPECT_EQ(LayoutForMode(1, "RAR", "C:\\in\\a.rar"),
              (WindowLayout{Panel::Progress, 365, 142, "Testing.."}));
    EXPECT_EQ(LayoutForMode(2, "ZIP", "C:\\in\\a.zip"),
              (WindowLayout{Panel::ZipList, 420, 360, "Contents of [a.zip]"}));
    EXPECT_EQ(LayoutForMode(2, "LHA", "C:\\in\\b.lzh"),
              (WindowLayout{Panel::ZipList, 420, 360, "Contents of [b.lzh]"}));
    EXPECT_EQ(LayoutForMode(2, "RAR", "C:\\in\\c.rar"),
              (WindowLayout{Panel::OtherList, 420, 360, "Contents of [c.rar]"}));
}

} // namespace
} // namespace dvl::dvl2
