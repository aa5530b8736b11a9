// The configuration window and the new-file-type dialog as real widgets
// under the offscreen platform, over the real store in temporary folders.
#include "dvl2cfg/forms/form1.h"
#include "dvl2cfg/forms/form2.h"

#include "platform/paths.h"
#include "tests/support/qt_test_support.h"
#include "tests/support/test_support.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <memory>

namespace dvl::dvl2cfg {
namespace {

namespace fs = std::filesystem;
using dvl::test::Child;
using dvl::test::ReadText;
using dvl::test::TempDir;
using dvl::test::WhenModal;
using dvl::test::WriteFile;

// A place with an empty width or height gives only what it has.
void ExpectPlace(const QWidget* widget, const char* name, const QRect& place) {
    EXPECT_EQ(widget->pos(), place.topLeft()) << name;
    if (place.width() > 0) {
        EXPECT_EQ(widget->width(), place.width()) << name;
    }
    if (place.height() > 0) {
        EXPECT_EQ(widget->height(), place.height()) << name;
    }
}

struct ShownBox {
    bool shown = false;
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
};

// Reads and closes the next message box.
void AnswerNextMessageBox(ShownBox& box) {
    WhenModal([&box](QWidget* modal) {
        auto* messageBox = qobject_cast<QMessageBox*>(modal);
        if (!messageBox) return;
        box = {true, messageBox->windowTitle(), messageBox->text(), messageBox->icon()};
        messageBox->accept();
    });
}

// Every file below a folder with its bytes (the program itself aside), to
// see that nothing was written.
void AddSnapshot(const fs::path& root, std::map<std::string, std::string>& files) {
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (!entry.is_regular_file() || entry.path().filename() == "dvl2cfg") continue;
        files[entry.path().string()] = ReadText(entry.path());
    }
}

class Dvl2cfgWindow : public ::testing::Test {
protected:
    void SetUp() override {
        // The store's registry hive, desktop entries and INI file all land
        // in this test's own folders.
        for (const char* name : {"program", "config", "data", "registry", "home", "cache"})
            fs::create_directories(root_ / name);
        setenv("XDG_CACHE_HOME", (root_ / "cache").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (root_ / "config").c_str(), 1);
        setenv("XDG_DATA_HOME", (root_ / "data").c_str(), 1);
        setenv("DOVREL_REGISTRY", (root_ / "registry").c_str(), 1);
        setenv("HOME", (root_ / "home").c_str(), 1);
    }

    fs::path ProgramDir() const { return root_ / "program"; }
    // What the program may write: the INI file, the hive, the desktop entries.
    std::map<std::string, std::string> StoreFiles() const {
        std::map<std::string, std::string> files;
        for (const char* name : {"program", "config", "data", "registry"})
            AddSnapshot(root_ / name, files);
        return files;
    }
    std::string ProgramFolder() const { return platform::ToWindowsPath(ProgramDir().string()); }

    // The window as the program makes it: the main window, then the dialog.
    struct Windows {
        explicit Windows(const std::string& folder) : form1(folder), Form2(&form1) {
            form1.SetNewFileTypeDialog(&Form2);
            form1.SetFileOpener([this](const QString& path) { opened.push_back(path); });
        }
        Tform1 form1;
        TForm2 Form2;
        QStringList opened;
    };
    std::unique_ptr<Windows> Open() {
        auto windows = std::make_unique<Windows>(ProgramFolder());
        windows->form1.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&windows->form1));
        return windows;
    }

    // Adds a file type through the dialog as a user would.
    void AddThroughDialog(Tform1& form, const QString& extension, const QString& description) {
        WhenModal([&](QWidget* modal) {
            QTest::keyClicks(Child<QLineEdit>(modal, "edit_ext"), extension);
            QTest::keyClicks(Child<QLineEdit>(modal, "edit_desc"), description);
            Child<QPushButton>(modal, "btn_ok")->click();
        });
        Child<QPushButton>(&form, "btn_newassoc")->click();
    }

    static QStringList Rows(Tform1& form) {
        QStringList rows;
        QTreeWidget* list = Child<QTreeWidget>(&form, "ListView1");
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            rows << list->topLevelItem(i)->text(0) + "|" + list->topLevelItem(i)->text(1);
        return rows;
    }

    static void ToggleAction(Tform1& form, int index) {
        QListWidgetItem* item = Child<QListWidget>(&form, "CheckListBox1")->item(index);
        item->setCheckState(item->checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
    }

    static bool Enabled(Tform1& form, const char* button) {
        return Child<QPushButton>(&form, button)->isEnabled();
    }

    TempDir root_;
};

