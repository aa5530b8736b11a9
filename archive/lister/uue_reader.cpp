// UUE: text whose first "begin <mode> <name>" line within its first 800 bytes
// names the one encoded file; the file itself is listed as that entry.
#include "archive/file_spec.h"
#include "archive/formats/uue.h"
#include "archive/lister/lorvex.h"
#include "platform/times.h"

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>

namespace dvl::lister {

namespace {

constexpr int64_t kSearchedBytes = 800;
constexpr uint32_t kArchiveAttribute = 0x20;

class UueReader final : public Reader {
public:
    void Prepare(TLorvex& l) override;
    void Step(TLorvex& l) override { l.EndWalk(); }
};

void UueReader::Prepare(TLorvex& l) {
    l.SetHeaderSize(0);
    l.StopPos = l.HeaderPos - 1; // there are no entry headers to walk

    std::string text(size_t(std::clamp<int64_t>(l.ArchiveSize64(), 0, kSearchedBytes)), '\0');
    l.SeekInput(0);
    text.resize(l.ReadInput(text.data(), text.size()));
    l.FileName = formats::FirstUueName(text);
    if (l.FileName.empty()) return;
    l.FireReadFile();
    if (!l.MatchesSpec()) return;

    const std::optional<std::time_t> written = platform::GetLastWriteTime(l.ArchivePath());
    l.FileDate = l.ConvertFileDate(platform::DosDateTimeFromUnix(written.value_or(0)));
    l.VersionMadeBy = l.VersionNeeded = 0;
    l.PackedSize = l.UnpackedSize = l.ArchiveSize64();
    l.CRC = 0;
    l.Encrypted = 0;
    l.MethodName.clear();
    l.MethodCode = 0;
    l.InternalAttr = kArchiveAttribute;
    l.ExternalAttr = kArchiveAttribute;
    l.Ratio = 0;
    l.CountEntry();
    l.AddTotals(l.PackedSize, l.UnpackedSize);
    l.ReportEntry(0, l.EntryCount());
}

} // namespace

std::unique_ptr<Reader> MakeUueReader() {
    return std::make_unique<UueReader>();
}

} // namespace dvl::lister
