#include "platform/hooks.h"

#include <gtest/gtest.h>

namespace dvl::platform {
namespace {

// Leaves no hook behind for the tests that follow.
struct HooksTest : ::testing::Test {
    void TearDown() override {
        SetProcessMessagesHook(nullptr);
        SetTerminateHook(nullptr);
        SetMessageBoxHook(nullptr);
        ResetTerminated();
    }
};

TEST_F(HooksTest, WithoutHooksNothingHappensAndDefaultsAnswer) {
    ProcessMessages();
    EXPECT_EQ(ShowMessageBox({"c", "t", MessageIcon::Error, MessageButtons::Ok}),
              MessageResult::Ok);
    EXPECT_EQ(ShowMessageBox({"c", "t", MessageIcon::Question, MessageButtons::OkCancel}),
              MessageResult::Ok);
    EXPECT_EQ(ShowMessageBox({"c", "t", MessageIcon::Question, MessageButtons::YesNo}),
              MessageResult::Yes);
    EXPECT_FALSE(Terminated());
    Terminate();
    EXPECT_TRUE(Terminated());
    ResetTerminated();
    EXPECT_FALSE(Terminated());
}

TEST_F(HooksTest, InstalledHooksAreCalled) {
    int pumped = 0, quits = 0;
    MessageBoxRequest seen;
    SetProcessMessagesHook([&] { ++pumped; });
    SetTerminateHook([&] {
        EXPECT_TRUE(Terminated()); // the flag is up before the hook runs
        ++quits;
    });
    SetMessageBoxHook([&](const MessageBoxRequest& r) {
        seen = r;
        return MessageResult::No;
    });

    ProcessMessages();
    ProcessMessages();
    EXPECT_EQ(pumped, 2);
    Terminate();
    EXPECT_EQ(quits, 1);
    EXPECT_EQ(ShowMessageBox({"Dovrel", "Overwrite?", MessageIcon::Warning, MessageButtons::YesNo}),
              MessageResult::No);
    EXPECT_EQ(seen.caption, "Dovrel");
    EXPECT_EQ(seen.text, "Overwrite?");
    EXPECT_EQ(seen.icon, MessageIcon::Warning);
    EXPECT_EQ(seen.buttons, MessageButtons::YesNo);

    // A hook may replace itself while it runs.
    SetProcessMessagesHook([&] { SetProcessMessagesHook([&] { pumped += 10; }); });
    ProcessMessages();
    ProcessMessages();
    EXPECT_EQ(pumped, 12);

    SetMessageBoxHook(nullptr);
    EXPECT_EQ(ShowMessageBox({"c", "t", MessageIcon::None, MessageButtons::YesNo}),
              MessageResult::Yes);
}

} // namespace
} // namespace dvl::platform
