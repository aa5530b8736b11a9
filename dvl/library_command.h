// dvl x, t and l through a back end of dvl2 that walks an archive with its
// library (RAR, ACE), run with a console in place of the windows so that
// both programs share one walk.
#pragma once

#include "dvl/commands.h"

#include <functional>
#include <string>

namespace dvl::dvl2 {
class FrontEnd;
}

namespace dvl::cli {

struct LibraryBackEnd {
    std::string format; // the ArchiveFormat that selects the back end
    // Called before the run, e.g. to hand the back end a password.
    std::function<void(dvl2::FrontEnd&)> prepare;
    // After the run: true when no entry was reached.
    std::function<bool(dvl2::FrontEnd&)> archiveFailed;
};

// Error-log rows and message boxes go to stderr as "error (file)", list rows
// to stdout as the three cells of the list, tab-separated.
int LibraryCommand(const LibraryBackEnd& backEnd, const std::string& shownName,
                   const std::string& archivePath, LibraryOperation operation,
                   const std::string& destFolder);

} // namespace dvl::cli
