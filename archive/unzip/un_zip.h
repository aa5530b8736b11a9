// TUnZIP: extracts (or tests) the entries of a ZIP archive, also a
// self-extracting one, walking its central directory.
#pragma once

#include "archive/codecs/inflate.h"
#include "archive/input_window.h"
#include "archive/un_base.h"
#include "archive/unzip/progress_meter.h"
#include "archive/unzip/zip_crypto.h"
#include "archive/unzip/zip_records.h"

#include <map>
#include <memory>
#include <optional>

namespace dvl {

class TUnZIP : public TUnBase {
public:
    explicit TUnZIP(TComponent* owner);
    ~TUnZIP() override;

protected:
    void ExtractLoop() override;
    std::string StoredNameToAnsi(const std::string& storedName) const override;

private:
    enum class EntryOutcome { Decoded, Declined, NotDecoded };
    // After a central header: on to the next, the directory's end, or a stop
    // (cancel, a name without wildcards found).
    enum class WalkStep { Next, End, Stop };

    void Run();
    void Walk();
    void EndRun();
    // Up to n bytes of the archive at a position (the end record, central
    // headers, names), through a window of the file; the count that came.
    size_t ReadAt(int64_t position, void* buffer, size_t n);
    bool FindEndRecord(unzip::EndRecord& end);
    void ReadCentralHeader(int64_t& position);
    WalkStep ProcessEntry(int64_t& position, bool wildcardSpec);
    void CheckDirectoryComplete(uint16_t recorded);
    bool ClaimDataRange(const unzip::LocalHeader& local);
    bool SizeAgrees() const;
    void SettleOutput(bool verified);
    EntryOutcome ExtractEntry(const unzip::LocalHeader& local, uint32_t& crcRegister,
                              bool nameChanged);
    bool OpenOutputFile(bool nameChanged);
    std::optional<unzip::ZipKeys> VerifyPassword(const unzip::LocalHeader& local);
    void DecodeEntry(std::optional<unzip::ZipKeys> keys, uint32_t& crcRegister,
                     std::optional<int>& writeFailure);
    void FinishOutputFile(std::optional<int>& writeFailure);
    void ReportProgress(uint8_t percent);

    // Working state of one run.
    uint8_t central_[unzip::kCentralHeaderSize] = {};
    unzip::CentralHeader header_{};
    std::string extra_; // the central header's extra field
    // The central directory and the local headers lie apart: each is read
    // through a window of its own.
    InputWindow directoryWindow_, localWindow_;
    int64_t stubBase_ = 0;
    int32_t recNum_ = 0;
    bool nothingDone_ = true;
    uint32_t headersRead_ = 0;              // central headers met, folders included
    bool diskFull_ = false;                 // once set, nothing more is written
    uint64_t decodedSize_ = 0;              // of the last entry decoded
    std::map<int64_t, int64_t> dataRanges_; // start -> end of the entries' data so far
    std::string currentPassword_;
    unzip::ProgressMeter meter_;
    std::unique_ptr<codecs::Inflater> inflater_;
};

} // namespace dvl
