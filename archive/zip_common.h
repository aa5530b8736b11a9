// The common base of the archive components: archive name and detected type,
// file mask, per-entry values, cancel flag, event slots, error
// reporting and the helpers every reader shares.
#pragma once

#include "archive/arc_type.h"
#include "archive/component.h"
#include "archive/errors.h"
#include "archive/library_state.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace dvl {

class TZipCommon;

// Event types; Sender first, var parameters as references.
using TNotifyEvent = std::function<void(TZipCommon* Sender)>;
using TOnBegin =
    std::function<void(TZipCommon* Sender, const std::string& FN, int32_t RecNum, bool& Extract)>;
using TOnEnd = std::function<void(TZipCommon* Sender, const std::string& FN, bool CRC_PASS)>;
using TOnProgress =
    std::function<void(TZipCommon* Sender, const std::string& FN, uint8_t Progress)>;
using TOnError = std::function<void(TZipCommon* Sender, const std::string& FN,
                                    const std::string& VolumeID, int32_t ECode)>;
using TOnFileExists =
    std::function<void(TZipCommon* Sender, const std::string& FN, double FileDate, bool& Accept)>;
using TOnGetPassword = std::function<void(TZipCommon* Sender, const std::string& FN,
                                          std::string& Password, bool& TryAgain)>;
using TOnNextVolume = std::function<void(TZipCommon* Sender, std::string& Dir, std::string& FN,
                                         const std::string& VolumeID, bool& Cancel)>;
using TOnRead = std::function<void(TZipCommon* Sender, int32_t Offset, int32_t Filenum)>;
using TOnTotals = std::function<void(TZipCommon* Sender, int32_t NumFiles)>;
using TOnReadFile = std::function<void(TZipCommon* Sender, const std::string& Filename)>;

enum TProgressNotify : uint8_t { Five, Ten, Fifteen, Twenty, TwentyFive };
enum TCpuType : uint8_t { cptAuto, cpt80286, cpt80386, cpt80486 };

// An attribute mask with its six flags. The mask follows the flags, except
// ftDirectory, which is stored alone.
class TlvxFileAttr {
public:
    enum : uint32_t {
        kReadOnly = 1,
        kHidden = 2,
        kSysFile = 4,
        kVolumeID = 8,
        kDirectory = 16,
        kArchive = 32,
    };

    explicit TlvxFileAttr(uint32_t mask = 0);

    uint32_t Mask() const { return mask_; }
    bool ftArchive() const { return archive_; }
    bool ftHidden() const { return hidden_; }
    bool ftReadOnly() const { return readOnly_; }
    bool ftSysFile() const { return sysFile_; }
    bool ftVolumeID() const { return volumeID_; }
    bool ftDirectory() const { return directory_; }
    void SetftArchive(bool on) { SetFlag(archive_, kArchive, on); }
    void SetftHidden(bool on) { SetFlag(hidden_, kHidden, on); }
    void SetftReadOnly(bool on) { SetFlag(readOnly_, kReadOnly, on); }
    void SetftSysFile(bool on) { SetFlag(sysFile_, kSysFile, on); }
    void SetftVolumeID(bool on) { SetFlag(volumeID_, kVolumeID, on); }
    void SetftDirectory(bool on) { directory_ = on; }

    // Copies the six flags of another set, not its mask.
    void Assign(const TlvxFileAttr& other);

private:
    void SetFlag(bool& flag, uint32_t bit, bool on);

    uint32_t mask_;
    bool archive_, hidden_, readOnly_, sysFile_, volumeID_, directory_;
};

class TZipCommon : public TComponent {
public:
    explicit TZipCommon(TComponent* owner);
    ~TZipCommon() override;

    // Published properties.
    std::string About() const;
    void SetAbout(const std::string&) {}
    const std::string& ArchiveFile(); // clears the cancel flags
    // The same value without the property's effect on the cancel flags.
    const std::string& ArchivePathValue() const { return archiveFile_; }
    virtual void SetArchiveFile(const std::string& value);
    TArcType ArcType() const { return arcType_; }
    virtual void SetArcType(TArcType ignored); // re-runs detection
    const std::string& ExtractDir() const { return extractDir_; }
    void SetExtractDir(const std::string& value);
    const std::string& FileSpec() const { return fileSpec_; }
    void SetFileSpec(const std::string& value);
    int32_t ZipCmntBufSize() const { return zipCmntBufSize_; }
    void SetZipCmntBufSize(int32_t value);
    bool UseStoredDirs() const { return useStoredDirs_; }
    void SetUseStoredDirs(bool value) { useStoredDirs_ = value; }
    TProgressNotify ProgressNotify() const { return progressNotify_; }
    void SetProgressNotify(TProgressNotify value) { progressNotify_ = value; }
    TSetDate SetDateTo(); // refreshes the library-wide copy
    void SetSetDateTo(TSetDate value);
    const std::vector<std::string>& Passwords() const { return passwords_; }
    void SetPasswords(const std::vector<std::string>& lines) { passwords_ = lines; }
    std::vector<std::string>& PasswordList() { return passwords_; }
    TlvxFileAttr& FileAttr() { return *fileAttr_; }

