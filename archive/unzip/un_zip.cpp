#include "archive/unzip/un_zip.h"

#include "archive/file_spec.h"
#include "archive/text.h"
#include "archive/unzip/entry_data.h"
#include "archive/unzip/legacy_methods.h"
#include "archive/unzip/zip_names.h"
#include "platform/attributes.h"
#include "platform/hooks.h"
#include "platform/paths.h"
#include "platform/times.h"

#include <cerrno>
#include <cstring>
#include <vector>

namespace dvl {

using namespace unzip;
using namespace codecs;

namespace {

// The masks that take every entry: with them a name the matcher would pass
// over (one ending in a dot, one too long to compare) is still extracted.
bool SelectsEveryEntry(const std::string& spec) {
    return spec == "*.*" || spec == "*";
}

constexpr uint32_t kSkippedAttributes = 0x10 | 0x08; // directories and volume labels

// Folders and volume labels are not extracted: by their MS-DOS attributes, by
// a Unix folder mode in the high half, or by a name that ends in a separator
// (archivers on Unix often leave the MS-DOS bits empty).
bool IsFolderOrLabel(const CentralHeader& h, const std::string& stored) {
    if (h.externalAttr & kSkippedAttributes) return true;
    if (((h.externalAttr >> 16) & 0170000) == 0040000) return true;
    return !stored.empty() && (stored.back() == '/' || stored.back() == '\\');
}

int32_t WriteFailureCode(int error) {
    switch (error) {
    case ENOSPC:
        return kErrDiskFull;
    case EFBIG:
        return kErrSizeDifferent; // more output than the stored size
    default:
        return kErrWritingFile;
    }
}

platform::File& Input() {
    return Library().input;
}

// Hands the decoder's output on and keeps the progress in step with the input
// the decoder has consumed so far.
class ProgressingOutput : public ByteSink {
public:
    ProgressingOutput(EntryOutput& out, const Inflater& inflater, EntryInput& in)
        : out_(out), inflater_(inflater), in_(in) {}

