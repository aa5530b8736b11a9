#include "archive/lister/lorvex.h"

#include "archive/dates.h"
#include "archive/file_spec.h"
#include "archive/text.h"
#include "platform/hooks.h"
#include "platform/times.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace dvl {

namespace lister {

std::unique_ptr<Reader> MakeReader(TArcType type) {
    switch (type) {
    case atZIP:
    case atZipExe:
    case atZip250:
    case atZip250Exe:
        return MakeZipReader();
    case atCAB:
        return MakeCabReader();
    case atARJ:
    case atArjExe:
        return MakeArjReader();
    case atARC:
    case atArcExe:
        return MakeArcReader();
    case atPAK:
    case atPakExe:
        return MakePakReader();
    case atBH:
    case atBHExe:
        return MakeBhReader();
    case atHA:
        return MakeHaReader();
    case atGZip:
        return MakeGZipReader();
    case atLHA:
    case atLhaExe:
    case atLZH:
    case atLzhExe:
        return MakeLhaReader();
    case atRAR:
    case atRarExe:
        return MakeRarReader();
    case atTAR:
        return MakeTarReader();
    case atUUE:
        return MakeUueReader();
    case atZOO:
        return MakeZooReader();
    default:
        return nullptr;
    }
}

} // namespace lister

namespace {

constexpr int64_t kMaxZeroTerminatedComment = 2500;
constexpr int64_t kSecondsPerDay = 86400;
constexpr double kUnixEpochDateValue = 25569.0; // 1970-01-01

} // namespace

TLorvex::TLorvex(TComponent* owner) : TZipCommon(owner) {
    SetCancel(false);
    SetFileSpec("*.*");
    SetZipCmntBufSize(0);
}

TLorvex::~TLorvex() = default;

void TLorvex::Loaded() {
    TZipCommon::Loaded();
    if (fileSpec_.empty()) fileSpec_ = "*.*";
}

// --- The driver -----------------------------------------------------------

bool TLorvex::Activate() {
    archivePath_ = ArchiveFile(); // reading the property clears the cancel flags
    if (archivePath_.empty()) return false;
    try {
        if (!OnRead) RaiseError(archivePath_, "0", kErrRequiredEvent);
        if (ArcType() == atNA || ArcType() == atUnknown)
            RaiseError(archivePath_, "0", kErrUnknownFileType);
        if (ArcType() == atFileError) RaiseError(archivePath_, "0", kErrHeaderId);
    } catch (const E_RAISE&) {
        return false;
    }

    VolumePath.clear();
    VolumeName = archivePath_;
    try {
        try {
            List();
        } catch (const platform::IoError&) {
            RaiseError(archivePath_, "0", kErrReadingFile);
        }
    } catch (const E_RAISE&) {
        // Reported by RaiseError; the archive comment stays for the caller.
        CleanUp(false);
        return false;
    } catch (...) {
        CleanUp(false);
        throw;
    }
    CleanUp(true);
    return true;
}

void TLorvex::List() {
    // A set whose first volume has gone may be looked for elsewhere.
    if ((ArcType() == atARJ || ArcType() == atCAB) && !NameExists(archivePath_)) {
        std::string dir = AddBackslash(ExtractFileDir(archivePath_));
        std::string fn = ExtractFileName(archivePath_);
        if (!RequestVolume(dir, fn, "0")) return;
        SetArchiveFile(AddBackslash(dir) + fn);
        archivePath_ = ArchiveFile();
    }
    if (!OpenVolume(archivePath_)) RaiseError(archivePath_, "0", kErrReadingFile);
    if (OnActivate) OnActivate(this);

    Library().entryCount = 0;
    ArchiveComment.reset();
    TotalPacked = TotalUnpacked = 0;
    CRC = 0;
    Ratio = 0;
    PackedSize = UnpackedSize = 0;
    FileDate = 0.0;
    MethodName.clear();
    FileName.clear();
    HeaderPos = StartOffset();
    StopPos = ArchiveSize64();
    header_.clear();
    reader_ = lister::MakeReader(ArcType());
    if (reader_) reader_->Prepare(*this);
    cancelled_ = false;
    Walk();
    if (reader_ && !cancelled_) reader_->Finish(*this);

    if (OnTotals) {
        TotalRatio = ComputeRatio(TotalPacked, TotalUnpacked);
        OnTotals(this, EntryCount());
    }
}

void TLorvex::Walk() {
    ReadPos = HeaderPos - 1;
    while (ReadPos + HeaderSize() < StopPos) {
        HeaderPos = ReadPos + 1;
        SeekInput(ReadPos);
        const size_t got = ReadInput(header_.data(), header_.size());
        ReadPos += int64_t(got);
        // Nothing more to read before the stop offset: the file is shorter
        // than it was, and a step on old header bytes might not move on.
        if (got == 0 && !header_.empty()) break;
        StepFrame();
    }
}