TEST_F(Dvl2cfgWindow, ControlsTextsPlacesAndSizes) {
    auto windows = Open();
    Tform1& form = windows->form1;
    EXPECT_EQ(form.objectName(), "form1");
    EXPECT_EQ(form.windowTitle(), "Configure Dovrel v2.2b");
    EXPECT_EQ(form.size(), QSize(359, 399));
    EXPECT_EQ(form.minimumSize(), form.maximumSize());
    EXPECT_FALSE(form.windowIcon().isNull());
    EXPECT_FALSE(form.windowFlags() &
                 (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));

    struct Control {
        const char* name;
        QRect place;
        QString text;
    };
    const Control controls[] = {
        {"PageControl1", {7, 7, 345, 354}, {}},
        {"Label1", {16, 16, 0, 0}, "Registered filetypes:"},
        {"ListView1", {16, 32, 305, 89}, {}},
        {"btn_newassoc", {16, 129, 75, 23}, "&New"},
        {"btn_deleteassoc", {96, 129, 75, 23}, "&Delete"},
        {"Label3", {16, 160, 0, 0}, "The registered files must be valid ACE,RAR or ZIP archives."},
        {"Bevel2", {16, 184, 305, 2}, {}},
        {"Label9", {16, 200, 0, 0}, "Context menu actions:"},
        {"CheckListBox1", {16, 216, 305, 89}, {}},
        {"Panel1", {14, 13, 307, 229}, {}},
        {"Image1", {1, 1, 306, 228}, {}},
        {"Label2", {212, 72, 0, 0}, "Version: 2.2b"},
        {"Label6", {6, 96, 289, 0}, "---------- Written by ----------"},
        {"Label7", {6, 112, 289, 0}, "the Dovrel developers"},
        {"Label4", {6, 136, 289, 0}, "Bugreports,ideas and/or comments should be sent to:"},
        {"Label8", {6, 152, 289, 0}, "dovrel@example.org"},
        {"Label5", {8, 176, 289, 0}, "---------- Thanks to ----------"},
        {"label_thanks", {40, 193, 225, 17}, ""},
        {"btn_readme", {16, 257, 75, 23}, "&Readme.txt"},
        {"btn_version", {16, 289, 75, 23}, "&Version.txt"},
        {"btn_ok", {117, 369, 75, 23}, "&OK"},
        {"btn_close", {197, 369, 75, 23}, "&Cancel"},
        {"btn_apply", {277, 369, 75, 23}, "&Apply"},
    };
    for (const Control& c : controls) {
        QWidget* widget = Child<QWidget>(&form, c.name);
        if (!widget) continue;
        ExpectPlace(widget, c.name, c.place);
        if (auto* label = qobject_cast<QLabel*>(widget)) {
            EXPECT_EQ(label->text(), c.text) << c.name;
        } else if (auto* button = qobject_cast<QPushButton*>(widget)) {
            EXPECT_EQ(button->text(), c.text) << c.name;
        }
    }
    for (const char* centred : {"Label6", "Label7", "Label4", "Label8", "Label5", "label_thanks"})
        EXPECT_TRUE(Child<QLabel>(&form, centred)->alignment() & Qt::AlignHCenter) << centred;
    EXPECT_EQ(Child<QLabel>(&form, "Image1")->pixmap().size(), QSize(306, 228));

    QTabWidget* tabs = Child<QTabWidget>(&form, "PageControl1");
    ASSERT_EQ(tabs->count(), 2);
    EXPECT_EQ(tabs->tabText(0), "&Filetypes");
    EXPECT_EQ(tabs->tabText(1), "A&bout");
    EXPECT_EQ(tabs->currentWidget()->objectName(), "TabSheet1");

    QTreeWidget* list = Child<QTreeWidget>(&form, "ListView1");
    ASSERT_EQ(list->columnCount(), 2);
    EXPECT_EQ(list->headerItem()->text(0), "Extension");
    EXPECT_EQ(list->headerItem()->text(1), "Description");
    EXPECT_EQ(list->columnWidth(0), 60);
    EXPECT_EQ(list->columnWidth(1), 222);
    EXPECT_EQ(list->editTriggers(), QAbstractItemView::NoEditTriggers);
    EXPECT_EQ(list->topLevelItemCount(), 0);

    QListWidget* actions = Child<QListWidget>(&form, "CheckListBox1");
    const QStringList actionTexts = {
        "Open",         "Extract to..", "Extract to current", "Extract to archive named folder",
        "List archive", "Test archive"};
    ASSERT_EQ(actions->count(), actionTexts.size());
    for (int i = 0; i < actions->count(); ++i) {
        EXPECT_EQ(actions->item(i)->text(), actionTexts[i]);
        EXPECT_EQ(actions->item(i)->checkState(), Qt::Unchecked) << i;
    }

    EXPECT_FALSE(Enabled(form, "btn_deleteassoc"));
    EXPECT_FALSE(Enabled(form, "btn_apply"));
    EXPECT_TRUE(Child<QPushButton>(&form, "btn_ok")->isDefault());
    EXPECT_EQ(form.focusWidget(), Child<QPushButton>(&form, "btn_ok"));
    QTimer* timer = form.findChild<QTimer*>("Timer1");
    ASSERT_NE(timer, nullptr);
    EXPECT_EQ(timer->interval(), 4000);
    EXPECT_FALSE(timer->isActive());
}

