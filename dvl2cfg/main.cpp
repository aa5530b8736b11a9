// dvl2cfg: chooses the file types and context-menu actions with which the
// shell starts dvl2, and writes them to the registry and dvl2cfg.ini.
#include "dvl2/forms/qt_hooks.h"
#include "dvl2cfg/forms/artwork.h"
#include "dvl2cfg/forms/form1.h"
#include "dvl2cfg/forms/form2.h"
#include "dvl2cfg/forms/window_logic.h"
#include "platform/paths.h"

#include <QApplication>

int main(int argc, char** argv) {
    using namespace dvl::dvl2cfg;
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromLatin1(kApplicationTitle));
    QApplication::setWindowIcon(DrawWindowIcon());
    dvl::dvl2::ApplyProgramFont();
    dvl::dvl2::InstallQtHooks();

    // The store, readme.txt and version.txt lie beside the program.
    const std::string programFolder =
        dvl::platform::ToWindowsPath(QCoreApplication::applicationDirPath().toStdString());
    Tform1 form1(programFolder);
    TForm2 Form2(&form1);
    form1.SetNewFileTypeDialog(&Form2);
    form1.show();
    return QApplication::exec();
}
