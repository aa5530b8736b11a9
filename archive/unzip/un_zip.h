// TUnZIP: extracts (or tests) the entries of a ZIP archive, also a
// self-extracting one, walking its central directory.
#pragma once

#include "archive/un_base.h"
#include "archive/unzip/inflate.h"
#include "archive/unzip/progress_meter.h"
#include "archive/unzip/zip_crypto.h"
#include "archive/unzip/zip_records.h"

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

    void Run();
    void Walk();
    void EndRun();
    bool FindEndRecord(unzip::EndRecord& end);
    void ReadCentralHeader(int64_t& position);
    // Steps through one central header; false ends the walk.
    bool ProcessEntry(int64_t& position, bool wildcardSpec);
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
    int64_t stubBase_ = 0;
    int32_t recNum_ = 0;
    bool nothingDone_ = true;
    std::string currentPassword_;
    unzip::ProgressMeter meter_;
    std::unique_ptr<unzip::Inflater> inflater_;
};

} // namespace dvl
