// dvl x, t and l on RAR archives: the dvl2 RAR back end with a console view.
#include "dvl/commands.h"
#include "dvl/library_command.h"
#include "dvl2/core/front_end.h"
#include "dvl2/core/rar_back_end.h"
#include "platform/paths.h"
#include "rar/rar_archive.h"

namespace dvl::cli {

bool IsRarArchive(TArcType type, const std::string& archivePath) {
    if (type == atRAR || type == atRarExe) return true;
    if (type != atUnknown && type != atNA && type != atUnsupported) return false;
    rar::Archive probe;
    return probe.Open(platform::ToNativePath(archivePath), rar::kOpenList) == 0;
}

int RarCommand(const std::string& shownName, const std::string& archivePath,
               LibraryOperation operation, const std::string& destFolder,
               const std::string& password, const KeepExisting& keepExisting) {
    const LibraryBackEnd rar{
        "RAR",
        [&](dvl2::FrontEnd& frontEnd) {
            frontEnd.Rar().SetPassword(password);
            frontEnd.Rar().SetKeepExisting(keepExisting);
        },
        [](dvl2::FrontEnd& frontEnd) { return frontEnd.Rar().ArchiveFailed(); }};
    return LibraryCommand(rar, shownName, archivePath, operation, destFolder);
}

} // namespace dvl::cli
