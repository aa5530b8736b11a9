// The RAR back end: extracts, tests or lists an archive through the UnRAR
// library, showing the current entry and volume, moving the entry bar from
// the library's data callback, counting volumes from its volume callback and
// turning every failure into a row of the error log.
#pragma once

#include "dvl2/core/library_walk.h"

#include <cstdint>
#include <functional>
#include <string>

namespace dvl::rar {
struct Header;
}

namespace dvl::dvl2 {

class FrontEnd;

class RarBackEnd {
public:
    explicit RarBackEnd(FrontEnd& frontEnd);

    // The whole operation, ending with FinishOperation.
    void RunRar();

    // A password for encrypted entries (dvl passes one; dvl2 never does).
    void SetPassword(const std::string& password) { password_ = password; }
    // Asked before an entry replaces an existing file (dvl's overwrite
    // policy); true keeps the file.
    void SetKeepExisting(std::function<bool(const std::string& path)> keep) {
        walk_.SetKeepExisting(std::move(keep));
    }
    // After RunRar: true when the archive could not be opened or its first
    // header could not be read (no entry was reached).
    bool ArchiveFailed() const { return archiveFailed_; }

    // The library's callbacks.
    int RarChangeVolume(const std::string& volume, int mode);
    int RarProcessData(int size);

    void ReportRarOpenError(int code);
    void ReportRarProcessError(int code);

private:
    // Why an entry is not extracted (a link entry, a link in its path, a
    // name the file system cannot hold); empty when it goes ahead.
    std::string ExtractRefusal(const rar::Header& header, const std::string& storedName) const;

    FrontEnd& frontEnd_;
    LibraryWalk walk_;
    std::string password_;
    bool archiveFailed_ = false;
};

// The error text of a library result where no mapped text applies.
std::string RarUnmappedErrorText(int code);

} // namespace dvl::dvl2
