// ZOO: an archive header pointing at a chain of directory entries, each with
// the position of the next; an entry may carry a long name, a directory name
// and a comment.
#include "archive/dates.h"
#include "archive/formats/zoo_header.h"
#include "archive/lister/lorvex.h"
#include "archive/lister/method_names.h"
#include "archive/text.h"

#include <string>
#include <vector>

namespace dvl::lister {

namespace {

constexpr int kHeaderSize = int(formats::kZooHeaderRead);
constexpr uint32_t kArchiveAttribute = 0x20;

class ZooReader final : public Reader {
public:
    void Prepare(TLorvex& l) override {
        l.SetHeaderSize(kHeaderSize);
        archiveHeaderRead_ = false;
    }
    void Step(TLorvex& l) override;

private:
    void ReadArchiveHeader(TLorvex& l);
    bool archiveHeaderRead_ = false;
};

void ZooReader::ReadArchiveHeader(TLorvex& l) {
    archiveHeaderRead_ = true;
    formats::ZooArchiveHeader header;
    if (formats::ParseZooArchiveHeader({l.Header(), size_t(kHeaderSize)}, header) !=
        formats::ZooParse::Ok) {
        l.ReadPos = l.ArchiveSize64();
        return;
    }
    if (header.commentLength != 0) {
        l.SeekInput(header.commentAt);
        l.ReadComment(header.commentLength, l.ArchiveComment);
    }
    l.ReadPos = header.firstEntry;
}

void ZooReader::Step(TLorvex& l) {
    if (!archiveHeaderRead_) {
        ReadArchiveHeader(l);
        return;
    }
    const int64_t start = l.HeaderPos - 1;
    std::vector<uint8_t> bytes(formats::kZooEntryRead);
    l.SeekInput(start);
    bytes.resize(l.ReadInput(bytes.data(), bytes.size()));
    formats::ZooEntry e;
    // The last entry of the chain points nowhere and describes no file.
    if (formats::ParseZooEntry(bytes, e) != formats::ZooParse::Ok || int32_t(e.next) <= 0) {
        l.EndWalk();
        return;
    }
    // Only a later entry is followed, so that a damaged chain cannot loop.
    const int64_t following = int64_t(e.next) > start ? int64_t(e.next) : l.StopPos;

    if (e.commentLength != 0) {
        l.SeekInput(e.commentAt);
        l.ReadComment(e.commentLength, l.FileComment);
    }
    l.SetEntryName(e.directory, e.longName.empty() ? e.shortName : e.longName);
    l.FireReadFile();
    l.ReadPos = following;
    if (!l.MatchesSpec()) return;

    l.CountEntry();
    l.AddTotals(e.packedSize, e.originalSize);
    l.FileDate = l.ConvertFileDate(SwapHalves(e.dateTime));
    l.VersionMadeBy = e.majorVersion;
    l.VersionNeeded = e.minorVersion;
    l.PackedSize = e.packedSize;
    l.UnpackedSize = e.originalSize;
    l.CRC = e.crc;
    l.Encrypted = 0;
    l.MethodCode = e.method;
    l.MethodName = MethodNameFor(l.ArcType(), e.method);
    l.InternalAttr = kArchiveAttribute;
    l.ExternalAttr = kArchiveAttribute;
    l.Ratio = ComputeRatio(e.packedSize, e.originalSize);
    l.ReportEntry(int32_t(start), l.EntryCount());
}

} // namespace

std::unique_ptr<Reader> MakeZooReader() {
    return std::make_unique<ZooReader>();
}

} // namespace dvl::lister
