// The ZIP back end: extraction through UnZIP1 (also over every sibling
// archive that matches a mask) and listing through Lorvex1, turning their
// events into labels, bars, list rows and error-log rows.
#pragma once

#include "archive/component.h"

#include <cstdint>
#include <memory>
#include <string>

namespace dvl {
class TUnZIP;
class TLorvex;
class TZipCommon;
} // namespace dvl

namespace dvl::dvl2 {

class FrontEnd;

class ZipBackEnd {
public:
    explicit ZipBackEnd(FrontEnd& frontEnd);
    ~ZipBackEnd();

    void RunZip();

    TUnZIP& UnZIP1() { return *unzip_; }

private:
    void RunList();
    void RunExtract();
    void ExtractOne(const std::string& archivePath, const std::string& label);

    void UnZIP1Progress(TZipCommon* sender, const std::string& fn, uint8_t progress);
    void UnZIP1Error(TZipCommon* sender, const std::string& fn, const std::string& volumeID,
                     int32_t code);
    void Lorvex1Read(TZipCommon* sender, int32_t offset, int32_t filenum);

    FrontEnd& frontEnd_;
    TComponent owner_{nullptr};
    TUnZIP* unzip_ = nullptr;
#if DVL2_HAVE_LISTER
    TLorvex* lorvex_ = nullptr;
#endif
    std::string dateSeparator_;
    std::string currentArchive_; // file name of the archive being extracted
};

} // namespace dvl::dvl2
