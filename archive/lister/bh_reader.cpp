// BH: local headers, each followed by its name and its data.
#include "archive/bytes.h"
#include "archive/dates.h"
#include "archive/lister/lorvex.h"
#include "archive/lister/method_names.h"

namespace dvl::lister {

namespace {

constexpr int kHeaderSize = 37;
constexpr uint32_t kSignature = 0x07054842;
constexpr uint8_t kEncrypted = 0x01;

class BhReader final : public Reader {
public:
    void Prepare(TLorvex& l) override { l.SetHeaderSize(kHeaderSize); }
    void Step(TLorvex& l) override;
};

void BhReader::Step(TLorvex& l) {
    const uint8_t* h = l.Header();
    if (Le32(h) != kSignature || Le16(h + 4) == 0) {
        l.EndWalk();
        return;
    }
    const int64_t start = l.HeaderPos - 1;
    const uint32_t packed = Le32(h + 15), original = Le32(h + 19);
    l.SetEntryName(l.ReadCountedName(h[33]));
    l.FireReadFile();
    l.ReadPos += packed;
    if (!l.MatchesSpec()) return;

    l.CountEntry();
    l.AddTotals(packed, original);
    l.FileDate = l.ConvertFileDate(Le32(h + 11));
    l.VersionMadeBy = h[7];
    l.VersionNeeded = h[8];
    l.PackedSize = packed;
    l.UnpackedSize = original;
    l.CRC = Le32(h + 23);
    l.Encrypted = (h[9] & kEncrypted) != 0;
    l.MethodCode = h[10];
    l.MethodName = MethodNameFor(l.ArcType(), h[10]);
    l.InternalAttr = l.ExternalAttr = Le16(h + 27);
    l.Ratio = ComputeRatio(packed, original);
    l.ReportEntry(int32_t(start), l.EntryCount());
}

} // namespace

std::unique_ptr<Reader> MakeBhReader() {
    return std::make_unique<BhReader>();
}

} // namespace dvl::lister