TEST_F(Dvl2cfgWindow, DialogControlsAndItsOkFollowingTheExtension) {
    auto windows = Open();
    TForm2& dialog = windows->Form2;
    EXPECT_EQ(dialog.objectName(), "Form2");
    EXPECT_EQ(dialog.windowTitle(), "New filetype");
    EXPECT_EQ(dialog.size(), QSize(311, 102));
    EXPECT_TRUE(dialog.isModal());
    EXPECT_FALSE(dialog.isVisible());
    const std::pair<const char*, QRect> places[] = {
        {"Label1", {24, 16, 0, 0}},    {"edit_ext", {24, 32, 57, 0}},
        {"Label2", {88, 16, 0, 0}},    {"edit_desc", {88, 32, 201, 0}},
        {"btn_ok", {150, 71, 75, 23}}, {"btn_close", {230, 71, 75, 23}},
    };
    for (const auto& [name, place] : places) {
        if (QWidget* widget = Child<QWidget>(&dialog, name)) ExpectPlace(widget, name, place);
    }
    EXPECT_EQ(Child<QLabel>(&dialog, "Label1")->text(), "Extension:");
    EXPECT_EQ(Child<QLabel>(&dialog, "Label2")->text(), "Description:");
    EXPECT_EQ(Child<QPushButton>(&dialog, "btn_ok")->text(), "&OK");
    EXPECT_EQ(Child<QPushButton>(&dialog, "btn_close")->text(), "&Cancel");
    EXPECT_TRUE(Child<QPushButton>(&dialog, "btn_ok")->isDefault());

    // Leftovers of an earlier use are cleared when the dialog opens again.
    Child<QLineEdit>(&dialog, "edit_ext")->setText("old");
    Child<QLineEdit>(&dialog, "edit_desc")->setText("old one");
    bool checked = false;
    WhenModal([&](QWidget* modal) {
        auto* ext = Child<QLineEdit>(modal, "edit_ext");
        auto* ok = Child<QPushButton>(modal, "btn_ok");
        EXPECT_EQ(modal, &dialog);
        EXPECT_EQ(modal->focusWidget(), ext);
        EXPECT_EQ(ext->text(), "");
        EXPECT_EQ(Child<QLineEdit>(modal, "edit_desc")->text(), "");
        EXPECT_FALSE(ok->isEnabled());
        QTest::keyClick(ext, Qt::Key_Return); // the default button is disabled
        EXPECT_TRUE(modal->isVisible());
        QTest::keyClicks(ext, "z");
        EXPECT_TRUE(ok->isEnabled());
        QTest::keyClick(ext, Qt::Key_Backspace);
        EXPECT_FALSE(ok->isEnabled());
        QTest::keyClicks(ext, "abcd");
        EXPECT_EQ(ext->text(), "abc");
        checked = true;
        Child<QPushButton>(modal, "btn_close")->click();
    });
    Child<QPushButton>(&windows->form1, "btn_newassoc")->click();
    EXPECT_TRUE(checked);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_TRUE(Rows(windows->form1).isEmpty()) << "Cancel adds nothing";
    EXPECT_FALSE(Enabled(windows->form1, "btn_apply"));
}

