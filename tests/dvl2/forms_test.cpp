// The real windows under the offscreen platform: geometry, captions,
// columns, the panels per mode, keys, Cancel with a real confirmation, the
// dialogs answered through their widgets, and whole runs.
#include "dvl2/forms/log_form.h"
#include "dvl2/forms/rar_form.h"
#include "dvl2/forms/selpath_form.h"
#include "dvl2/forms/zip_options_form.h"

#include "platform/hooks.h"
#include "platform/paths.h"
#include "tests/support/qt_test_support.h"
#include "tests/support/test_support.h"
#include "tests/support/zip_writer.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFrame>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>

#include <filesystem>
#include <functional>
#include <gtest/gtest.h>

namespace dvl::dvl2 {
namespace {

namespace fs = std::filesystem;
using dvl::test::Child;
using dvl::test::Quote;
using dvl::test::TempDir;
using dvl::test::WhenModal;
using dvl::test::WriteFile;

bool WaitUntil(const std::function<bool()>& done, int ms = 10000) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

struct Column {
    QString title;
    int width;
    bool right;
};

void ExpectColumns(QTreeWidget* list, const std::vector<Column>& columns) {
    ASSERT_EQ(list->columnCount(), int(columns.size()));
    for (int i = 0; i < int(columns.size()); ++i) {
        EXPECT_EQ(list->headerItem()->text(i), columns[i].title);
        EXPECT_EQ(list->columnWidth(i), columns[i].width) << columns[i].title.toStdString();
        const bool right = list->headerItem()->textAlignment(i) & Qt::AlignRight;
        EXPECT_EQ(right, columns[i].right) << columns[i].title.toStdString();
    }
    EXPECT_EQ(list->editTriggers(), QAbstractItemView::NoEditTriggers);
}

class FormsTest : public ::testing::Test {
protected:
    void SetUp() override { platform::ResetTerminated(); }
    void TearDown() override {
        platform::ResetTerminated();
        fs::current_path(cwd_);
    }
    fs::path cwd_ = fs::current_path();
};

TEST_F(FormsTest, MainWindowShowsOnePanelPerMode) {
    TRarForm form;
    struct Case {
        int mode;
        std::string format;
        const char* panel;
        QSize size;
        QString caption;
    };
    const Case cases[] = {
        {0, "ZIP", "Panel1", {365, 142}, "Extracting.."},
        {1, "RAR", "Panel1", {365, 142}, "Testing.."},
        {2, "ZIP", "Panel2", {420, 360}, "Contents of [a.zip]"},
        {2, "ACE", "Panel3", {420, 360}, "Contents of [a.zip]"},
    };
    for (const Case& c : cases) {
        form.PrepareLayout(LayoutForMode(c.mode, c.format, "C:\\in\\a.zip"));
        EXPECT_EQ(form.size(), c.size);
        EXPECT_EQ(form.windowTitle(), c.caption);
        for (const char* name : {"Panel1", "Panel2", "Panel3"}) {
            QFrame* panel = Child<QFrame>(&form, name);
            const bool shown = std::string(name) == c.panel;
            EXPECT_EQ(panel->isVisibleTo(&form), shown) << name << " mode " << c.mode;
            EXPECT_EQ(panel->isEnabled(), shown) << name;
        }
    }
    EXPECT_EQ(Child<QFrame>(&form, "Panel3")->size(), form.size());
    EXPECT_EQ(Child<QTreeWidget>(&form, "ListView2")->size(), form.size());
    EXPECT_EQ(Child<QTreeWidget>(&form, "ListView1")->size(), QSize(412, 333));
    EXPECT_TRUE(form.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(form.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(form.windowFlags() & Qt::WindowMaximizeButtonHint);
}

TEST_F(FormsTest, MainWindowControlsAndColumns) {
    TRarForm form;
    EXPECT_EQ(form.objectName(), "RarForm");
    EXPECT_EQ(Child<QFrame>(&form, "Panel1")->geometry(), QRect(0, 0, 365, 142));
    EXPECT_EQ(Child<QLabel>(&form, "lbl_filename")->pos(), QPoint(56, 15));
    EXPECT_EQ(Child<QLabel>(&form, "lbl_filename")->text(), "File:");
    EXPECT_EQ(Child<QLabel>(&form, "lbl_archivename")->pos(), QPoint(56, 44));
    EXPECT_EQ(Child<QLabel>(&form, "lbl_archivename")->text(), "Archive:");
    for (const auto& [name, top] : {std::pair{"ProgressBar1", 31}, std::pair{"ProgressBar2", 60}}) {
        QProgressBar* bar = Child<QProgressBar>(&form, name);
        EXPECT_EQ(bar->geometry(), QRect(56, top, 249, 8));
        EXPECT_EQ(bar->value(), 0);
        EXPECT_EQ(bar->maximum(), 100);
    }
    QPushButton* cancel = Child<QPushButton>(&form, "btn_cancel");
    EXPECT_EQ(cancel->geometry(), QRect(276, 83, 75, 25));
    EXPECT_EQ(cancel->text(), "&Cancel");

    ExpectColumns(Child<QTreeWidget>(&form, "ListView1"), {{"FileName", 100, false},
                                                           {"Date / Time", 90, false},
                                                           {"Packed", 80, true},
                                                           {"Unpacked", 80, true},
                                                           {"Ratio", 38, false}});
    ExpectColumns(Child<QTreeWidget>(&form, "ListView2"),
                  {{"Archive", 100, false}, {"File", 208, false}, {"Size", 80, true}});
    EXPECT_EQ(Child<QTreeWidget>(&form, "ListView1")->selectionMode(),
              QAbstractItemView::ExtendedSelection);

    // Bars: above the maximum shows full, a zero maximum is not a busy bar.
    form.SetEntryBar(250);
    EXPECT_EQ(Child<QProgressBar>(&form, "ProgressBar1")->value(), 100);
    form.SetVolumeBar(0, 0);
    EXPECT_EQ(Child<QProgressBar>(&form, "ProgressBar2")->maximum(), 1);
    form.SetVolumeBar(2, 2);
    EXPECT_EQ(Child<QProgressBar>(&form, "ProgressBar2")->value(), 2);
    form.AddZipListRow({"a.txt", "12/31/99 23:59", "10", "20", "50%"});
    QTreeWidget* list = Child<QTreeWidget>(&form, "ListView1");
    ASSERT_EQ(list->topLevelItemCount(), 1);
    EXPECT_EQ(list->topLevelItem(0)->text(4), "50%");
    EXPECT_TRUE(list->topLevelItem(0)->textAlignment(2) & Qt::AlignRight);
    form.AddOtherListRow({"set.rar", "a.txt", "12"});
    QTreeWidget* other = Child<QTreeWidget>(&form, "ListView2");
    ASSERT_EQ(other->topLevelItemCount(), 1);
    EXPECT_TRUE(other->topLevelItem(0)->textAlignment(2) & Qt::AlignRight);
}

TEST_F(FormsTest, EscapeEndsOnlyAListing) {
    for (int mode : {kModeList, kModeExtract}) {
        platform::ResetTerminated();
        TRarForm form;
        form.Logic().State().Mode = mode;
        form.PrepareLayout(LayoutForMode(mode, "ZIP", "C:\\a.zip"));
        QTest::keyClick(Child<QTreeWidget>(&form, "ListView1"), Qt::Key_Escape);
        EXPECT_EQ(platform::Terminated(), mode == kModeList) << "mode " << mode;
    }
}

TEST_F(FormsTest, CancelAsksInARealConfirmation) {
    for (const char* answer : {"No", "Yes"}) {
        platform::ResetTerminated();
        TRarForm form;
        form.Logic().State().Mode = kModeExtract;
        form.PrepareLayout(LayoutForMode(kModeExtract, "ZIP", "C:\\a.zip"));
        QString title, text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        WhenModal([&](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            ASSERT_NE(box, nullptr);
            title = box->windowTitle();
            text = box->text();
            icon = box->icon();
            QPushButton* button = box->findChild<QPushButton*>(answer);
            ASSERT_NE(button, nullptr);
            EXPECT_EQ(button->text(), QString("&") + answer);
            button->click();
        });
        Child<QPushButton>(&form, "btn_cancel")->click();
        EXPECT_EQ(title, "Confirm");
        EXPECT_EQ(text, "Cancel extraction?");
        EXPECT_EQ(icon, QMessageBox::Question);
        const bool yes = std::string(answer) == "Yes";
        EXPECT_EQ(form.Logic().State().CancelRequested, yes);
        EXPECT_EQ(platform::Terminated(), yes);
    }
}

TEST_F(FormsTest, ErrorLogWindow) {
    Tlogform log;
    EXPECT_EQ(log.size(), QSize(569, 334));
    ExpectColumns(Child<QTreeWidget>(&log, "ListView1"),
                  {{"Archive", 90, false}, {"File", 200, false}, {"Error", 200, false}});
    EXPECT_EQ(Child<QStatusBar>(&log, "StatusBar1")->height(), 19);
    QMenuBar* menu = Child<QMenuBar>(&log, "MainMenu1");
    ASSERT_EQ(menu->actions().size(), 1);
    EXPECT_EQ(menu->actions()[0]->text(), "&File");
    QAction* close = log.findChild<QAction*>("Close1");
    ASSERT_NE(close, nullptr);
    EXPECT_EQ(close->text(), "&Close");

    log.AddRow("a.zip", "x.txt", "25120");
    log.AddRow("b.zip", "y.txt", "25190");
    EXPECT_EQ(log.RowCount(), 2);
    QString shownCaption;
    WhenModal([&](QWidget* modal) {
        shownCaption = modal->windowTitle();
        close->trigger();
    });
    log.ShowModal("Archive listings..");
    EXPECT_EQ(shownCaption, "Archive listings..");
    EXPECT_FALSE(log.isVisible());
    EXPECT_EQ(Child<QTreeWidget>(&log, "ListView1")->topLevelItem(1)->text(2), "25190");
}

TEST_F(FormsTest, UnZipDialogReturnsItsControlsAndKeepsThem) {
    TZipOptionsForm form;
    EXPECT_EQ(form.size(), QSize(350, 149));
    EXPECT_EQ(form.windowTitle(), "UnZip..");
    EXPECT_FALSE(form.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_EQ(Child<QGroupBox>(&form, "GroupBox1")->geometry(), QRect(8, 8, 241, 129));
    EXPECT_EQ(Child<QGroupBox>(&form, "GroupBox1")->title(), " Options ");
    EXPECT_EQ(Child<QCheckBox>(&form, "CheckBox1")->text(),
              "Extract all files matching current archive.");
    EXPECT_EQ(Child<QCheckBox>(&form, "CheckBox1")->geometry(), QRect(16, 24, 209, 17));
    EXPECT_EQ(Child<QLineEdit>(&form, "Edit1")->geometry().topLeft(), QPoint(56, 48));
    EXPECT_EQ(Child<QLineEdit>(&form, "Edit2")->width(), 121);
    EXPECT_EQ(Child<QLineEdit>(&form, "Edit2")->text(), "*.*");
    EXPECT_EQ(Child<QPushButton>(&form, "btn_ok")->geometry(), QRect(264, 16, 75, 25));
    EXPECT_EQ(Child<QPushButton>(&form, "btn_cancel")->geometry(), QRect(264, 48, 75, 25));
    EXPECT_TRUE(Child<QPushButton>(&form, "btn_ok")->isDefault());

    QString match;
    QWidget* focus = nullptr;
    WhenModal([&](QWidget* modal) {
        match = modal->findChild<QLineEdit*>("Edit1")->text();
        focus = modal->focusWidget();
        modal->findChild<QCheckBox*>("CheckBox1")->setChecked(true);
        modal->findChild<QLineEdit*>("Edit2")->setText("*.txt");
        modal->findChild<QPushButton*>("btn_ok")->click();
    });
    ZipOptionsAnswer answer = form.ShowModal("dis*.zip");
    EXPECT_EQ(match, "dis*.zip");
    EXPECT_EQ(focus, Child<QPushButton>(&form, "btn_ok"));
    EXPECT_EQ(answer.button, ZipOptionsAnswer::Button::Ok);
    EXPECT_TRUE(answer.extractAll);
    EXPECT_EQ(answer.match, "dis*.zip");
    EXPECT_EQ(answer.mask, "*.txt");

    WhenModal([](QWidget* modal) { modal->findChild<QPushButton*>("btn_cancel")->click(); });
    answer = form.ShowModal("dis*.zip");
    EXPECT_EQ(answer.button, ZipOptionsAnswer::Button::Cancel);
    EXPECT_TRUE(answer.extractAll); // kept from the first showing
    EXPECT_EQ(answer.mask, "*.txt");

    WhenModal([](QWidget* modal) { QTest::keyClick(modal, Qt::Key_Escape); });
    EXPECT_EQ(form.ShowModal("x*.zip").button, ZipOptionsAnswer::Button::Closed);
}

TEST_F(FormsTest, ExtractToReturnsTheSelectedOrNewFolder) {
    TempDir dir;
    Tselpathform form;
    EXPECT_EQ(form.size(), QSize(254, 204));
    EXPECT_EQ(form.windowTitle(), "Extract to..");
    EXPECT_FALSE(form.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_EQ(Child<QTreeView>(&form, "Dir1")->geometry(), QRect(8, 32, 145, 161));
    EXPECT_EQ(Child<QPushButton>(&form, "Button1")->text(), "&OK");
    EXPECT_EQ(Child<QPushButton>(&form, "Button2")->text(), "&Cancel");
    EXPECT_EQ(Child<QPushButton>(&form, "Button3")->text(), "&New folder");
    EXPECT_EQ(Child<QPushButton>(&form, "Button3")->geometry(), QRect(168, 168, 75, 25));
    const QString native = QString::fromStdString(dir.Path().string());
    const std::string win = platform::ToWindowsPath(dir.Path().string());

    WhenModal([&](QWidget*) {
        form.SelectFolder(native);
        form.findChild<QPushButton*>("Button1")->click();
    });
    EXPECT_EQ(form.ShowModal("\\x\\docs.zip"), win);

    WhenModal([&](QWidget*) { form.findChild<QPushButton*>("Button2")->click(); });
    EXPECT_EQ(form.ShowModal("\\x\\docs.zip"), "");

    std::string proposed;
    form.askName = [&](const std::string& p) -> std::optional<std::string> {
        proposed = p;
        return p;
    };
    QWidget* focus = nullptr;
    WhenModal([&](QWidget*) {
        form.SelectFolder(native);
        form.findChild<QPushButton*>("Button3")->click();
        focus = form.focusWidget();
        form.findChild<QPushButton*>("Button1")->click();
    });
    EXPECT_EQ(form.ShowModal("\\x\\docs.zip"), win + "\\docs");
    EXPECT_EQ(proposed, "docs");
    EXPECT_TRUE(fs::is_directory(dir / "docs"));
    EXPECT_EQ(focus, Child<QPushButton>(&form, "Button1"));
}

TEST_F(FormsTest, ExtractToStartsAtTheCurrentFolder) {
    TempDir dir;
    fs::create_directories(dir / "inner");
    fs::current_path(dir / "inner");
    Tselpathform form;
    form.show();
    QTreeView* tree = Child<QTreeView>(&form, "Dir1");
    const std::string expected = platform::ToWindowsPath((dir / "inner").string());
    ASSERT_TRUE(WaitUntil(
        [&] {
            return form.SelectedFolder() == expected &&
                   tree->viewport()->rect().intersects(tree->visualRect(tree->currentIndex()));
        },
        5000))
        << form.SelectedFolder();
    form.hide();
}

// The four windows as the program makes them, started on an archive.
struct Program {
    TRarForm RarForm;
    Tselpathform selpathform;
    TZipOptionsForm ZipOptionsForm;
    Tlogform logform;
    Program(const std::string& arg1, const std::string& arg2) {
        RarForm.SetDialogs(&selpathform, &ZipOptionsForm, &logform);
        RarForm.SetArguments(arg1, arg2);
    }
};

TEST_F(FormsTest, UsageNoteAndHelpAreModalAndEndTheProgram) {
    {
        Program program("", "");
        QString title, text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        WhenModal([&](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            ASSERT_NE(box, nullptr);
            title = box->windowTitle();
            text = box->text();
            icon = box->icon();
            box->findChild<QPushButton*>("OK")->click();
        });
        program.RarForm.show();
        EXPECT_TRUE(platform::Terminated());
        EXPECT_EQ(title, "Dovrel - NOTE! -");
        EXPECT_TRUE(text.startsWith("Dovrel cannot be run this way..\n\nUsage: Right click"));
        EXPECT_EQ(icon, QMessageBox::Warning);
    }
    platform::ResetTerminated();
    TempDir dir;
    WriteFile(dir / "a.zip", "PK");
    Program program((dir / "a.zip").string(), "/?");
    QString help;
    WhenModal([&](QWidget* modal) {
        help = modal->findChild<QLabel*>("HelpText")->text();
        QTest::keyClick(modal, Qt::Key_Return);
    });
    program.RarForm.show();
    EXPECT_TRUE(platform::Terminated());
    for (const char* sw : {"/n", "/h", "/d", "/t", "/l", "/?"})
        EXPECT_TRUE(help.contains(sw)) << sw;
}

class FormsRun : public FormsTest {
protected:
    void SetUp() override {
        FormsTest::SetUp();
        DVL_REQUIRE_TOOL("zip");
        fs::create_directories(dir_ / "src");
        WriteFile(dir_ / "src" / "a.txt", "alpha");
        WriteFile(dir_ / "src" / "b.txt", "beta");
        ASSERT_EQ(
            dvl::test::Run("zip -qX " + Quote(dir_ / "data.zip") + " a.txt b.txt", dir_ / "src"),
            0);
        fs::remove_all(dir_ / "src");
    }
    TempDir dir_;
};

TEST_F(FormsRun, ExtractionStartsAtTheFirstPaintAndEnds) {
    Program program((dir_ / "data.zip").string(), "/d");
    program.RarForm.show();
    EXPECT_EQ(program.RarForm.windowTitle(), "Extracting..");
    ASSERT_TRUE(WaitUntil([] { return platform::Terminated(); }));
    EXPECT_TRUE(fs::exists(dir_ / "data" / "a.txt"));
    EXPECT_TRUE(fs::exists(dir_ / "data" / "b.txt"));
    EXPECT_EQ(Child<QLabel>(&program.RarForm, "lbl_archivename")->text(), "data.zip");
    EXPECT_EQ(Child<QProgressBar>(&program.RarForm, "ProgressBar1")->value(), 100);
}

TEST_F(FormsRun, ListingStaysOpenUntilEscape) {
    Program program((dir_ / "data.zip").string(), "/l");
    program.RarForm.show();
    QTreeWidget* list = Child<QTreeWidget>(&program.RarForm, "ListView1");
    ASSERT_TRUE(WaitUntil([&] { return list->topLevelItemCount() == 2; }, 5000));
    QTest::qWait(100);
    EXPECT_FALSE(platform::Terminated());
    EXPECT_EQ(program.RarForm.windowTitle(), "Contents of [data.zip]");
    EXPECT_TRUE(list->isVisible());
    QTest::keyClick(list, Qt::Key_Escape);
    EXPECT_TRUE(platform::Terminated());
}

TEST_F(FormsRun, ChosenFolderAndUnZipDialogThroughTheRealWindows) {
    fs::create_directories(dir_ / "src");
    WriteFile(dir_ / "src" / "c.txt", "gamma");
    ASSERT_EQ(dvl::test::Run("zip -qX " + Quote(dir_ / "data2.zip") + " c.txt", dir_ / "src"), 0);
    TempDir out;
    Program program((dir_ / "data.zip").string(), "/n");
    QString match;
    WhenModal([&](QWidget* selpath) {
        ASSERT_EQ(selpath, &program.selpathform);
        program.selpathform.SelectFolder(QString::fromStdString(out.Path().string()));
        selpath->findChild<QPushButton*>("Button1")->click();
        WhenModal([&](QWidget* options) {
            ASSERT_EQ(options, &program.ZipOptionsForm);
            match = options->findChild<QLineEdit*>("Edit1")->text();
            options->findChild<QCheckBox*>("CheckBox1")->setChecked(true);
            options->findChild<QPushButton*>("btn_ok")->click();
        });
    });
    program.RarForm.show();
    ASSERT_TRUE(WaitUntil([] { return platform::Terminated(); }));
    EXPECT_EQ(match, "dat*.zip");
    EXPECT_TRUE(fs::exists(out / "a.txt"));
    EXPECT_TRUE(fs::exists(out / "c.txt"));
    EXPECT_EQ(Child<QLabel>(&program.RarForm, "lbl_archivename")->text(), "data2.zip");
    EXPECT_EQ(Child<QProgressBar>(&program.RarForm, "ProgressBar2")->value(), 2);
}

TEST_F(FormsRun, ErrorsAreShownInTheLogAtTheEnd) {
    dvl::test::ZipWriter writer;
    writer.Add({.name = "bad.txt", .data = {'b', 'a', 'd'}, .crcOverride = 0x12345678});
    WriteFile(dir_ / "crc.zip", writer.Build());
    Program program((dir_ / "crc.zip").string(), "/d");
    QString caption, error;
    WhenModal([&](QWidget* modal) {
        ASSERT_EQ(modal, &program.logform);
        caption = modal->windowTitle();
        QTreeWidget* rows = modal->findChild<QTreeWidget*>("ListView1");
        ASSERT_EQ(rows->topLevelItemCount(), 1);
        EXPECT_EQ(rows->topLevelItem(0)->text(0), "crc.zip");
        error = rows->topLevelItem(0)->text(2);
        modal->close();
    });
    program.RarForm.show();
    ASSERT_TRUE(WaitUntil([] { return platform::Terminated(); }));
    EXPECT_EQ(caption, "Error log..");
    EXPECT_EQ(error, "25120");
}

} // namespace
} // namespace dvl::dvl2
