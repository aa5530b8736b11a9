// TAR: 512-byte header blocks, each followed by its data rounded up to whole
// blocks. Names longer than the name field come from the ustar prefix, from a
// GNU long-name entry or from a pax header before the entry.
#include "archive/file_spec.h"
#include "archive/lister/lorvex.h"
#include "archive/text.h"

#include <cstring>
#include <optional>
#include <string>
#include <string_view>

namespace dvl::lister {

namespace {

constexpr int kBlockSize = 512;
constexpr size_t kNameField = 100, kPrefixField = 155;
constexpr size_t kSizeOffset = 124, kTimeOffset = 136, kChecksumOffset = 148, kTypeOffset = 156;
constexpr size_t kMagicOffset = 257, kPrefixOffset = 345;
constexpr size_t kNumberField = 12, kChecksumField = 8;
// Long names and pax headers larger than this are not names and are skipped.
constexpr int64_t kMaxMetaData = 64 * 1024;

bool IsBlankOrControl(char c) {
    return static_cast<unsigned char>(c) <= ' ';
}

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && IsBlankOrControl(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlankOrControl(text.back()))
        text.remove_suffix(1);
    return text;
}

// The text of a fixed field up to its first zero byte.
std::string_view FieldText(const uint8_t* field, size_t width) {
    const char* text = reinterpret_cast<const char*>(field);
    return {text, strnlen(text, width)};
}

// A numeric field: octal digits (others are skipped), or, when the first byte
// has its high bit set, a big-endian binary value in the remaining bytes, as
// archivers write sizes and times that octal text cannot hold.
int64_t NumberField(const uint8_t* field, size_t width) {
    uint64_t value = 0;
    if (field[0] & 0x80) {
        // Negative values and values beyond 62 bits are not sizes or times.
        if (field[0] & 0x40) return 0;
        for (size_t i = 1; i < width; ++i) {
            if (value >> 54) return 0;
            value = (value << 8) | field[i];
        }
        return int64_t(value);
    }
    for (size_t i = 0; i < width; ++i) {
        const uint8_t c = field[i];
        if (c >= '0' && c <= '7' && value >> 60 == 0) value = value * 8 + (c - '0');
    }
    return int64_t(value);
}

// pax records are "<length> <key>=<value>\n".
void ParsePax(std::string_view data, std::optional<std::string>& path,
              std::optional<int64_t>& size) {
    while (!data.empty()) {
        size_t length = 0, i = 0;
        while (i < data.size() && data[i] >= '0' && data[i] <= '9' && length < data.size())
            length = length * 10 + size_t(data[i++] - '0');
        if (i == 0 || i >= data.size() || data[i] != ' ' || length <= i + 1 || length > data.size())
            return;
        std::string_view record = data.substr(i + 1, length - i - 1);
        data.remove_prefix(length);
        if (!record.empty() && record.back() == '\n') record.remove_suffix(1);
        const size_t equals = record.find('=');
        if (equals == std::string_view::npos) continue;
        const std::string_view key = record.substr(0, equals), value = record.substr(equals + 1);
        if (key == "path") {
            path = std::string(value);
        } else if (key == "size") {
            int64_t n = 0;
            bool ok = !value.empty();
            for (char c : value) {
                if (c < '0' || c > '9' || n > (INT64_MAX - 9) / 10) {
                    ok = false;
                    break;
                }
                n = n * 10 + (c - '0');
            }
            if (ok) size = n;
        }
    }
}

class TarReader final : public Reader {
public:
    void Prepare(TLorvex& l) override { l.SetHeaderSize(kBlockSize); }
    void Step(TLorvex& l) override;

private:
    std::string ReadData(TLorvex& l, int64_t size) const;

    // From a long-name entry or a pax header, for the entry that follows.
    std::optional<std::string> longName_;
    std::optional<int64_t> paxSize_;
};

std::string TarReader::ReadData(TLorvex& l, int64_t size) const {
    std::string data(size_t(std::min(size, kMaxMetaData)), '\0');
    l.SeekInput(l.ReadPos);
    data.resize(l.ReadInput(data.data(), data.size()));
    return data;
}

void TarReader::Step(TLorvex& l) {
    const uint8_t* h = l.Header();
    const char type = char(h[kTypeOffset]);
    int64_t size = NumberField(h + kSizeOffset, kNumberField);

    std::string name;
    if (longName_) {
        name = *longName_;
    } else {
        name = std::string(FieldText(h, kNameField));
        if (std::memcmp(h + kMagicOffset, "ustar", 5) == 0) {
            const std::string_view prefix = FieldText(h + kPrefixOffset, kPrefixField);
            if (!prefix.empty()) name = std::string(prefix) + "/" + name;
        }
    }
    if (paxSize_ && type != 'x' && type != 'g' && type != 'L' && type != 'K') size = *paxSize_;
    l.FileName = SlashToBackslash(Trimmed(name));
    // A zero block ends the archive.
    if (Trimmed(FieldText(h, kNameField)).empty()) {
        l.EndWalk();
        return;
    }

    if (type == 'L' || type == 'x') {
        // Metadata for the next entry, not an entry of its own.
        const std::string data = ReadData(l, size);
        if (type == 'L') {
            longName_ = std::string(data.data(), strnlen(data.data(), data.size()));
        } else {
            std::optional<std::string> path;
            ParsePax(data, path, paxSize_);
            if (path) longName_ = std::move(path);
        }
    } else if (type != 'g' && type != 'K') {
        longName_.reset();
        paxSize_.reset();
        l.FireReadFile();
        const bool listed = type == '\0' || type == '0' || type == '1';
        if (listed && MatchFileSpec(l.FileSpec(), l.FileName, !l.ShowBlankDirs())) {
            l.CountEntry();
            l.AddTotals(size, size);
            l.FileDate = TLorvex::ConvertUnixDate(NumberField(h + kTimeOffset, kNumberField));
            l.PackedSize = l.UnpackedSize = size;
            l.CRC = uint32_t(NumberField(h + kChecksumOffset, kChecksumField));
            l.Encrypted = 0;
            l.MethodName = "Stored";
            l.MethodCode = 0;
            l.InternalAttr = 0;
            l.ExternalAttr = 0;
            l.VersionMadeBy = l.VersionNeeded = 0;
            l.ReportEntry(int32_t(l.HeaderPos - 1), l.EntryCount());
        }
    }
    // The data in whole blocks; a size beyond the file ends the walk.
    const int64_t blocks = size / kBlockSize + (size % kBlockSize != 0);
    if (blocks > (l.StopPos - l.ReadPos) / kBlockSize)
        l.EndWalk();
    else
        l.ReadPos += blocks * kBlockSize;
}

} // namespace

std::unique_ptr<Reader> MakeTarReader() {
    return std::make_unique<TarReader>();
}

} // namespace dvl::lister
