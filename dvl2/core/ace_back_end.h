// The ACE back end: extracts, tests or lists an archive through the UnACE
// library with the walk, labels, bars and rows of the RAR back end; it checks
// the archive and the destination folder itself first, and polls Cancel
// after each entry.
#pragma once

#include "dvl2/core/library_walk.h"
#include "unace/unace.h"

#include <functional>
#include <string>

namespace dvl::dvl2 {

class FrontEnd;

class AceBackEnd {
public:
    explicit AceBackEnd(FrontEnd& frontEnd);

    // The whole operation, ending with FinishOperation (except when there is
    // no destination folder: the window then stays as prepared).
    void RunAce();

    // A password for encrypted entries (dvl passes one; dvl2 never does).
    void SetPassword(const std::string& password) { password_ = password; }
    // Asked before an entry replaces an existing file (dvl's overwrite
    // policy); true keeps the file.
    void SetKeepExisting(std::function<bool(const std::string& path)> keep) {
        walk_.SetKeepExisting(std::move(keep));
    }

    // After RunAce: true when the archive or the destination was unusable,
    // or the archive could not be opened or its first header not be read
    // (no entry was reached).
    bool ArchiveFailed() const { return archiveFailed_; }

    // The library's callbacks.
    int AceChangeVolume(const std::string& volume, int mode);
    int AceProcessData(int size);

    void ReportAceOpenError(int code);
    void ReportAceProcessError(int code);
    void ReportAceHeaderError(int code);

private:
    // The archive exists and the destination folder exists or was made;
    // otherwise the message box has been shown.
    bool ArchiveAndDestinationReady();
    // Reads the next header and starts the entry bar for it.
    int ReadHeader(unace::AceArchive* archive, unace::AceHeaderData& header);

    FrontEnd& frontEnd_;
    LibraryWalk walk_;
    std::string password_;
    bool archiveFailed_ = false;
};

// The error text of a library result where no table gives one.
std::string AceUnmappedErrorText(int code);

} // namespace dvl::dvl2
