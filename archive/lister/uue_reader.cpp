// UUE: text whose first "begin <mode> <name>" line within its first 800 bytes
// names the one encoded file; the file itself is listed as that entry.
#include "archive/file_spec.h"
#include "archive/lister/lorvex.h"
#include "platform/times.h"

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>

namespace dvl::lister {

namespace {

constexpr int64_t kSearchedBytes = 800;
constexpr std::string_view kBegin = "begin ";
constexpr uint32_t kArchiveAttribute = 0x20;

bool IsBlankOrControl(char c) {
    return static_cast<unsigned char>(c) <= ' ';
}

// The name of the first begin line; empty when there is none.
std::string BeginLineName(std::string_view text) {
    size_t at = 0;
    while (at < text.size()) {
        if (text.compare(at, kBegin.size(), kBegin) == 0) {
            const size_t lineEnd = std::min(text.find_first_of("\r\n", at), text.size());
            std::string_view line = text.substr(at + kBegin.size(), lineEnd - at - kBegin.size());
            const size_t blank = line.find(' '); // ends the mode
            line = blank == std::string_view::npos ? std::string_view{} : line.substr(blank + 1);
            while (!line.empty() && IsBlankOrControl(line.front()))
                line.remove_prefix(1);
            while (!line.empty() && IsBlankOrControl(line.back()))
                line.remove_suffix(1);
            return std::string(line);
        }
        const size_t feed = text.find('\n', at);
        if (feed == std::string_view::npos) break;
        at = feed + 1;
    }
    return {};
}

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
    l.FileName = BeginLineName(text);
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
