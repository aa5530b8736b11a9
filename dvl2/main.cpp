// dvl2: extracts, tests or lists the archive named by argument 1 as the
// switch in argument 2 asks, in one small window.
#include "dvl2/forms/log_form.h"
#include "dvl2/forms/qt_hooks.h"
#include "dvl2/forms/rar_form.h"
#include "dvl2/forms/selpath_form.h"
#include "dvl2/forms/zip_options_form.h"
#include "platform/hooks.h"

#include <QApplication>

int main(int argc, char** argv) {
    using namespace dvl::dvl2;
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("dvl2"));
    QApplication::setQuitOnLastWindowClosed(false);
    ApplyProgramFont();
    InstallQtHooks();

    // The four windows, in this order; only the main window shows by itself.
    TRarForm RarForm;
    Tselpathform selpathform;
    TZipOptionsForm ZipOptionsForm;
    Tlogform logform;
    RarForm.SetDialogs(&selpathform, &ZipOptionsForm, &logform);
    RarForm.SetArguments(argc > 1 ? argv[1] : "", argc > 2 ? argv[2] : "");

    RarForm.show(); // runs the start-up sequence
    if (dvl::platform::Terminated()) return 0;
    return QApplication::exec();
}
