// dvl i: the detected type of each archive and where its contents begin.
#include "archive/errors.h"
#include "archive/zip_common.h"
#include "dvl/commands.h"
#include "platform/file.h"
#include "platform/paths.h"

#include <cstdio>
#include <filesystem>

namespace dvl::cli {

std::string ComponentPath(const std::string& nativePath) {
    std::error_code ec;
    std::filesystem::path p = std::filesystem::absolute(nativePath, ec);
    return platform::ToWindowsPath(ec ? nativePath : p.string());
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
