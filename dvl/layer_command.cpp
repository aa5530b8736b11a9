#include "dvl/layer_command.h"

#include "archive/errors.h"
#include "archive/extract/extraction.h"

#include <algorithm>
#include <cstdio>
#include <unistd.h>

namespace dvl::cli {

int LayerExtract(const std::string& shownName, const std::string& archivePath,
                 extract::EntrySource& source, const LayerSettings& settings,
                 OverwritePolicy& policy) {
    extract::ExtractionOptions options;
    options.archiveName = shownName;
    options.destination = settings.destination;
    options.mask = settings.mask;
    options.useStoredDirs = !settings.flat;
    options.test = settings.test;
    options.keepBroken = settings.keepBroken;
    if (settings.noLimit) options.ratioLimit = 0;
    options.protectedFiles = {archivePath};

    int status = kExitOk;
    extract::ExtractionEvents events;
    events.row = [&](int32_t code, const std::string& name) {
        std::fprintf(stderr, "%d %s (%s)\n", code, ErrorMessage(code).c_str(), name.c_str());
        // A file that was already there and stays is not the archive's fault,
        // but it was not extracted either.
        const bool archiveLevel = code == kErrOpeningFile && name == shownName;
        status = std::max(status, archiveLevel ? int(kExitUsage) : int(kExitEntryFailed));
    };
    if (isatty(STDERR_FILENO)) {
        std::string current;
        events.entryBegins = [&current](const std::string& name, std::optional<uint64_t>) {
            current = name;
        };
        events.entryProgress = [&current](int percent) {
            std::fprintf(stderr, "\r%3d%% %s\033[K", percent, current.c_str());
            if (percent == 100) std::fputs("\r\033[K", stderr);
        };
    }
    events.existingFile = [&policy](const std::string& path) {
        switch (policy.Decide(path)) {
        case OverwritePolicy::Answer::Keep:
            return extract::ExtractionEvents::Existing::Keep;
        case OverwritePolicy::Answer::Rename:
            return extract::ExtractionEvents::Existing::Rename;
        case OverwritePolicy::Answer::Replace:
            break;
        }
        return extract::ExtractionEvents::Existing::Replace;
    };

    extract::Extraction extraction(options, events);
    extraction.Run(source);
    if (settings.test && status == kExitOk) std::printf("%s: ok\n", shownName.c_str());
    return status;
}

} // namespace dvl::cli