TEST_F(Dvl2cfgWindow, NewRowsAreUpperCasedSortedAndNamed) {
    auto windows = Open();
    Tform1& form = windows->form1;
    struct Case {
        QString extension;
        QString description;
    };
    // Any three characters pass, duplicates included; the list stays sorted.
    const Case cases[] = {
        {"zip", ""}, {"rar", "Roshal set"}, {"a.b", ""}, {" 7z", "seven"}, {"zip", "again"},
    };
    for (const Case& c : cases)
        AddThroughDialog(form, c.extension, c.description);
    EXPECT_EQ(Rows(form), QStringList({" 7Z|seven", "A.B|A.B archive", "RAR|Roshal set",
                                       "ZIP|ZIP archive", "ZIP|again"}));
    EXPECT_TRUE(Enabled(form, "btn_apply"));
}

TEST_F(Dvl2cfgWindow, DeleteFollowsTheSelection) {
    auto windows = Open();
    Tform1& form = windows->form1;
    AddThroughDialog(form, "zip", "");
    AddThroughDialog(form, "arj", "");
    QTreeWidget* list = Child<QTreeWidget>(&form, "ListView1");
    auto clickRow = [list](int index) {
        const QPoint row = list->visualItemRect(list->topLevelItem(index)).center();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, row);
    };

    clickRow(1);
    EXPECT_TRUE(Enabled(form, "btn_deleteassoc"));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      QPoint(5, list->viewport()->height() - 3));
    EXPECT_FALSE(Enabled(form, "btn_deleteassoc")) << "a click beside the rows selects nothing";

    // The row after a deleted one is not selected in its place; the last
    // row goes the same way.
    for (const QStringList& left : {QStringList{"ZIP|ZIP archive"}, QStringList{}}) {
        Child<QPushButton>(&form, "btn_apply")->click();
        ASSERT_FALSE(Enabled(form, "btn_apply"));
        clickRow(0);
        Child<QPushButton>(&form, "btn_deleteassoc")->click();
        EXPECT_EQ(Rows(form), left);
        EXPECT_TRUE(list->selectedItems().isEmpty());
        EXPECT_FALSE(Enabled(form, "btn_deleteassoc"));
        EXPECT_TRUE(Enabled(form, "btn_apply"));
    }
}

TEST_F(Dvl2cfgWindow, ApplyFollowsEveryChangeAndIsClearedByApplying) {
    auto windows = Open();
    Tform1& form = windows->form1;
    QPushButton* apply = Child<QPushButton>(&form, "btn_apply");

    // A click on a check box, as the user toggles an action.
    QListWidget* actions = Child<QListWidget>(&form, "CheckListBox1");
    QStyleOptionViewItem option;
    option.initFrom(actions);
    option.rect = actions->visualItemRect(actions->item(4));
    option.features |= QStyleOptionViewItem::HasCheckIndicator;
    const QRect box =
        actions->style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, actions);
    QTest::mouseClick(actions->viewport(), Qt::LeftButton, {}, box.center());
    EXPECT_EQ(actions->item(4)->checkState(), Qt::Checked);
    EXPECT_TRUE(apply->isEnabled());
    apply->click();
    EXPECT_FALSE(apply->isEnabled());

    AddThroughDialog(form, "arj", "");
    EXPECT_TRUE(apply->isEnabled());
    apply->click();
    EXPECT_FALSE(apply->isEnabled());

    ToggleAction(form, 4);
    EXPECT_TRUE(apply->isEnabled());
}

