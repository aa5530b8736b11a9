#include "archive/errors.h"
#include "archive/zip_common.h"
#include "platform/hooks.h"

#include <gtest/gtest.h>

#include <vector>

namespace dvl {
namespace {

TEST(ErrorTable, MessagesAndFilters) {
    const std::pair<int32_t, const char*> cases[] = {
        {25102, "File is read-only"},
        {25117, "Error closing file"},
        {25136, "Error reading file or unexpected end of file"},
        {25142, "Invalid or unsupported archive type for this operation"},
        {25145, "Inconsistant local header"},
        {25192, "Ambiguous Shannon-Fano decode tree encountered"},
        {25904, "Cabinet does not belong with this set"},
        {26000, "All_files (*.*)|*.*"},
        {26001, "ALL Archives |*.arc;*.arj;*.bh;*.cab;*.enc;*.exe;*.gz;*.ha;*.lha;*.lzh;*.pak;"
                "*.rar;*.tar;*.uue;*.xxe;*.z;*.zip;*.zoo"},
        {26008, "All_BlakHole  (*.bh ,*.exe)|*.bh;*.exe"},
        {26011, "All_UUEs (*.uue,*.xxe,*.enc)|*.uue;*.xxe;*.enc"},
        {26517, "Invalid password"},
        {26999, "Nothing to do"},
        {25116, ""},
        {27000, ""},
        {0, ""},
    };
    for (const auto& [code, text] : cases)
        EXPECT_EQ(ErrorMessage(code), text) << code;
}

TEST(ErrorTable, NoMessageEndsWithAPeriod) {
    for (int32_t code = 25102; code <= 26999; ++code) {
        std::string m = ErrorMessage(code);
        if (!m.empty()) {
            EXPECT_NE(m.back(), '.') << code;
        }
    }
}

struct Reported {
    std::string fn, volume;
    int32_t code;
};

class ErrorReporting : public ::testing::Test {
protected:
    void SetUp() override {
        platform::SetMessageBoxHook([this](const platform::MessageBoxRequest& r) {
            boxes.push_back(r);
            return platform::MessageResult::Ok;
        });
        component.OnError = [this](TZipCommon* sender, const std::string& fn,
                                   const std::string& volume, int32_t code) {
            EXPECT_EQ(sender, &component);
            events.push_back({fn, volume, code});
        };
    }
    void TearDown() override { platform::SetMessageBoxHook(nullptr); }

    TZipCommon component{nullptr};
    std::vector<Reported> events;
    std::vector<platform::MessageBoxRequest> boxes;
};

TEST_F(ErrorReporting, RaiseReportsTheNamePartThenRaisesTheBareMessage) {
    try {
        component.RaiseError("C:\\A\\B.ZIP", "0", kErrClosingFile);
        FAIL() << "no exception";
    } catch (const E_RAISE& e) {
        EXPECT_STREQ(e.what(), "Error closing file");
    }
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].fn, "B.ZIP");
    EXPECT_EQ(events[0].volume, "0");
    EXPECT_EQ(events[0].code, 25117);
    EXPECT_TRUE(boxes.empty());
}

TEST_F(ErrorReporting, ReportReturnsAndWithoutHandlerDoesNothing) {
    component.ReportError("dir\\x.arj", "3", kErrFailsCrc);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].fn, "x.arj");
    EXPECT_EQ(events[0].volume, "3");
    component.OnError = nullptr;
    component.ReportError("x.arj", "0", kErrFailsCrc);
    EXPECT_EQ(events.size(), 1u);
    EXPECT_TRUE(boxes.empty());
    EXPECT_THROW(component.RaiseError("x.arj", "0", kErrFailsCrc), E_RAISE);
}

TEST_F(ErrorReporting, DesignModeShowsBoxesInsteadOfEvents) {
    component.SetDesigning(true);
    EXPECT_THROW(component.RaiseError("C:\\A\\B.ZIP", "0", kErrClosingFile), E_RAISE);
    component.ReportError("C:\\A\\B.ZIP", "0", kErrNothingToDo);
    EXPECT_TRUE(events.empty());
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text, "C:\\A\\B.ZIP\rError closing file.");
    EXPECT_EQ(boxes[0].icon, platform::MessageIcon::Warning);
    EXPECT_EQ(boxes[0].buttons, platform::MessageButtons::Ok);
    EXPECT_EQ(boxes[1].text, "C:\\A\\B.ZIP\rNothing to do.");
    EXPECT_EQ(boxes[1].icon, platform::MessageIcon::None);
}

TEST_F(ErrorReporting, AHandlerThatThrowsEndsTheRaise) {
    component.OnError = [](TZipCommon*, const std::string&, const std::string&, int32_t) {
        throw std::logic_error("from handler");
    };
    EXPECT_THROW(component.RaiseError("a", "0", kErrClosingFile), std::logic_error);
}

} // namespace
} // namespace dvl
