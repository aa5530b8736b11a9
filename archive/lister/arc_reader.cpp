// ARC: local headers each followed by its data. A directory entry (method 30)
// opens a folder whose entries follow it, and an end-of-directory record
// (method 31) closes it.
#include "archive/bytes.h"
#include "archive/dates.h"
#include "archive/lister/lorvex.h"
#include "archive/lister/method_names.h"
#include "archive/text.h"

#include <cstring>
#include <string>

namespace dvl::lister {

namespace {

constexpr int kHeaderSize = 29;
constexpr int64_t kOldHeaderSize = 25; // method 1 stores no original size
constexpr int64_t kEndOfDirectorySize = 2;
constexpr uint8_t kMarker = 0x1A, kOldMethod = 1, kDirectory = 30, kEndOfDirectory = 31;
constexpr size_t kMaxPrefix = 4096;
constexpr uint32_t kDirectoryAttribute = 0x10, kArchiveAttribute = 0x20;

class ArcReader final : public Reader {
public:
    void Prepare(TLorvex& l) override {
        l.SetHeaderSize(kHeaderSize);
        prefix_.clear();
    }
    void Step(TLorvex& l) override;

private:
    std::string prefix_;
};

void ArcReader::Step(TLorvex& l) {
    const uint8_t* h = l.Header();
    const int64_t start = l.HeaderPos - 1;
    const uint8_t method = h[1];
    if (h[0] != kMarker || method == 0) {
        l.EndWalk();
        return;
    }
    if (method == kEndOfDirectory) {
        // The folder's entries end here; the next header follows the record.
        if (!prefix_.empty()) prefix_ = ExtractFilePath(prefix_.substr(0, prefix_.size() - 1));
        l.ReadPos = start + kEndOfDirectorySize;
        return;
    }
    const char* stored = reinterpret_cast<const char*>(h + 2);
    l.SetEntryName(std::string(stored, strnlen(stored, 13)));

    const bool directory = method == kDirectory;
    int64_t packed = Le32(h + 15), original = Le32(h + 25);
    int64_t headerLength = kHeaderSize;
    if (method == kOldMethod) {
        headerLength = kOldHeaderSize;
        original = packed;
    }
    if (directory) {
        // Deeper than any real folder tree: damage, and every later name
        // would grow with it.
        if (prefix_.size() > kMaxPrefix) {
            l.EndWalk();
            return;
        }
        prefix_ += l.FileName + "\\";
        l.FileName.clear();
        packed = original = 0; // its entries come next
    }
    l.FileName = prefix_ + l.FileName;
    l.FireReadFile();
    l.ReadPos = start + headerLength + packed;

    if (!(directory && l.ShowBlankDirs()) && !l.MatchesSpec()) return;
    l.CountEntry();
    l.AddTotals(packed, original);
    l.FileDate = l.ConvertFileDate(SwapHalves(Le32(h + 19)));
    l.VersionMadeBy = l.VersionNeeded = 0;
    l.PackedSize = packed;
    l.UnpackedSize = original;
    l.CRC = Le16(h + 23);
    l.Encrypted = 0;
    l.MethodCode = method;
    l.MethodName = MethodNameFor(l.ArcType(), method, {.headerMethod = method});
    l.InternalAttr = l.ExternalAttr = directory ? kDirectoryAttribute : kArchiveAttribute;
    l.Ratio = ComputeRatio(packed, original);
    l.ReportEntry(int32_t(start), l.EntryCount());
}

} // namespace

std::unique_ptr<Reader> MakeArcReader() {
    return std::make_unique<ArcReader>();
}

} // namespace dvl::lister
