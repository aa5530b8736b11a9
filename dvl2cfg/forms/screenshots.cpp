// Renders the screenshots of dvl2cfg's windows:
//   dvl2cfg_screenshots OUT_DIR
// Writes filetypes.png, about.png and newfiletype.png. The store is kept in
// a temporary folder, so the user's own associations are neither read nor
// written.
#include "dvl2/forms/qt_hooks.h"
#include "dvl2cfg/forms/form1.h"
#include "dvl2cfg/forms/form2.h"
#include "platform/paths.h"

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <cstdlib>

namespace {

bool Save(QWidget* window, const QString& folder, const char* name) {
    const QString path = QDir(folder).filePath(QString::fromLatin1(name));
    if (window->grab().save(path)) return true;
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return false;
}

} // namespace

int main(int argc, char** argv) {
    using namespace dvl::dvl2cfg;
    if (argc != 2) {
        std::fprintf(stderr, "usage: dvl2cfg_screenshots OUT_DIR\n");
        return 2;
    }
    QTemporaryDir store;
    for (const char* name : {"DOVREL_REGISTRY", "XDG_CONFIG_HOME", "XDG_DATA_HOME"})
        setenv(name, qPrintable(store.path()), 1);

    QApplication app(argc, argv);
    dvl::dvl2::ApplyProgramFont();
    const QString out = QString::fromLocal8Bit(argv[1]);

    Tform1 form1(dvl::platform::ToWindowsPath(store.path().toStdString()));
    TForm2 Form2(&form1);
    form1.SetNewFileTypeDialog(&Form2);
    form1.AddFileType(NewFileTypeRow("zip", ""));
    form1.AddFileType(NewFileTypeRow("rar", "RAR archive"));
    form1.AddFileType(NewFileTypeRow("ace", "ACE archive"));
    auto* actions = form1.findChild<QListWidget*>("CheckListBox1");
    for (int checked : {0, 1, 2, 4})
        actions->item(checked)->setCheckState(Qt::Checked);
    form1.show();
    if (!QTest::qWaitForWindowExposed(&form1)) return 1;
    bool saved = Save(&form1, out, "filetypes.png");

    form1.findChild<QTabWidget*>("PageControl1")->setCurrentIndex(1);
    form1.Timer1Timer();
    saved = Save(&form1, out, "about.png") && saved;

    Form2.show();
    if (!QTest::qWaitForWindowExposed(&Form2)) return 1;
    Form2.findChild<QLineEdit*>("edit_ext")->setText("lzh");
    Form2.findChild<QLineEdit*>("edit_desc")->setText("LHA archive");
    saved = Save(&Form2, out, "newfiletype.png") && saved;
    return saved ? 0 : 1;
}
