// PAK: the ARC layout of local headers, without folders.
#include "archive/lister/arc_header.h"

namespace dvl::lister {

namespace {

constexpr uint32_t kArchiveAttribute = 0x20;

class PakReader final : public Reader {
public:
    void Prepare(TLorvex& l) override { l.SetHeaderSize(kArcHeaderSize); }
    void Step(TLorvex& l) override;
};

void PakReader::Step(TLorvex& l) {
    const uint8_t* h = l.Header();
    const int64_t start = l.HeaderPos - 1;
    ArcHeader header;
    if (!ParseArcHeader(h, header)) {
        l.EndWalk();
        return;
    }
    l.SetEntryName(header.name);
    l.FireReadFile();
    l.ReadPos = start + header.length + header.packed;
    if (!l.MatchesSpec()) return;
    ReportArcEntry(l, h, start, header, kArchiveAttribute);
}

} // namespace

std::unique_ptr<Reader> MakePakReader() {
    return std::make_unique<PakReader>();
}

} // namespace dvl::lister
