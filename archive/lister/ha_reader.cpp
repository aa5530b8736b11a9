// HA: a four-byte archive header, then entries of a fixed part, a path, a
// name, machine information and the data; nothing marks the end.
#include "archive/bytes.h"
#include "archive/dates.h"
#include "archive/lister/lorvex.h"
#include "archive/lister/method_names.h"
#include "archive/text.h"

#include <string>

namespace dvl::lister {

namespace {

// The fixed part is read with the byte before it, at buffer offsets 1 to 17.
constexpr int kHeaderSize = 18;
constexpr int64_t kFirstEntry = 4;
constexpr uint8_t kPathSeparator = 0xFF;
constexpr uint32_t kArchiveAttribute = 0x20;

class HaReader final : public Reader {
public:
    void Prepare(TLorvex& l) override {
        l.SetHeaderSize(kHeaderSize);
        l.HeaderPos = kFirstEntry; // the walk reads from the byte before it
        // The archive header: "HA" and the number of entries.
        uint8_t header[4] = {};
        l.SeekInput(l.StartOffset() - 1);
        l.ReadInput(header, sizeof header);
        recorded_ = Le16(header + 2);
        read_ = 0;
    }
    void Step(TLorvex& l) override;
    void Finish(TLorvex& l) override { l.ReportMissingEntries(read_, recorded_); }

private:
    uint16_t recorded_ = 0;
    uint32_t read_ = 0;
};

void HaReader::Step(TLorvex& l) {
    const uint8_t* h = l.Header();
    const int64_t start = l.HeaderPos; // where the fixed part begins
    const uint8_t version = h[1] >> 4, method = h[1] & 0x0F;
    const uint32_t packed = Le32(h + 2), original = Le32(h + 6), crc = Le32(h + 10);
    const uint32_t stamp = Le32(h + 14);

    ++read_;
    std::string path = l.ReadZeroName();
    for (char& c : path)
        if (uint8_t(c) == kPathSeparator || c == '/') c = '\\';
    const std::string name = l.ReadZeroName();
    l.SetEntryName(path.empty() ? name : AddBackslash(path) + name);
    l.FireReadFile();

    // The machine information: its length, then that many bytes.
    uint8_t machineLength = 0;
    l.SeekInput(l.ReadPos);
    l.ReadInput(&machineLength, 1);
    l.ReadPos += machineLength + int64_t(packed); // the byte before the next entry
    if (!l.MatchesSpec()) return;

    l.CountEntry();
    l.AddTotals(packed, original);
    l.FileDate = TLorvex::ConvertUnixDate(stamp);
    l.VersionMadeBy = l.VersionNeeded = version;
    l.PackedSize = packed;
    l.UnpackedSize = original;
    l.CRC = crc;
    l.Encrypted = 0;
    l.MethodCode = method;
    l.MethodName = MethodNameFor(l.ArcType(), method);
    l.InternalAttr = l.ExternalAttr = kArchiveAttribute;
    l.Ratio = ComputeRatio(packed, original);
    l.ReportEntry(int32_t(start - 1), l.EntryCount());
}

} // namespace

std::unique_ptr<Reader> MakeHaReader() {
    return std::make_unique<HaReader>();
}

} // namespace dvl::lister
