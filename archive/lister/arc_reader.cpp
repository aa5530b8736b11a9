// ARC: local headers each followed by its data. A directory entry (method 30)
// opens a folder whose entries follow it, and an end-of-directory record
// (method 31) closes it.
#include "archive/lister/arc_header.h"

namespace dvl::lister {

namespace {

constexpr int64_t kEndOfDirectorySize = 2;
constexpr uint8_t kDirectory = 30, kEndOfDirectory = 31;
constexpr size_t kMaxPrefix = 4096;
constexpr uint32_t kDirectoryAttribute = 0x10, kArchiveAttribute = 0x20;

class ArcReader final : public Reader {
public:
    void Prepare(TLorvex& l) override {
        l.SetHeaderSize(kArcHeaderSize);
        prefix_.clear();
    }
    void Step(TLorvex& l) override;

private:
    std::string prefix_;
};

void ArcReader::Step(TLorvex& l) {
    const uint8_t* h = l.Header();
    const int64_t start = l.HeaderPos - 1;
    ArcHeader header;
    if (!ParseArcHeader(h, header)) {
        l.EndWalk();
        return;
    }
    if (header.method == kEndOfDirectory) {
        // The folder's entries end here; the next header follows the record.
        if (!prefix_.empty()) prefix_ = ExtractFilePath(prefix_.substr(0, prefix_.size() - 1));
        l.ReadPos = start + kEndOfDirectorySize;
        return;
    }
    l.SetEntryName(header.name);

    const bool directory = header.method == kDirectory;
    if (directory) {
        // Deeper than any real folder tree: damage, and every later name
        // would grow with it.
        if (prefix_.size() > kMaxPrefix) {
            l.EndWalk();
            return;
        }
        prefix_ += l.FileName + "\\";
        l.FileName.clear();
        header.packed = header.original = 0; // its entries come next
    }
    l.FileName = prefix_ + l.FileName;
    l.FireReadFile();
    l.ReadPos = start + header.length + header.packed;

    if (!(directory && l.ShowBlankDirs()) && !l.MatchesSpec()) return;
    ReportArcEntry(l, h, start, header, directory ? kDirectoryAttribute : kArchiveAttribute,
                   {.headerMethod = header.method});
}

} // namespace

std::unique_ptr<Reader> MakeArcReader() {
    return std::make_unique<ArcReader>();
}

} // namespace dvl::lister