    bool Write(const uint8_t* data, size_t n) override {
        SweepTo(inflater_.Consumed());
        return out_.Write(data, n);
    }
    void SweepTo(uint64_t consumed) {
        if (consumed <= swept_) return;
        in_.Meter().Sweep(swept_, consumed, in_.Total());
        swept_ = consumed;
    }

private:
    EntryOutput& out_;
    const Inflater& inflater_;
    EntryInput& in_;
    uint64_t swept_ = 0;
};

void CopyStored(EntryInput& in, EntryOutput& out) {
    while (in.Remaining() > 0) {
        std::span<const uint8_t> chunk = in.Next();
        if (!chunk.empty() && !out.Write(chunk.data(), chunk.size())) {
            if (out.WriteFailure() == ENOSPC) RaiseCode(kErrWritingFile);
            return;
        }
        in.Meter().Evaluate(in.Total() - in.Remaining(), in.Total(), true);
    }
}

void InflateEntry(Inflater& inflater, EntryInput& in, EntryOutput& out) {
    ProgressingOutput progressing(out, inflater, in);
    InflateResult result = inflater.Inflate(in, progressing);
    progressing.SweepTo(result.consumed);
    if (result.error == 0)
        in.Meter().Evaluate(result.consumed, in.Total(), false);
    else if (in.Exhausted())
        in.Meter().Evaluate(in.Total(), in.Total(), false); // the fetch that found no byte
}

} // namespace

TUnZIP::TUnZIP(TComponent* owner) : TUnBase(owner) {}
TUnZIP::~TUnZIP() = default;

std::string TUnZIP::StoredNameToAnsi(const std::string& storedName) const {
    return ZipEntryName(storedName, {header_.flags, header_.versionMadeBy, extra_});
}

void TUnZIP::ExtractLoop() {
    try {
        Run();
    } catch (const E_RAISE&) {
        // A failed run has been reported; Extract returns normally.
    }
}

void TUnZIP::Run() {
    recNum_ = 0;
    nothingDone_ = true;
    headersRead_ = 0;
    diskFull_ = false;
    dataRanges_.clear();
    FileName.clear();
    currentPassword_.clear();
    header_ = {};
    meter_.Start(uint8_t((ProgressNotify() + 1) * 5), [this](uint8_t p) { ReportProgress(p); });

    const std::string archive = ArchiveFile();
    if (archive.empty()) RaiseError(archive, "0", kErrInvalidFileName);
    if (!IsZipFamily(ArcType())) RaiseError(archive, "0", kErrUnsupportedArchive);
    if (!OpenInput(archive)) RaiseError(archive, "0", kErrOpeningFile);
    try {
        Walk();
    } catch (const platform::IoError&) {
        ReportError(archive, "0", kErrReadingFile);
    } catch (...) {
        EndRun();
        throw;
    }
    EndRun();
}

void TUnZIP::EndRun() {
    CloseInput();
    directoryWindow_.Reset();
    localWindow_.Reset();
    Library().output.Close();
    if (OnDeactivate) OnDeactivate(this);
}

void TUnZIP::Walk() {
    const std::string archive = ArchiveFile();
    EndRecord end{};
    if (!FindEndRecord(end)) RaiseError(archive, "0", kErrUnknownFileType);
    // Offsets count from the end of a self-extractor's stub when detection
    // found the archive through the stub's resources, unless the archive's
    // offsets were adjusted to count the stub already.
    stubBase_ = (StartOffset() - 1 == SfxBase() && SfxBase() > 0) ? SfxBase() : 0;
    int64_t position = int64_t(end.centralOffset) + stubBase_;
    ReadCentralHeader(position);
    if (Le32(central_) != kCentralHeaderSignature && stubBase_ > 0) {
        stubBase_ = 0;
        position = end.centralOffset;
        ReadCentralHeader(position);
    }
    if (Le32(central_) != kCentralHeaderSignature) RaiseError(archive, "0", kErrHeaderId);

    if (OnActivate) OnActivate(this);
    SetCancel(false);
    const bool wildcardSpec = HasWildcards(FileSpec());
    WalkStep step = WalkStep::Next;
    while (position < ArchiveSize64()) {
        step = ProcessEntry(position, wildcardSpec);
        if (step != WalkStep::Next) break;
        ReadCentralHeader(position);
    }
    if (step != WalkStep::Stop) CheckDirectoryComplete(end.totalEntries);
    if (nothingDone_) ReportError(archive, "0", kErrNothingToDo);
}

// A directory that ends before the end record's count says entries were lost
// to damage. Archivers that write more than 65535 entries without ZIP64 keep
// the count's low 16 bits.
void TUnZIP::CheckDirectoryComplete(uint16_t recorded) {
    if (recorded == 0xFFFF || uint16_t(headersRead_) == recorded) return;
    ReportMissingEntries(uint16_t(headersRead_), recorded);
}

// The end record lies within the last 32768 bytes (the record and a comment).
size_t TUnZIP::ReadAt(int64_t position, void* buffer, size_t n) {
    return directoryWindow_.ReadAt(position, static_cast<uint8_t*>(buffer), n);
}

bool TUnZIP::FindEndRecord(EndRecord& end) {
    const int64_t size = ArchiveSize64();
    const int64_t window = size > 32767 ? 32768 : size - 1;
    if (window <= 21) return false;
    std::vector<uint8_t> tail(size_t(window), 0);
    size_t got = ReadAt(size - window, tail.data(), tail.size());
    for (int64_t p = std::min<int64_t>(window, int64_t(got)) - 21; p >= 1; --p) {
        if (Le32(&tail[size_t(p)]) != kEndRecordSignature) continue;
        uint8_t record[kEndRecordSize] = {};
        ReadAt(size - window + p, record, sizeof record);
        end = EndRecord::Parse(record);
        return end.signature == kEndRecordSignature;
    }
    return false;
}

void TUnZIP::ReadCentralHeader(int64_t& position) {
    std::memset(central_, 0, sizeof central_);
    position += int64_t(ReadAt(position, central_, sizeof central_));
}

TUnZIP::WalkStep TUnZIP::ProcessEntry(int64_t& position, bool wildcardSpec) {
    header_ = CentralHeader::Parse(central_);
    if (header_.signature != kCentralHeaderSignature) return WalkStep::End;
    if (Library().cancel) return WalkStep::Stop;
    ++headersRead_;
    StartEntry();
    const WalkStep next = wildcardSpec ? WalkStep::Next : WalkStep::Stop;

    std::string stored(header_.nameLength, '\0');
    stored.resize(ReadAt(position, stored.data(), stored.size()));
    position += header_.nameLength;
    extra_.assign(header_.extraLength, '\0');
    extra_.resize(ReadAt(position, extra_.data(), extra_.size()));
    const std::string shownName = VisibleName(StoredNameToAnsi(stored));
    // A name ends at its first zero byte; what is left is written with a row
    // that says so.
    const bool cutAtZero = stored.find('\0') != std::string::npos;
    if (cutAtZero) stored.resize(stored.find('\0'));
    MakeOutputName(stored);

    const int64_t skip = int64_t(header_.extraLength) + header_.commentLength;
    position += skip;
    if (IsFolderOrLabel(header_, stored)) return WalkStep::Next;
    if (!SelectsEveryEntry(FileSpec()) &&
        !MatchFileSpec(StoredNameToAnsi(stored), FileSpec(), false))
        return WalkStep::Next;
    if (OutputRelativePath().empty()) {
        // No file name is left to create (empty, ".", ".."): say which entry.
        ReportError(shownName, "0", kErrInvalidFileName);
        return next;
    }

    uint8_t localBytes[kLocalHeaderSize] = {};
    localWindow_.ReadAt(int64_t(header_.localOffset) + stubBase_, localBytes, sizeof localBytes);
    const LocalHeader local = LocalHeader::Parse(localBytes);
    if (local.signature != kLocalHeaderSignature && local.signature != kZip250Signature)
        RaiseError(FileName, "0", kErrInconsistentLocalHeader);
    if (!ClaimDataRange(local)) {
        ReportError(FileName, "0", kErrOverlappingData);
        return next;
    }
    if (diskFull_ && Target() == OutputTarget::Files) {
        // Nothing more is written once the disk was found full.
        ReportError(FileName, "0", kErrDiskFull);
        return next;
    }

    ++recNum_;
    bool extract = true;
    if (Target() == OutputTarget::Files && OnFileExists && OutputExists(OutputRelativePath()))
        OnFileExists(this, FileName, ConvertFileDate(local.dosDateTime), extract);
    if (extract && OnBegin) OnBegin(this, FileName, recNum_, extract);

    uint32_t crcRegister = ~header_.crc; // a declined entry passes the verdict
    EntryOutcome outcome = EntryOutcome::Declined;
    if (extract)
        outcome = ExtractEntry(local, crcRegister, cutAtZero);
    else
        --recNum_;

    const bool crcPass = ~crcRegister == header_.crc;
    const bool sizePass = outcome != EntryOutcome::Decoded || SizeAgrees();
    if (outcome == EntryOutcome::NotDecoded) {
        // Its own error has been reported; there is no register to judge.
        if (OnEnd) OnEnd(this, FileName, false);
    } else if (OnEnd) {
        OnEnd(this, FileName, crcPass);
    } else if (outcome == EntryOutcome::Decoded && !crcPass) {
        ReportError(FileName, "0", kErrFailsCrc);
    }
    if (outcome == EntryOutcome::Decoded && crcPass && !sizePass)
        ReportError(FileName, "0", kErrSizeDifferent);
    if (outcome == EntryOutcome::Decoded) SettleOutput(crcPass && sizePass);
    return next;
}

// The stored size where the entry has one (ZIP64 keeps it elsewhere).
bool TUnZIP::SizeAgrees() const {
    return header_.unpackedSize == kZip64SizeMarker || decodedSize_ == header_.unpackedSize;
}

// A verified entry takes its name; a failed one leaves no file that looks
// complete (kept under a name that says so when asked).
void TUnZIP::SettleOutput(bool verified) {
    if (Target() != OutputTarget::Files) return;
    if (verified) {
        if (!CommitOutput()) ReportError(FileName, "0", kErrWritingFile);
    } else {
        DiscardOutput();
    }
}

// Entries whose data overlaps that of another entry are how archives claim
// far more output than they hold; each byte range is extracted once.
// Empty entries hold no data and claim nothing; nor do entries whose size
// is kept in a ZIP64 field.
bool TUnZIP::ClaimDataRange(const LocalHeader& local) {
    if (header_.packedSize == 0 || header_.packedSize == kZip64SizeMarker) return true;
    const int64_t start = int64_t(header_.localOffset) + stubBase_;
    const int64_t end = start + kLocalHeaderSize + local.nameLength + local.extraLength +
                        int64_t(header_.packedSize);
    auto after = dataRanges_.lower_bound(start);
    if (after != dataRanges_.end() && after->first < end) return false;
    if (after != dataRanges_.begin() && std::prev(after)->second > start) return false;
    dataRanges_.emplace(start, end);
    return true;
}

TUnZIP::EntryOutcome TUnZIP::ExtractEntry(const LocalHeader& local, uint32_t& crcRegister,
                                          bool nameChanged) {
    Input().Seek(int64_t(header_.localOffset) + stubBase_ + kLocalHeaderSize + local.nameLength +
                 local.extraLength);

    std::optional<ZipKeys> keys;
    if (local.flags & kFlagEncrypted) {
        keys = VerifyPassword(local);
        if (!keys) {
            if (OnGetPassword) RaiseError(FileName, "0", kErrPasswordFailed);
            ReportError(FileName, "0", kErrPasswordProtected);
            return EntryOutcome::NotDecoded;
        }
    }
    if (!OpenOutputFile(nameChanged)) return EntryOutcome::NotDecoded;
    std::optional<int> writeFailure;
    DecodeEntry(keys, crcRegister, writeFailure);
    nothingDone_ = false;
    FinishOutputFile(writeFailure);
    if (writeFailure) {
        if (*writeFailure == ENOSPC) diskFull_ = true;
        ReportError(FileName, "0", WriteFailureCode(*writeFailure));
        DiscardOutput();
        return EntryOutcome::NotDecoded;
    }
    return EntryOutcome::Decoded;
}

// Creates the entry's file with its folders; a failure is reported with the
// row for its cause.
bool TUnZIP::OpenOutputFile(bool nameChanged) {
    const platform::OutputResult created = CreateOutput(OutputRelativePath());
    switch (created.status) {
    case platform::OutputStatus::Ok:
        break;
    case platform::OutputStatus::LinkInPath:
        ReportError(FileName, "0", kErrLinkInPath);
        return false;
    case platform::OutputStatus::InvalidName:
        ReportError(FileName, "0", kErrInvalidFileName);
        return false;
    case platform::OutputStatus::FolderFailed:
        ReportError(FileName, "0", kErrCreatingDir);
        return false;
    case platform::OutputStatus::FileFailed:
        ReportError(FileName, "0", kErrOpeningFile);
        return false;
    case platform::OutputStatus::Protected:
        ReportError(FileName, "0", kErrWouldReplaceArchive);
        return false;
    }
    if (Target() != OutputTarget::Files) return true;
    if (created.renamed) FileName = AddBackslash(ExtractDir()) + created.relative;
    if (created.renamed || nameChanged) ReportError(FileName, "0", kErrNameChanged);
    return true;
}

// The current password first, then the list, then up to three answers.
std::optional<ZipKeys> TUnZIP::VerifyPassword(const LocalHeader& local) {
    uint8_t header[12] = {};
    Input().Read(header, sizeof header);
    ZipKeys keys;
    if (!currentPassword_.empty() && CheckPassword(keys, currentPassword_, header, header_.flags,
                                                   header_.dosDateTime, header_.crc))
        return keys;
    for (const std::string& password : Passwords()) {
        if (CheckPassword(keys, password, header, local.flags, local.dosDateTime, local.crc)) {
            currentPassword_ = password;
            return keys;
        }
    }
    if (!OnGetPassword) return std::nullopt;
    bool tryAgain = true;
    for (int attempt = 0; attempt < 3; ++attempt) {
        OnGetPassword(this, FileName, currentPassword_, tryAgain);
        if (!tryAgain) break;
        if (CheckPassword(keys, currentPassword_, header, local.flags, local.dosDateTime,
                          local.crc)) {
            PasswordList().insert(PasswordList().begin(), currentPassword_);
            return keys;
        }
        currentPassword_.clear();
        ReportError(FileName, "0", kErrInvalidPassword);
    }
    return std::nullopt;
}

void TUnZIP::DecodeEntry(std::optional<ZipKeys> keys, uint32_t& crcRegister,
                         std::optional<int>& writeFailure) {
    uint64_t packed = header_.packedSize;
    if (keys) packed = packed >= 12 ? packed - 12 : 0; // the encryption header is read
    EntryInput in(packed, keys, meter_);
    // Output never grows past the stored size: more is how an entry claims
    // little and fills the disk.
    EntryOutput out(*this,
                    header_.unpackedSize == kZip64SizeMarker ? UINT64_MAX : header_.unpackedSize);
    try {
        switch (header_.method) {
        case 0:
            CopyStored(in, out);
            break;
        case 1:
        case 2:
        case 3:
        case 4:
        case 5:
        case 6: {
            LegacyEntry entry{in,           out, &in.Meter(), in.Total(), header_.unpackedSize,
                              header_.flags};
            if (header_.method == 1)
                Unshrink(entry);
            else if (header_.method == 6)
                Explode(entry);
            else
                Unreduce(entry, header_.method - 1);
            break;
        }
        case 8:
            if (!inflater_) inflater_ = std::make_unique<Inflater>();
            InflateEntry(*inflater_, in, out);
            break;
        default:
            RaiseCode(kErrUnsupportedMethod);
        }
    } catch (const E_RAISE& e) {
        platform::ShowMessageBox(
            {"", e.what(), platform::MessageIcon::Information, platform::MessageButtons::Ok});
    }
    crcRegister = out.Crc();
    decodedSize_ = out.Written();
    writeFailure = out.WriteFailure();
}

void TUnZIP::FinishOutputFile(std::optional<int>& writeFailure) {
    if (Target() != OutputTarget::Files) return;
    // Dated and given its attributes through the open file, so that neither
    // can reach anything but the file just written.
    platform::File& output = Library().output;
    if (Library().setDateTo == sdOrigDate)
        platform::SetLastWriteDosDateTime(output, header_.dosDateTime);
    platform::ApplyExternalAttributes(output, header_.externalAttr);
    if (!output.Close() && !writeFailure) writeFailure = EIO;
}

void TUnZIP::ReportProgress(uint8_t percent) {
    if (OnProgress) OnProgress(this, FileName, percent);
    platform::ProcessMessages();
}

} // namespace dvl
