// dvl x and dvl t: extraction and testing of ZIP-family archives.
#include "archive/errors.h"
#include "archive/extract/source.h"
#include "archive/name_code_page.h"
#include "archive/unzip/un_zip.h"
#include "dvl/commands.h"
#include "dvl/layer_command.h"
#include "dvl/overwrite_policy.h"
#include "platform/codepage.h"
#include "platform/paths.h"

#include <algorithm>
#include <cstdio>
#include <unistd.h>

namespace dvl::cli {

namespace {

struct ExtractOptions {
    std::string destination; // native path; empty = the current folder
    std::string spec = "*.*";
    bool flat = false;
    bool keepBroken = false;
    bool noLimit = false;
    OverwriteMode overwrite = OverwritePolicy::DefaultMode();
    std::vector<std::string> passwords;
    std::vector<std::string> archives;
};

bool ParseOptions(const std::vector<std::string>& args, bool test, ExtractOptions& options) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& target) {
            if (i + 1 >= args.size()) return false;
            target = args[++i];
            return true;
        };
        if (!test && a == "-o") {
            if (!value(options.destination)) return false;
        } else if (a == "--spec") {
            if (!value(options.spec)) return false;
        } else if (!test && a == "--flat") {
            options.flat = true;
        } else if (a == "--no-limit") {
            options.noLimit = true;
        } else if (a == "--codepage") {
            if (i + 1 >= args.size() || !platform::SetOemCodePage(args[++i])) return false;
        } else if (!test && a == "--keep-broken") {
            options.keepBroken = true;
        } else if (!test && a.rfind("--overwrite=", 0) == 0) {
            if (!OverwritePolicy::ParseMode(a.substr(12), options.overwrite)) return false;
        } else if (a == "--password") {
            std::string pw;
            if (!value(pw)) return false;
            options.passwords.push_back(pw);
        } else if (a.size() > 1 && a[0] == '-') {
            return false;
        } else {
            options.archives.push_back(a);
        }
    }
    return !options.archives.empty();
}

// Failures of the archive as a whole, as opposed to one of its entries.
bool IsArchiveLevel(int32_t code) {
    return code == kErrUnsupportedArchive || code == kErrUnknownFileType || code == kErrHeaderId ||
           code == kErrReadingFile;
}

void PrintError(int32_t code, const std::string& file) {
    std::fprintf(stderr, "%d %s (%s)\n", code, ErrorMessage(code).c_str(), file.c_str());
}

int ProcessArchive(const std::string& arg, const ExtractOptions& options, bool test,
                   OverwritePolicy& policy) {
    int status = kExitOk;
    TUnZIP unzip(nullptr);
    unzip.SetZipCmntBufSize(2000);
    unzip.SetFileSpec(options.spec);
    unzip.SetUseStoredDirs(!options.flat);
    unzip.SetKeepBroken(options.keepBroken);
    unzip.SetPasswords(options.passwords);
    unzip.SetExtractDir(
        ComponentPath(options.destination.empty() ? std::string(".") : options.destination));
    unzip.OnError = [&](TZipCommon*, const std::string& fn, const std::string&, int32_t code) {
        PrintError(code, fn);
        status = std::max(status, IsArchiveLevel(code) ? int(kExitUsage) : int(kExitEntryFailed));
    };
    unzip.OnFileExists = [&](TZipCommon*, const std::string& fn, double, bool& accept) {
        switch (policy.Decide(platform::ToNativeSpelling(fn))) {
        case OverwritePolicy::Answer::Replace:
            break;
        case OverwritePolicy::Answer::Keep:
            accept = false;
            unzip.ReportError(fn, "0", kErrExistingKept);
            break;
        case OverwritePolicy::Answer::Rename:
            unzip.RenameOutput();
            break;
        }
    };
    // The libraries write stored names only: a renamed entry keeps the file.
    const KeepExisting keepExisting = [&policy](const std::string& path) {
        return policy.Decide(path) != OverwritePolicy::Answer::Replace;
    };
    const bool showProgress = isatty(STDERR_FILENO);
    if (showProgress) {
        unzip.OnProgress = [](TZipCommon*, const std::string& fn, uint8_t percent) {
            std::fprintf(stderr, "\r%3u%% %s\033[K", percent, fn.c_str());
            if (percent == 100) std::fputs("\r\033[K", stderr);
        };
    }

    // Taken before the component has looked at the archive (which may make
    // its folder the current one).
    const std::string archivePath = ComponentPath(arg);
    const std::string destFolder =
        ComponentPath(options.destination.empty() ? std::string(".") : options.destination);
    unzip.SetArchiveFile(archivePath);
    if (unzip.ArcType() == atFileError) {
        PrintError(kErrOpeningFile, arg);
        return kExitUsage;
    }
    const LibraryOperation libraryOperation =
        test ? LibraryOperation::Test : LibraryOperation::Extract;
    const std::string password =
        options.passwords.empty() ? std::string() : options.passwords.front();
    if (IsRarArchive(unzip.ArcType(), archivePath))
        return RarCommand(arg, archivePath, libraryOperation, destFolder, password, keepExisting);
    if (IsAceArchive(unzip.ArcType(), archivePath))
        return AceCommand(arg, archivePath, libraryOperation, destFolder, password, keepExisting);
    const ArchiveCodePage codePage(archivePath);
    if (!IsZipFamily(unzip.ArcType())) {
        if (const auto source = extract::MakeEntrySource(unzip.ArcType(), archivePath,
                                                         unzip.StartOffset(), {password})) {
            const LayerSettings settings{destFolder,         options.spec, options.flat,
                                         options.keepBroken, test,         options.noLimit};
            return LayerExtract(arg, archivePath, *source, settings, policy);
        }
    }
    if (test)
        unzip.Test();
    else
        unzip.Extract();
    if (test && status == kExitOk) std::printf("%s: ok\n", arg.c_str());
    return status;
}

} // namespace

int ExtractCommand(const std::vector<std::string>& args, bool test) {
    ExtractOptions options;
    if (!ParseOptions(args, test, options)) {
        std::fputs(test ? "usage: dvl t [--spec MASK] [--codepage CP] [--no-limit] "
                          "[--password PW]... ARCHIVE...\n"
                        : "usage: dvl x [-o DIR] [--spec MASK] [--flat] [--keep-broken] "
                          "[--codepage CP] [--no-limit]\n"
                          "             [--overwrite=always|never|rename] [--password PW]... "
                          "ARCHIVE...\n",
                   stderr);
        return kExitUsage;
    }
    int status = kExitOk;
    OverwritePolicy policy(options.overwrite);
    for (const std::string& archive : options.archives)
        status = std::max(status, ProcessArchive(archive, options, test, policy));
    return status;
}

} // namespace dvl::cli
