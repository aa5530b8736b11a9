#include "tests/unace/ace_walk.h"

#include "archive/text.h"
#include "platform/paths.h"
#include "tests/support/test_support.h"

namespace dvl::test {

using namespace unace;

std::string WinPath(const std::filesystem::path& path) {
    return platform::ToWindowsPath(path.string());
}

AceWalk WalkAceArchive(const std::filesystem::path& archive, const WalkOptions& options) {
    AceWalk walk;
    const std::string name = WinPath(archive);
    AceOpenData open;
    open.ArcName = name.c_str();
    open.OpenMode = options.operation == ACE_SKIP ? ACE_OPEN_LIST : ACE_OPEN_EXTRACT;
    open.LibraryField = 4;
    open.ChangeVolProc = options.changeVolume;
    open.ProcessDataProc = options.processData;
    open.UserData = options.userData;
    open.Password = options.password;
    AceArchive* handle = ACEOpenArchive(&open);
    walk.openResult = open.OpenResult;
    if (!handle) return walk;
    const std::string dest = AddBackslash(WinPath(options.destination));
    AceHeaderData header;
    while ((walk.endResult = ACEReadHeader(handle, &header)) == ACE_OK) {
        WalkedMember m;
        m.volume = ExtractFileName(header.ArcName);
        m.name = header.FileName;
        m.size = header.UnpSize;
        m.attributes = header.FileAttr;
        m.result = ACEProcessFile(handle, options.operation, dest.c_str());
        walk.members.push_back(m);
    }
    ACECloseArchive(handle);
    return walk;
}

bool PeerUnaceTestsOk(const std::filesystem::path& archive) {
    return Run("unace t -y " + Quote(archive) + " < /dev/null > /dev/null 2>&1") == 0;
}

} // namespace dvl::test
