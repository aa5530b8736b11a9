// TAR: 512-byte header blocks, each followed by its data rounded up to whole
// blocks. Names longer than the name field come from the ustar prefix, from a
// GNU long-name entry or from a pax header before the entry.
#include "archive/file_spec.h"
#include "archive/formats/tar_header.h"
#include "archive/lister/lorvex.h"
#include "archive/text.h"

#include <cstring>
#include <string>
#include <string_view>

namespace dvl::lister {

namespace {

using formats::kTarBlock;

constexpr size_t kChecksumOffset = 148, kChecksumField = 8;
// Long names and pax headers larger than this are not names and are skipped.
constexpr int64_t kMaxMetaData = 64 * 1024;

class TarReader final : public Reader {
public:
    void Prepare(TLorvex& l) override { l.SetHeaderSize(int32_t(kTarBlock)); }
    void Step(TLorvex& l) override;

private:
    std::string ReadData(TLorvex& l, int64_t size) const;
    // Steps over the extension blocks of an old GNU sparse member; false
    // when the file ends among them.
    bool SkipSparseExtensions(TLorvex& l);
    void List(TLorvex& l, const formats::TarMember& m);

    formats::TarPending pending_;
};

std::string TarReader::ReadData(TLorvex& l, int64_t size) const {
    std::string data(size_t(std::min(size, kMaxMetaData)), '\0');
    l.SeekInput(l.ReadPos);
    data.resize(l.ReadInput(data.data(), data.size()));
    return data;
}

bool TarReader::SkipSparseExtensions(TLorvex& l) {
    uint8_t block[kTarBlock];
    std::vector<formats::SparseChunk> ignored;
    for (bool more = true; more;) {
        l.SeekInput(l.ReadPos);
        if (l.ReadInput(block, sizeof block) < sizeof block) return false;
        l.ReadPos += kTarBlock;
        more = formats::ParseSparseExtension(block, ignored);
    }
    return true;
}

void TarReader::Step(TLorvex& l) {
    const formats::TarMember m = formats::ParseTarHeader(l.Header(), pending_);
    // A block without a name (zeros) ends the archive.
    if (m.endOfArchive) {
        l.EndWalk();
        return;
    }
    if (m.IsMetadata()) {
        formats::ApplyTarMetadata(m, ReadData(l, m.dataSize), pending_);
    } else {
        if (m.sparseExtended && !SkipSparseExtensions(l)) {
            l.EndWalk();
            return;
        }
        List(l, m);
    }
    // The data in whole blocks; a size beyond the file ends the walk.
    const int64_t size = m.dataSize;
    const int64_t blocks = size / int64_t(kTarBlock) + (size % int64_t(kTarBlock) != 0);
    if (blocks > (l.StopPos - l.ReadPos) / int64_t(kTarBlock))
        l.EndWalk();
    else
        l.ReadPos += blocks * int64_t(kTarBlock);
}

void TarReader::List(TLorvex& l, const formats::TarMember& m) {
    l.FileName = SlashToBackslash(TrimmedBlanks(m.name));
    l.FireReadFile();
    // Files, hard links and sparse files are listed; folders and other links
    // are not.
    const bool listed = m.IsRegularFile() || m.type == '1';
    if (!listed || !MatchFileSpec(l.FileSpec(), l.FileName, !l.ShowBlankDirs())) return;
    const int64_t size = m.type == '1' ? 0 : m.size;
    l.CountEntry();
    l.AddTotals(m.dataSize, size);
    l.FileDate = TLorvex::ConvertUnixDate(m.modified);
    l.PackedSize = m.type == '1' ? 0 : m.dataSize;
    l.UnpackedSize = size;
    l.CRC = uint32_t(formats::TarNumber(l.Header() + kChecksumOffset, kChecksumField));
    l.Encrypted = 0;
    l.MethodName = "Stored";
    l.MethodCode = 0;
    l.InternalAttr = 0;
    l.ExternalAttr = 0;
    l.VersionMadeBy = l.VersionNeeded = 0;
    l.ReportEntry(int32_t(l.HeaderPos - 1), l.EntryCount());
}

} // namespace

std::unique_ptr<Reader> MakeTarReader() {
    return std::make_unique<TarReader>();
}

} // namespace dvl::lister
