// The code page an archive's legacy (OEM) names are read in.
#pragma once

#include <string>

namespace dvl {

// While it lives, the OEM names of one archive are read in the code page the
// user gave (dvl --codepage, DOVREL_OEMCP) or, when none was given, in the one
// a detector finds with confidence over all of the archive's OEM names (for
// example 866 for Russian DOS names, 932 for Japanese ones); otherwise 437.
// The choice before it comes back afterwards.
class ArchiveCodePage {
public:
    explicit ArchiveCodePage(const std::string& archivePath); // Windows form
    ~ArchiveCodePage();
    ArchiveCodePage(const ArchiveCodePage&) = delete;
    ArchiveCodePage& operator=(const ArchiveCodePage&) = delete;

    // The code page guessed for this archive; empty when none was.
    const std::string& Guessed() const { return guessed_; }

private:
    std::string guessed_;
};

} // namespace dvl