    // Public, not published: also sets the library-wide flag and lets the
    // message queue run once.
    bool Cancel() const { return cancel_; }
    void SetCancel(bool value);

    // Detection results.
    int32_t StartOffset() const { return startOffset_; }
    void SetStartOffset(int32_t value) { startOffset_ = value; }
    int32_t ArchiveSize() const { return archiveSize_; }
    int64_t ArchiveSize64() const { return archiveSize64_; } // the true size
    static int32_t SfxBase() { return Library().sfxBase; }

    // Runs detection on ArchiveFile and stores the results.
    void IdentifyArchive();

    // Events.
    TOnError OnError;
    TNotifyEvent OnActivate;
    TNotifyEvent OnDeactivate;
    TOnBegin OnBegin;
    TOnEnd OnEnd;
    TOnFileExists OnFileExists;
    TOnProgress OnProgress;
    TOnNextVolume OnNextVolume;
    TOnGetPassword OnGetPassword;
    TOnRead OnRead;

    // Per-entry and total values filled by the lister and the extraction driver.
    std::string FileName;
    double FileDate = 0;
    int64_t PackedSize = 0; // the stored fields are unsigned 32-bit; sums may be more
    int64_t UnpackedSize = 0;
    uint8_t Ratio = 0;
    uint32_t CRC = 0;
    uint8_t Encrypted = 0;
    std::string MethodName;
    uint16_t MethodCode = 0;
    uint16_t VersionMadeBy = 0;
    uint16_t VersionNeeded = 0;
    uint16_t InternalAttr = 0;
    uint32_t ExternalAttr = 0;
    uint8_t DeflateLevel = 0;
    int64_t TotalPacked = 0;
    int64_t TotalUnpacked = 0;
    uint8_t TotalRatio = 0;
    std::unique_ptr<std::string> FileComment;
    std::unique_ptr<std::string> ArchiveComment;
    std::string VolumeName;

    // Walk state of the readers, wide enough that no 32-bit field of a header
    // can overflow it.
    int64_t ReadPos = 0;   // next header position
    int64_t StopPos = 0;   // the walk ends when a header would not fit before it
    int64_t HeaderPos = 0; // position of the header being processed

    // Stored entry name -> FileName, the output path under ExtractDir.
    virtual void MakeOutputName(const std::string& storedName);
    // The part of FileName below ExtractDir; empty when the stored name gives
    // no file name (empty, ending in "." or "..").
    const std::string& OutputRelativePath() const { return outputRelativePath_; }
    virtual double ConvertFileDate(uint32_t dosDateTime) const;

    // Reports a failure (OnError, or a warning box at design time), then
    // raises the exception with the code's message.
    template <class Exception = E_RAISE>
    [[noreturn]] void RaiseError(const std::string& fileName, const std::string& volume,
                                 int32_t code) {
        Report(fileName, volume, code, true);
        throw Exception(ErrorMessage(code));
    }
    // Reports a failure and returns.
    void ReportError(const std::string& fileName, const std::string& volume, int32_t code);
    // Reports entries lost to a damaged directory, when fewer were found than
    // the archive records: the row's file reads "N of M entries".
    void ReportMissingEntries(uint64_t found, uint64_t recorded);

    // Asks OnNextVolume for a missing volume; false when declined.
    bool RequestVolume(std::string& dir, std::string& fn, const std::string& volumeID);
    // The name of the next volume after fn: base.A01 .. base.A99, base.100 ..
    // base.999; empty after that.
    static std::string NextVolumeName(std::string& dir, std::string& fn, std::string& num);

    // The input-archive slot; false on failure.
    static bool OpenInput(const std::string& path);
    static bool CloseInput();

protected:
    // A stored entry name as ANSI text with backslashes.
    virtual std::string StoredNameToAnsi(const std::string& storedName) const;

    void Report(const std::string& fileName, const std::string& volume, int32_t code, bool warning);
    // The size of the archive file now open (a reader moving to another volume).
    void SetArchiveSize(int64_t size);

    std::string fileSpec_;
    int32_t zipCmntBufSize_ = 0;

private:
    void DetectOpenFile();
    void ProbeExecutable(const uint8_t head[6]);
    bool ProbeStringResources();
    void ProbeDosImageEnd(const uint8_t head[6]);
    void ScanForAppendedZip();
    void ScanForCabinet();
    // An LHA archive further into a self-extractor (its first plausible header).
    void TakeEmbeddedLha();
    void FallBackOnExtension();

    std::string archiveFile_;
    std::string extractDir_;
    std::string outputRelativePath_;
    TArcType arcType_ = atNA;
    int32_t startOffset_ = 0;
    int32_t archiveSize_ = 0;
    int64_t archiveSize64_ = 0;
    bool useStoredDirs_ = true;
    bool cancel_ = false;
    TProgressNotify progressNotify_ = Ten;
    TSetDate setDateTo_ = sdOrigDate;
    std::vector<std::string> passwords_;
    std::unique_ptr<TlvxFileAttr> fileAttr_;
};

} // namespace dvl