TEST_F(Dvl2cfgWindow, ApplyStoresWhatTheNextStartShows) {
    {
        auto windows = Open();
        Tform1& form = windows->form1;
        AddThroughDialog(form, "zip", "");
        AddThroughDialog(form, "rar", "Rar set");
        ToggleAction(form, 0);
        ToggleAction(form, 5);
        Child<QPushButton>(&form, "btn_ok")->click();
        EXPECT_FALSE(form.isVisible());
    }
    const std::string ini = ReadText(ProgramDir() / "dvl2cfg.ini");
    EXPECT_NE(ini.find("FILETYPES=RAR;ZIP;"), std::string::npos) << ini;
    EXPECT_NE(ini.find("FILEDESCS=RAR SET;ZIP ARCHIVE;"), std::string::npos) << ini;
    EXPECT_NE(ini.find("ACTIONS=AF"), std::string::npos) << ini;

    auto windows = Open();
    EXPECT_EQ(Rows(windows->form1), QStringList({"RAR|RAR SET", "ZIP|ZIP ARCHIVE"}));
    QListWidget* actions = Child<QListWidget>(&windows->form1, "CheckListBox1");
    for (int i = 0; i < kActionCount; ++i)
        EXPECT_EQ(actions->item(i)->checkState() == Qt::Checked, i == 0 || i == 5) << i;
    EXPECT_FALSE(Enabled(windows->form1, "btn_apply")) << "loading is no change";
}

TEST_F(Dvl2cfgWindow, OkWithoutChangesAndCancelWriteNothing) {
    const auto before = StoreFiles();
    {
        auto windows = Open();
        Child<QPushButton>(&windows->form1, "btn_ok")->click();
        EXPECT_FALSE(windows->form1.isVisible());
    }
    {
        auto windows = Open();
        AddThroughDialog(windows->form1, "zip", "");
        ToggleAction(windows->form1, 1);
        Child<QPushButton>(&windows->form1, "btn_close")->click();
        EXPECT_FALSE(windows->form1.isVisible());
    }
    {
        // Escape neither closes the window nor writes.
        auto windows = Open();
        ToggleAction(windows->form1, 1);
        QTest::keyClick(&windows->form1, Qt::Key_Escape);
        EXPECT_TRUE(windows->form1.isVisible());
    }
    EXPECT_EQ(StoreFiles(), before);
}

TEST_F(Dvl2cfgWindow, AFailedApplyShowsTheMessageAndKeepsTheWindow) {
    // A folder where the INI file should be: no write can replace it, also
    // not root's.
    fs::create_directories(ProgramDir() / "dvl2cfg.ini");
    auto windows = Open();
    Tform1& form = windows->form1;
    AddThroughDialog(form, "zip", "");

    for (const char* button : {"btn_apply", "btn_ok"}) {
        if (std::string(button) == "btn_ok") ToggleAction(form, 2);
        ShownBox box;
        AnswerNextMessageBox(box);
        Child<QPushButton>(&form, button)->click();
        EXPECT_TRUE(box.shown) << button;
        EXPECT_EQ(box.title, "Configure Dovrel v2.2b");
        EXPECT_TRUE(box.text.contains("dvl2cfg.ini")) << box.text.toStdString();
        EXPECT_EQ(box.icon, QMessageBox::Critical);
        EXPECT_FALSE(Enabled(form, "btn_apply")) << button;
        EXPECT_TRUE(form.isVisible()) << button;
    }
}

TEST_F(Dvl2cfgWindow, ThanksTurnWhileTheAboutTabIsShown) {
    auto windows = Open();
    Tform1& form = windows->form1;
    QTabWidget* tabs = Child<QTabWidget>(&form, "PageControl1");
    QTimer* timer = form.findChild<QTimer*>("Timer1");
    QLabel* thanks = Child<QLabel>(&form, "label_thanks");
    const auto& texts = ThanksRotation::Texts();

    tabs->setCurrentIndex(1);
    EXPECT_TRUE(timer->isActive());
    EXPECT_EQ(thanks->text(), "") << "empty until the first tick";
    for (std::size_t tick = 0; tick < texts.size() + 2; ++tick) {
        form.Timer1Timer();
        EXPECT_EQ(thanks->text(), texts[tick % texts.size()]) << "tick " << tick;
    }
    tabs->setCurrentIndex(0);
    EXPECT_FALSE(timer->isActive());
    tabs->setCurrentIndex(1);
    EXPECT_TRUE(timer->isActive());
    form.Timer1Timer();
    EXPECT_EQ(thanks->text(), texts[0]) << "starts over on re-entry";

    // The real timer at a short interval drives the same rotation.
    timer->setInterval(5);
    EXPECT_TRUE(QTest::qWaitFor([&] { return thanks->text() == texts[1]; }, 5000));
}

