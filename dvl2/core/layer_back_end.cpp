#include "dvl2/core/layer_back_end.h"

#include "archive/dates.h"
#include "archive/errors.h"
#include "archive/extract/extraction.h"
#include "archive/extract/listing.h"
#include "archive/extract/stream_source.h"
#include "archive/text.h"
#include "archive/zip_common.h"
#include "dvl2/core/front_end.h"
#include "dvl2/core/list_rows.h"
#include "platform/hooks.h"
#include "platform/paths.h"
#include "platform/times.h"

#include <limits>

namespace dvl::dvl2 {

namespace {

struct Detected {
    TArcType type = atNA;
    int32_t startOffset = 0;
};

Detected Detect(const std::string& archivePath) {
    const std::string folder = platform::GetCurrentDir();
    TZipCommon component(nullptr);
    component.SetArchiveFile(archivePath);
    platform::SetCurrentDir(folder); // detection makes the archive's folder the current one
    return {component.ArcType(), component.StartOffset()};
}

const char* StreamTag(extract::StreamKind kind) {
    switch (kind) {
    case extract::StreamKind::Bzip2:
        return "BZIP2";
    case extract::StreamKind::Xz:
        return "XZ";
    case extract::StreamKind::LzmaAlone:
        return "LZMA";
    case extract::StreamKind::Zstd:
        return "ZSTD";
    default:
        return "";
    }
}

int32_t Clamped(uint64_t size) {
    return int32_t(std::min<uint64_t>(size, uint64_t(std::numeric_limits<int32_t>::max())));
}

} // namespace

std::string LayerFormatOf(const std::string& archivePath) {
    const Detected detected = Detect(archivePath);
    switch (detected.type) {
    case atCAB:
        return "CAB";
    case atTAR:
        return "TAR";
    case atGZip:
        return "GZIP";
    case atUUE:
        return "UUE";
    case atARJ:
    case atArjExe:
        return "ARJ";
    case atLHA:
    case atLhaExe:
    case atLZH:
    case atLzhExe:
        return "LHA";
    case atZOO:
        return "ZOO";
    case atNA:
    case atUnknown:
    case atUnsupported:
        return StreamTag(extract::DetectStream(archivePath, 0));
    default:
        return {};
    }
}

bool IsLayerFormat(const std::string& tag) {
    for (const char* known :
         {"CAB", "TAR", "GZIP", "UUE", "BZIP2", "XZ", "LZMA", "ZSTD", "ARJ", "LHA", "ZOO"})
        if (tag == known) return true;
    return false;
}

void LayerBackEnd::RunLayer() {
    // The error log starts empty: one operation runs per process.
    platform::ProcessMessages();
    const std::string archiveName = ExtractFileName(frontEnd_.State().ArchivePath);
    frontEnd_.View().SetArchiveLabel(archiveName);
    if (frontEnd_.State().Mode == kModeList)
        RunList(archiveName);
    else
        RunExtract(archiveName);
    frontEnd_.FinishOperation();
}

std::unique_ptr<extract::EntrySource> LayerBackEnd::OpenSource(const std::string& archiveName) {
    const std::string& path = frontEnd_.State().ArchivePath;
    const Detected detected = Detect(path);
    auto source = extract::MakeEntrySource(detected.type, path, detected.startOffset);
    if (!source) frontEnd_.AddLogRow(archiveName, "", ErrorMessage(kErrUnknownFileType));
    return source;
}

void LayerBackEnd::RunList(const std::string& archiveName) {
    const auto source = OpenSource(archiveName);
    if (!source) return;
    const std::string separator = SystemDateSeparator();
    extract::ListingEvents events;
    events.entry = [&](const extract::Entry& entry, uint64_t unpacked) {
        const double date =
            entry.modified ? platform::DateValueFromUnix(*entry.modified) : kDosEpochDateValue;
        const int ratio = ComputeRatio(int64_t(entry.packedSize), int64_t(unpacked));
        frontEnd_.View().AddZipListRow(
            ZipListRow{ExtractFileName(entry.name), FormatListDate(date, separator),
                       std::to_string(entry.packedSize), std::to_string(unpacked),
                       std::to_string(ratio) + "%"});
        platform::ProcessMessages();
    };
    events.row = [&](int32_t code, const std::string& name) {
        frontEnd_.AddLogRow(archiveName, name, ErrorMessage(code));
    };
    events.cancelled = [this] { return frontEnd_.State().CancelRequested; };
    extract::Listing listing(archiveName, "*.*", true, events);
    source->Walk(listing);
}

void LayerBackEnd::RunExtract(const std::string& archiveName) {
    FrontState& state = frontEnd_.State();
    const auto source = OpenSource(archiveName);
    if (!source) return;
    extract::ExtractionOptions options;
    options.archiveName = archiveName;
    options.destination = state.DestFolder;
    options.test = state.Mode == kModeTest;
    options.protectedFiles = {state.ArchivePath};

    extract::ExtractionEvents events;
    events.row = [&](int32_t code, const std::string& name) {
        frontEnd_.AddLogRow(archiveName, name, ErrorMessage(code));
    };
    events.entryBegins = [&](const std::string& name, std::optional<uint64_t> size) {
        frontEnd_.View().SetFileLabel(name);
        frontEnd_.BeginEntry(Clamped(size.value_or(0)));
        platform::ProcessMessages();
    };
    events.entryProgress = [&](int percent) {
        frontEnd_.View().SetEntryBar(percent);
        platform::ProcessMessages();
    };
    events.archiveProgress = [&](int percent) {
        frontEnd_.SetVolumeBar(percent, 100);
        platform::ProcessMessages();
    };
    events.cancelled = [&state] { return state.CancelRequested; };
    extract::Extraction extraction(options, events);
    extraction.Run(*source);
}

} // namespace dvl::dvl2
