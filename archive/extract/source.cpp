#include "archive/extract/source.h"

#include "archive/extract/cab_source.h"
#include "archive/extract/stream_source.h"
#include "archive/extract/uue_source.h"

namespace dvl::extract {

bool LayerHandles(TArcType type) {
    return type == atCAB || type == atTAR || type == atGZip || type == atUUE;
}

std::unique_ptr<EntrySource> MakeEntrySource(TArcType type, const std::string& archivePath,
                                             int64_t startOffset) {
    const int64_t start = startOffset > 0 ? startOffset - 1 : 0;
    switch (type) {
    case atCAB:
        return MakeCabSource(archivePath, start);
    case atUUE:
        return MakeUueSource(archivePath);
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
