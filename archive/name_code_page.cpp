#include "archive/name_code_page.h"

#include "archive/lister/lorvex.h"
#include "platform/codepage.h"
#include "platform/paths.h"

#include <vector>

namespace dvl {

namespace {

// The stored bytes of every name of the archive that is read as OEM text.
std::vector<std::string> OemNamesOf(const std::string& archivePath) {
    std::vector<std::string> names;
    const std::string folder = platform::GetCurrentDir();
    TLorvex lister(nullptr);
    lister.SetShowBlankDirs(true);
    lister.OnRead = [](TZipCommon*, int32_t, int32_t) {};
    lister.CollectOemNames(&names);
    lister.SetArchiveFile(archivePath);
    if (lister.ArcType() != atNA && lister.ArcType() != atUnknown) lister.Activate();
    platform::SetCurrentDir(folder); // the lister makes the archive's folder the current one
    return names;
}

} // namespace

ArchiveCodePage::ArchiveCodePage(const std::string& archivePath) {
    if (platform::OemCodePageGiven()) return;
    guessed_ = platform::GuessCodePage(OemNamesOf(archivePath));
    if (!guessed_.empty()) platform::SetOemCodePage(guessed_);
}

ArchiveCodePage::~ArchiveCodePage() {
    if (!guessed_.empty()) platform::SetOemCodePage("");
}

} // namespace dvl
