// dvl x, t and l on ACE archives: the dvl2 ACE back end with a console view.
#include "dvl/commands.h"
#include "dvl/library_command.h"
#include "dvl2/core/ace_back_end.h"
#include "dvl2/core/front_end.h"
#include "unace/unace.h"

namespace dvl::cli {

bool IsAceArchive(TArcType type, const std::string& archivePath) {
    if (type != atUnknown && type != atNA && type != atUnsupported) return false;
    unace::AceOpenData open;
    open.ArcName = archivePath.c_str();
    open.OpenMode = unace::ACE_OPEN_LIST;
    unace::AceArchive* probe = unace::ACEOpenArchive(&open);
    if (probe) unace::ACECloseArchive(probe);
    return open.OpenResult == unace::ACE_OK;
}

int AceCommand(const std::string& shownName, const std::string& archivePath,
               LibraryOperation operation, const std::string& destFolder,
               const std::string& password, const KeepExisting& keepExisting) {
    const LibraryBackEnd ace{
        "ACE",
        [&](dvl2::FrontEnd& frontEnd) {
            frontEnd.Ace().SetPassword(password);
            frontEnd.Ace().SetKeepExisting(keepExisting);
        },
        [](dvl2::FrontEnd& frontEnd) { return frontEnd.Ace().ArchiveFailed(); }};
    return LibraryCommand(ace, shownName, archivePath, operation, destFolder);
}

} // namespace dvl::cli