void TLorvex::StepFrame() {
    FileComment.reset();
    DeflateLevel = 0;
    if (Library().cancel) {
        SetCancel(false);
        cancelled_ = true;
        EndWalk();
        return;
    }
    if (reader_)
        reader_->Step(*this);
    else
        EndWalk();
    FileComment.reset();
}

void TLorvex::CleanUp(bool freeArchiveComment) {
    if (freeArchiveComment) ArchiveComment.reset();
    ReadPos = HeaderPos = StopPos = 0;
    header_.clear();
    header_.shrink_to_fit();
    reader_.reset();
    if (OnDeactivate) OnDeactivate(this);
    CloseInput();
    window_.Reset();
}

void TLorvex::ReportEntry(int32_t offset, int32_t filenum) {
    if (filenum % 10 != 0) platform::ProcessMessages();
    if (OnReadBegin) OnReadBegin(this);
    if (OnRead) OnRead(this, offset, filenum);
    if (OnReadEnd) OnReadEnd(this);
}

// --- What the readers share -----------------------------------------------

std::string TLorvex::ReadZeroName() {
    char buffer[256] = {};
    SeekInput(ReadPos);
    ReadInput(buffer, sizeof buffer);
    // Bytes that did not come stay zero and end the text.
    std::string text(buffer, strnlen(buffer, sizeof buffer));
    ReadPos += int64_t(text.size()) + 1;
    return text;
}

std::string TLorvex::ReadCountedName(int32_t n) {
    n = std::max(n, 0);
    std::string text(size_t(n), '\0');
    SeekInput(ReadPos);
    text.resize(ReadInput(text.data(), text.size()));
    ReadPos += n;
    return text;
}

void TLorvex::ReadComment(int64_t n, std::unique_ptr<std::string>& target) {
    const bool zeroTerminated = n == 0;
    if (zeroTerminated) n = kMaxZeroTerminatedComment;
    if (ReadPos + n > ArchiveSize64()) n = ArchiveSize64() - ReadPos - 1;
    n = std::max<int64_t>(n, 0);
    std::string buffer(size_t(n), '\0');
    const size_t got = ReadInput(buffer.data(), buffer.size());
    buffer.resize(strnlen(buffer.data(), buffer.size()));
    const int64_t length = int64_t(buffer.size());
    target = std::make_unique<std::string>(std::move(buffer));
    if (got == size_t(n)) ReadPos += length + (zeroTerminated ? 1 : 0);
}

void TLorvex::SetEntryName(std::string_view stored) {
    NoteOemName(stored);
    FileName = OemToAnsiName(stored);
}

void TLorvex::AddTotals(int64_t packed, int64_t unpacked) {
    TotalPacked += packed;
    TotalUnpacked += unpacked;
}

double TLorvex::ConvertUnixDate(int64_t seconds) {
    const platform::TimeZoneBias tz = platform::GetTimeZoneBias();
    const int64_t bias =
        int64_t(tz.bias) + (tz.daylightInForce ? tz.daylightBias : tz.standardBias);
    // A bias of 12 or less is a count of hours.
    const int64_t local = seconds - (bias > 12 || bias < -12 ? bias * 60 : bias * 3600);
    int64_t days = local / kSecondsPerDay;
    int64_t rest = local % kSecondsPerDay;
    if (rest < 0) {
        rest += kSecondsPerDay;
        --days;
    }
    return kUnixEpochDateValue + double(days) + double(rest) / double(kSecondsPerDay);
}

void TLorvex::SeekInput(int64_t position) {
    if (position < 0) throw platform::IoError("seek before the start of the archive", EINVAL);
    inputPos_ = position;
}

size_t TLorvex::ReadInput(void* buffer, size_t n) {
    const size_t got = window_.ReadAt(inputPos_, static_cast<uint8_t*>(buffer), n);
    inputPos_ += int64_t(got);
    return got;
}

bool TLorvex::OpenVolume(const std::string& path) {
    window_.Reset();
    inputPos_ = 0;
    if (!OpenInput(path)) return false;
    SetArchiveSize(Library().input.Size());
    return true;
}

void TLorvex::SetHeaderSize(int32_t size) {
    header_.assign(size_t(std::max(size, 0)), 0);
}

bool TLorvex::MatchesSpec() const {
    return MatchFileSpec(FileSpec(), FileName, true);
}

void TLorvex::FireReadFile() {
    if (OnReadFile) OnReadFile(this, FileName);
}

} // namespace dvl
