// PAK: the ARC layout of local headers, without folders.
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
constexpr uint8_t kMarker = 0x1A, kOldMethod = 1;
constexpr uint32_t kArchiveAttribute = 0x20;

class PakReader final : public Reader {
public:
    void Prepare(TLorvex& l) override { l.SetHeaderSize(kHeaderSize); }
    void Step(TLorvex& l) override;
};

void PakReader::Step(TLorvex& l) {
    const uint8_t* h = l.Header();
    const int64_t start = l.HeaderPos - 1;
    const uint8_t method = h[1];
    if (h[0] != kMarker || method == 0) {
        l.EndWalk();
        return;
    }
    const char* stored = reinterpret_cast<const char*>(h + 2);
    l.SetEntryName(std::string(stored, strnlen(stored, 13)));
    l.FireReadFile();
    int64_t packed = Le32(h + 15), original = Le32(h + 25);
    int64_t headerLength = kHeaderSize;
    if (method == kOldMethod) {
        headerLength = kOldHeaderSize;
        original = packed;
    }
    l.ReadPos = start + headerLength + packed;

    if (!l.MatchesSpec()) return;
    l.CountEntry();
    l.AddTotals(packed, original);
    l.FileDate = l.ConvertFileDate(SwapHalves(Le32(h + 19)));
    l.VersionMadeBy = l.VersionNeeded = 0;
    l.PackedSize = packed;
    l.UnpackedSize = original;
    l.CRC = Le16(h + 23);
    l.Encrypted = 0;
    l.MethodCode = method;
    l.MethodName = MethodNameFor(l.ArcType(), method);
    l.InternalAttr = l.ExternalAttr = kArchiveAttribute;
    l.Ratio = ComputeRatio(packed, original);
    l.ReportEntry(int32_t(start), l.EntryCount());
}

} // namespace

std::unique_ptr<Reader> MakePakReader() {
    return std::make_unique<PakReader>();
}

} // namespace dvl::lister
