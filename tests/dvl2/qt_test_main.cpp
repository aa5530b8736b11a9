// GoogleTest with a QApplication on the offscreen platform.
#include "dvl2/forms/qt_hooks.h"
#include "platform/hooks.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    // Also when the binary is run by hand or for test discovery.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir runtimeDir;
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR"))
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtimeDir.path()));
    QDir().mkpath(qEnvironmentVariable("XDG_RUNTIME_DIR"));
    QFile::setPermissions(qEnvironmentVariable("XDG_RUNTIME_DIR"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    dvl::dvl2::ApplyProgramFont();
    dvl::dvl2::InstallQtHooks();
    // Tests watch the terminated flag themselves; a queued quit would end
    // the modal loops of later tests.
    dvl::platform::SetTerminateHook(nullptr);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