TEST_F(Dvl2cfgWindow, ReadmeAndVersionOpenOrReportTheirFile) {
    struct Case {
        const char* button;
        const char* file;
        const char* missing;
    };
    const Case cases[] = {
        {"btn_readme", "readme.txt", "Can't find Readme.txt"},
        {"btn_version", "version.txt", "Can't find Version.txt"},
    };
    auto windows = Open();
    for (const Case& c : cases) {
        fs::remove(ProgramDir() / c.file);
        ShownBox box;
        AnswerNextMessageBox(box);
        Child<QPushButton>(&windows->form1, c.button)->click();
        EXPECT_TRUE(box.shown) << c.button;
        EXPECT_EQ(box.title, "Error");
        EXPECT_EQ(box.text, c.missing);
        EXPECT_EQ(box.icon, QMessageBox::Critical);
        EXPECT_TRUE(windows->opened.isEmpty()) << "a missing file opens nothing";

        // Found ignoring case, as on the system the names come from.
        const std::string upper =
            std::string(c.file) == "readme.txt" ? "README.TXT" : "Version.TXT";
        WriteFile(ProgramDir() / upper, "text\n");
        windows->opened.clear();
        Child<QPushButton>(&windows->form1, c.button)->click();
        ASSERT_EQ(windows->opened.size(), 1) << c.button;
        EXPECT_EQ(fs::path(windows->opened.front().toStdString()), ProgramDir() / upper);
        windows->opened.clear();
    }
}

// The built program, started as a user starts it.
class Dvl2cfgProgram : public Dvl2cfgWindow {
protected:
    void SetUp() override {
        Dvl2cfgWindow::SetUp();
        fs::copy_file(fs::path(DVL_BIN_DIR) / "dvl2cfg", ProgramDir() / "dvl2cfg");
        fs::create_directories(root_ / "runtime");
        fs::permissions(root_ / "runtime", fs::perms::owner_all);
    }
    std::string Environment(const char* platform) const {
        using dvl::test::Quote;
        return "QT_QPA_PLATFORM=" + std::string(platform) +
               " XDG_RUNTIME_DIR=" + Quote(root_ / "runtime") +
               " XDG_CONFIG_HOME=" + Quote(root_ / "config") +
               " XDG_DATA_HOME=" + Quote(root_ / "data") +
               " DOVREL_REGISTRY=" + Quote(root_ / "registry") + " HOME=" + Quote(root_ / "home") +
               " XDG_CACHE_HOME=" + Quote(root_ / "cache");
    }
};

TEST_F(Dvl2cfgProgram, StartsOffscreenAndRunsUntilEnded) {
    using dvl::test::Quote;
    const auto before = StoreFiles();
    // timeout ends the program after a second of running; an early exit
    // (a crash at start) gives another status.
    const int status = dvl::test::Run(Environment("offscreen") + " timeout 1 " +
                                      Quote(ProgramDir() / "dvl2cfg") + " >/dev/null 2>&1");
    EXPECT_EQ(status, 124);
    EXPECT_EQ(StoreFiles(), before);
    // The texts that Readme and Version open are shipped beside the program.
    for (const char* text : {"readme.txt", "version.txt"})
        EXPECT_GT(fs::file_size(fs::path(DVL_BIN_DIR) / text), 0u) << text;
}

TEST_F(Dvl2cfgProgram, EnterPressesOkAndEndsTheProgram) {
    DVL_REQUIRE_TOOL("xvfb-run");
    DVL_REQUIRE_TOOL("xdotool");
    using dvl::test::Quote;
    const auto before = StoreFiles();
    // Without a window manager the window gets the focus from xdotool; Enter
    // then reaches OK, which closes the window without writing.
    const std::string script = Quote(ProgramDir() / "dvl2cfg") +
                               " & pid=$!; "
                               "w=$(xdotool search --sync --onlyvisible --name "
                               "'^Configure Dovrel v2.2b$' | head -n1); "
                               "xdotool windowfocus --sync \"$w\" key Return; wait $pid";
    const std::string leaks =
        " LSAN_OPTIONS=suppressions=" +
        Quote(fs::path(DVL_SOURCE_DIR) / "tests/dvl2cfg/forms/xcb_leaks.supp");
    const int status =
        dvl::test::Run(Environment("xcb") + leaks + " timeout 60 xvfb-run -a sh -c " +
                       Quote(script) + " >/dev/null 2>&1");
    EXPECT_EQ(status, 0);
    EXPECT_EQ(StoreFiles(), before);
}

} // namespace
} // namespace dvl::dvl2cfg
