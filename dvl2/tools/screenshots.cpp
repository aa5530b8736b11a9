// Renders pictures of the real windows: the extract window during a run,
// the ZIP list window, the error log and the two dialogs.
//
//   dvl2_screenshots OUTDIR EXTRACT.zip LIST.zip BROKEN.zip
//
// Extractions go into archive-named folders beside the archives given.
#include "dvl2/forms/log_form.h"
#include "dvl2/forms/qt_hooks.h"
#include "dvl2/forms/rar_form.h"
#include "dvl2/forms/selpath_form.h"
#include "dvl2/forms/zip_options_form.h"
#include "platform/hooks.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPixmap>
#include <QProgressBar>
#include <QTimer>
#include <QTreeWidget>

#include <cstdio>
#include <functional>

namespace {

using namespace dvl::dvl2;

struct Program {
    TRarForm RarForm;
    Tselpathform selpathform;
    TZipOptionsForm ZipOptionsForm;
    Tlogform logform;
    Program(const char* arg1, const char* arg2) {
        RarForm.SetDialogs(&selpathform, &ZipOptionsForm, &logform);
        RarForm.SetArguments(arg1, arg2);
    }
};

bool WaitUntil(const std::function<bool()>& done, int ms = 20000) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

bool Save(const QPixmap& shot, const QString& path) {
    if (!shot.isNull() && shot.save(path)) {
        std::printf("%s\n", qPrintable(path));
        return true;
    }
    std::fprintf(stderr, "could not make %s\n", qPrintable(path));
    return false;
}

// The extract window once the entry bar is about half-way.
bool ShootExtraction(const QString& out, const char* archive) {
    Program program(archive, "/d");
    auto* bar = program.RarForm.findChild<QProgressBar*>("ProgressBar1");
    QPixmap shot;
    dvl::platform::SetProcessMessagesHook([&] {
        QCoreApplication::processEvents();
        if (shot.isNull() && bar->value() >= 40) shot = program.RarForm.grab();
    });
    dvl::platform::ResetTerminated();
    program.RarForm.show();
    WaitUntil([] { return dvl::platform::Terminated(); });
    dvl::platform::SetProcessMessagesHook([] { QCoreApplication::processEvents(); });
    return Save(shot, out + "/extract.png");
}

bool ShootListing(const QString& out, const char* archive) {
    Program program(archive, "/l");
    dvl::platform::ResetTerminated();
    program.RarForm.show();
    auto* list = program.RarForm.findChild<QTreeWidget*>("ListView1");
    WaitUntil([&] { return list->topLevelItemCount() > 0; });
    WaitUntil([] { return false; }, 300); // let the list paint
    return Save(program.RarForm.grab(), out + "/list.png");
}

bool ShootErrorLog(const QString& out, const char* archive) {
    Program program(archive, "/d");
    QPixmap shot;
    std::function<void()> poll = [&] {
        if (QApplication::activeModalWidget() == &program.logform) {
            WaitUntil([] { return false; }, 300);
            shot = program.logform.grab();
            program.logform.close();
        } else {
            QTimer::singleShot(20, poll);
        }
    };
    QTimer::singleShot(0, poll);
    dvl::platform::ResetTerminated();
    program.RarForm.show();
    WaitUntil([] { return dvl::platform::Terminated(); });
    return Save(shot, out + "/errorlog.png");
}

// The two dialogs as they first appear.
bool ShootDialogs(const QString& out) {
    Tselpathform selpath;
    TZipOptionsForm options;
    bool ok = true;
    for (auto [dialog, name] : {std::pair<QWidget*, const char*>{&selpath, "/extract-to.png"},
                                std::pair<QWidget*, const char*>{&options, "/unzip.png"}}) {
        dialog->show();
        WaitUntil([] { return false; }, 300);
        ok = Save(dialog->grab(), out + name) && ok;
        dialog->hide();
    }
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fputs("usage: dvl2_screenshots OUTDIR EXTRACT.zip LIST.zip BROKEN.zip\n", stderr);
        return 2;
    }
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    ApplyProgramFont();
    InstallQtHooks();
    dvl::platform::SetTerminateHook(nullptr); // the flag is watched here instead
    const QString out = QString::fromLocal8Bit(argv[1]);
    bool ok = ShootExtraction(out, argv[2]);
    ok = ShootListing(out, argv[3]) && ok;
    ok = ShootErrorLog(out, argv[4]) && ok;
    ok = ShootDialogs(out) && ok;
    return ok ? 0 : 1;
}
