// The back end of the formats the extraction layer handles (cabinets, TAR,
// the single-stream compressors, encoded text): extracts, tests or lists the
// archive in the same window as the others, with both bars, Cancel and the
// error log.
#pragma once

#include "archive/extract/source.h"

#include <memory>
#include <string>

namespace dvl::dvl2 {

class FrontEnd;

// The format tag of an archive the layer takes ("CAB", "TAR", "GZIP", "UUE",
// "BZIP2", "XZ", "LZMA", "ZSTD"), found when the first bytes gave no tag;
// empty for any other file.
std::string LayerFormatOf(const std::string& archivePath);
bool IsLayerFormat(const std::string& tag);

class LayerBackEnd {
public:
    explicit LayerBackEnd(FrontEnd& frontEnd) : frontEnd_(frontEnd) {}

    // The whole operation, ending with FinishOperation.
    void RunLayer();

private:
    // The archive's entry source; null (after the row) when there is none.
    std::unique_ptr<extract::EntrySource> OpenSource(const std::string& archiveName);
    void RunList(const std::string& archiveName);
    void RunExtract(const std::string& archiveName);

    FrontEnd& frontEnd_;
};

} // namespace dvl::dvl2
