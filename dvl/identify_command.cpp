// dvl i: the detected type of each archive and where its contents begin.
#include "archive/errors.h"
#include "archive/zip_common.h"
#include "dvl/commands.h"
#include "platform/file.h"
#include "platform/paths.h"

#include <cstdio>
#include <filesystem>

namespace dvl::cli {

namespace {

// The components make an archive's folder the current one; every argument
// is read against the folder the command started in.
std::filesystem::path& StartFolder() {
    static std::filesystem::path folder = std::filesystem::current_path();
    return folder;
}

} // namespace

void RememberStartFolder() {
    StartFolder();
}

std::string ComponentPath(const std::string& nativePath) {
    const std::filesystem::path p(nativePath);
    return platform::ToWindowsPath(
        (p.is_absolute() ? p : StartFolder() / p).lexically_normal().string());
}

namespace {

std::string TrimmedName(TArcType type) {
    std::string name = ArcTypeName(type);
    while (!name.empty() && (name.back() == ' ' || name.back() == '\t'))
        name.pop_back();
    return name;
}

} // namespace

int IdentifyCommand(const std::vector<std::string>& args) {
    if (args.empty()) {
        std::fputs("usage: dvl i ARCHIVE...\n", stderr);
        return kExitUsage;
    }
    int status = kExitOk;
    TZipCommon component(nullptr);
    component.SetZipCmntBufSize(2000);
    for (const std::string& arg : args) {
        std::string path = ComponentPath(arg);
        platform::File probe;
        if (!probe.OpenRead(path)) {
            std::fprintf(stderr, "%d %s (%s)\n", kErrOpeningFile,
                         ErrorMessage(kErrOpeningFile).c_str(), arg.c_str());
            status = kExitUsage;
            continue;
        }
        probe.Close();
        try {
            component.SetArchiveFile(path);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%d %s (%s)\n", kErrReadingFile, e.what(), arg.c_str());
            status = kExitUsage;
            continue;
        }
        std::printf("%s\t%s\tStartOffset=%d ArchiveSize=%d SfxBase=%d\n", arg.c_str(),
                    TrimmedName(component.ArcType()).c_str(), component.StartOffset(),
                    component.ArchiveSize(), TZipCommon::SfxBase());
    }
    return status;
}

} // namespace dvl::cli
