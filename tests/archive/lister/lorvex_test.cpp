// The lister's driver: the checks before a walk, the order of the events, the
// message-queue rule, cancel, and the Unix-time conversion.
#include "archive/lister/lorvex.h"
#include "platform/hooks.h"
#include "tests/archive/lister/listing.h"
#include "tests/support/test_support.h"
#include "tests/support/zip_writer.h"

#include <gtest/gtest.h>

namespace dvl {
namespace {

using test::Bytes;

namespace fs = std::filesystem;
using test::Listing;

fs::path ZipOf(const test::TempDir& dir, const std::vector<std::string>& names) {
    test::ZipWriter w;
    for (const auto& n : names) {
        bool folder = !n.empty() && n.back() == '/';
        w.Add({.name = n,
               .data = folder ? std::vector<uint8_t>{} : Bytes("data of " + n),
               .externalAttr = folder ? 0x10u : 0x20u});
    }
    test::WriteFile(dir / "t.zip", w.Build());
    return dir / "t.zip";
}

TEST(LorvexActivate, ChecksComeBeforeAnythingIsOpened) {
    test::KeepCurrentDir keep;
    test::TempDir dir;
    test::WriteFile(dir / "text.txt", std::string("nothing an archiver wrote"));
    test::WriteFile(dir / "tiny.zip", std::string("PK"));
    const struct {
        const char* what;
        fs::path file;
        bool assignOnRead;
        std::vector<std::string> events;
    } cases[] = {
        {"no archive", {}, true, {}},
        {"no OnRead handler", ZipOf(dir, {"a.txt"}), false, {"Error:25170"}},
        {"unknown type", dir / "text.txt", true, {"Error:25202"}},
        {"file error", dir / "tiny.zip", true, {"Error:25138"}},
    };
    for (const auto& c : cases) {
        Listing out;
        TLorvex lister(nullptr);
        test::Record(lister, out);
        if (!c.assignOnRead) lister.OnRead = nullptr;
        if (!c.file.empty()) lister.SetArchiveFile(test::Win(c.file));
        EXPECT_FALSE(lister.Activate()) << c.what;
        EXPECT_EQ(out.events, c.events) << c.what;
    }
}

TEST(LorvexProtocol, EveryHeaderIsAnnouncedAndOnlyMatchingEntriesAreReported) {
    test::TempDir dir;
    auto zip = ZipOf(dir, {"a.txt", "docs/", "b.doc", "docs/c.txt"});
    Listing out = test::List(zip, [](TLorvex& l) {
        l.SetFileSpec("*.txt");
        l.SetShowBlankDirs(true);
    });
    EXPECT_TRUE(out.result);
    EXPECT_EQ(out.events,
              (std::vector<std::string>{"Activate", "ReadFile", "Begin", "Read", "End", "ReadFile",
                                        "Begin", "Read", "End", "ReadFile", "ReadFile", "Begin",
                                        "Read", "End", "Totals:2", "Deactivate"}));
    EXPECT_EQ(out.readFiles, (std::vector<std::string>{"a.txt", "docs\\", "b.doc", "docs\\c.txt"}));
    ASSERT_EQ(out.entries.size(), 3u);
    // The folder is reported with the number of the file before it and adds
    // nothing to the totals.
    EXPECT_EQ(out.entries[1].name, "docs\\");
    EXPECT_EQ(out.entries[1].number, 1);
    EXPECT_EQ(out.entries[2].number, 2);
    EXPECT_EQ(out.totalUnpacked, int64_t(std::string("data of a.txt").size() +
                                         std::string("data of docs/c.txt").size()));
}

TEST(LorvexProtocol, MessageQueueRunsBeforeEveryEntryButEachTenth) {
    test::TempDir dir;
    std::vector<std::string> names;
    for (int i = 1; i <= 25; ++i)
        names.push_back("f" + std::to_string(i) + ".txt");
    auto zip = ZipOf(dir, names);

    Listing out;
    platform::SetProcessMessagesHook([&] { out.events.push_back("Pump"); });
    {
        test::KeepCurrentDir keep;
        TLorvex lister(nullptr);
        test::Record(lister, out);
        lister.SetArchiveFile(test::Win(zip));
        out.events.clear();
        EXPECT_TRUE(lister.Activate());
    }
    platform::SetProcessMessagesHook(nullptr);

    int number = 0;
    for (size_t i = 0; i < out.events.size(); ++i) {
        if (out.events[i] != "Begin") continue;
        ++number;
        EXPECT_EQ(out.events[i - 1] == "Pump", number % 10 != 0) << "entry " << number;
    }
    EXPECT_EQ(number, 25);
}

TEST(LorvexProtocol, CancelInAHandlerEndsTheWalkWithTotals) {
    test::TempDir dir;
    auto zip = ZipOf(dir, {"1.txt", "2.txt", "3.txt", "4.txt", "5.txt"});
    test::KeepCurrentDir keep;
    Listing out;
    TLorvex lister(nullptr);
    test::Record(lister, out);
    auto record = lister.OnRead;
    lister.OnRead = [&](TZipCommon* sender, int32_t offset, int32_t number) {
        record(sender, offset, number);
        if (number == 2) lister.SetCancel(true);
    };
    lister.SetArchiveFile(test::Win(zip));
    EXPECT_TRUE(lister.Activate());
    EXPECT_EQ(test::Names(out), (std::vector<std::string>{"1.txt", "2.txt"}));
    EXPECT_EQ(out.readFiles.size(), 2u);
    ASSERT_GE(out.events.size(), 2u);
    EXPECT_EQ(out.events[out.events.size() - 2], "Totals:2");
    EXPECT_FALSE(Library().cancel);

    // The next listing runs in full.
    lister.SetArchiveFile(test::Win(zip));
    out = {};
    lister.OnRead = record;
    EXPECT_TRUE(lister.Activate());
    EXPECT_EQ(out.entries.size(), 5u);
}

TEST(ConvertUnixDate, LocalDateAndTimeOfEverySecond) {
    const struct {
        const char* tz;
        int64_t seconds;
        const char* date;
    } cases[] = {
        {"UTC0", 31539600, "1971-01-01 01:00:00"},
        {"UTC0", 86400, "1970-01-02 00:00:00"}, // a midnight is the start of its day
        {"UTC0", 0, "1970-01-01 00:00:00"},
        {"UTC0", -1, "1969-12-31 23:59:59"},
        {"UTC0", 951782400, "2000-02-29 00:00:00"},
        {"UTC0", 4102444800, "2100-01-01 00:00:00"},
        {"<+03>-3", 0, "1970-01-01 03:00:00"},         // bias -180 minutes
        {"<-0530>5:30", 86400, "1970-01-01 18:30:00"}, // bias 330 minutes
    };
    for (const auto& c : cases) {
        test::TimeZone zone(c.tz);
        EXPECT_EQ(test::DateText(TLorvex::ConvertUnixDate(c.seconds)), c.date)
            << c.tz << " " << c.seconds;
    }
}

} // namespace
} // namespace dvl
