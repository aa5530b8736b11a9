// The platform hooks as the Qt program provides them, and the program font.
#pragma once

namespace dvl::dvl2 {

// ProcessMessages = QCoreApplication::processEvents; Terminate asks the
// event loop to quit once control returns to it; message boxes are
// QMessageBox with the requested caption, icon and buttons.
void InstallQtHooks();

// The desktop's sans-serif face at 8 points for all windows.
void ApplyProgramFont();

} // namespace dvl::dvl2
