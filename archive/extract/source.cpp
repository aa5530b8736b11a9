#include "archive/extract/source.h"

#include "archive/extract/arj_source.h"
#include "archive/extract/cab_source.h"
#include "archive/extract/lha_source.h"
#include "archive/extract/stream_source.h"
#include "archive/extract/uue_source.h"
#include "archive/extract/zoo_source.h"

namespace dvl::extract {

DataEnd DataEndOf(codecs::DecodeStatus status) {
    switch (status) {
    case codecs::DecodeStatus::Ok:
        return DataEnd::Complete;
    case codecs::DecodeStatus::Truncated:
        return DataEnd::Truncated;
    case codecs::DecodeStatus::WriteFailed:
        return DataEnd::Stopped;
    case codecs::DecodeStatus::Corrupt:
    case codecs::DecodeStatus::NoMemory:
        break;
    }
    return DataEnd::Corrupt;
}

codecs::DecodeStatus CopyStored(codecs::ByteSource& in, codecs::ByteSink& out, uint64_t size) {
    uint64_t copied = 0;
    for (std::span<const uint8_t> chunk; !(chunk = in.Next()).empty();) {
        if (!out.Write(chunk.data(), chunk.size())) return codecs::DecodeStatus::WriteFailed;
        copied += chunk.size();
    }
    return copied < size ? codecs::DecodeStatus::Truncated : codecs::DecodeStatus::Ok;
}

bool LayerHandles(TArcType type) {
    return type == atCAB || type == atTAR || type == atGZip || type == atUUE || type == atARJ ||
           type == atArjExe || type == atZOO || type == atLHA || type == atLhaExe ||
           type == atLZH || type == atLzhExe;
}

std::unique_ptr<EntrySource> MakeEntrySource(TArcType type, const std::string& archivePath,
                                             int64_t startOffset, const SourceOptions& options) {
    const int64_t start = startOffset > 0 ? startOffset - 1 : 0;
    switch (type) {
    case atCAB:
        return MakeCabSource(archivePath, start);
    case atUUE:
        return MakeUueSource(archivePath);
    case atARJ:
    case atArjExe:
        return MakeArjSource(archivePath, start, options);
    case atZOO:
        return MakeZooSource(archivePath, start);
    case atLHA:
    case atLhaExe:
    case atLZH:
    case atLzhExe:
        return MakeLhaSource(archivePath, start);
    case atTAR:
    case atGZip:
        return MakeStreamSource(archivePath, start, DetectStream(archivePath, start));
    case atNA:
    case atUnknown:
    case atUnsupported:
        // Compressors detection has no type for (bzip2, XZ, Zstandard) are
        // recognised by their content.
        return MakeStreamSource(archivePath, 0, DetectStream(archivePath, 0));
    default:
        return nullptr;
    }
}

} // namespace dvl::extract
