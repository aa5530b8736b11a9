// The base of the extraction components: where output goes and how it is
// written.
#pragma once

#include "archive/zip_common.h"
#include "platform/output_tree.h"

#include <memory>

namespace dvl {

enum class OutputTarget {
    Files, // entries are written to files under ExtractDir
    Test,  // entries are decoded and checked; nothing is written
};

class TUnBase : public TZipCommon {
public:
    explicit TUnBase(TComponent* owner);
    ~TUnBase() override;

    TCpuType CpuType() const { return cpuType_; }
    void SetCpuType(TCpuType value) { cpuType_ = value; }

    // Runs the extraction loop with the output going to files.
    void Extract();
    // Runs the same loop with output that is only checked, never written.
    void Test();
    OutputTarget Target() const { return target_; }

    void Loaded() override;

    // Writes count bytes to the output-file slot and sets count to what was
    // written; true when all were. I/O errors of the file layer are raised.
    bool WriteOutput(const uint8_t* buffer, size_t& count);
    // Creates the output file for a path below ExtractDir, with its missing
    // folders, never through a symbolic link and never in the archive's
    // place. It is written beside that path until CommitOutput gives it its
    // name (only when output goes to files; a test run creates nothing).
    platform::OutputResult CreateOutput(const std::string& relativePath);
    // True when a file (or anything else) lies where the output for the path
    // below ExtractDir would go: by its exact name, as that is what would be
    // replaced.
    bool OutputExists(const std::string& relativePath);
    // The closed output file takes its name, replacing what is there.
    bool CommitOutput();
    // The output file is removed, or kept with ".broken" added to its name
    // when KeepBroken is set.
    void DiscardOutput();

    // Asked while an entry's file exists (from OnFileExists): the entry goes
    // to a free name beside it ("name (1).ext") instead of replacing it.
    void RenameOutput() { renameOutput_ = true; }

    bool KeepBroken() const { return keepBroken_; }
    void SetKeepBroken(bool value) { keepBroken_ = value; }

    // The most recently created extractor.
    static TUnBase* Current() { return Library().currentExtractor; }

protected:
    // The walk that Extract and Test run; the base has none.
    virtual void ExtractLoop() {}
    // Forgets a rename asked for an earlier entry.
    void StartEntry() { renameOutput_ = false; }

private:
    void StartRun(OutputTarget target);
    platform::OutputTree& Tree();

    std::unique_ptr<platform::OutputTree> outputTree_; // below ExtractDir, made when first needed
    platform::PendingFile pendingOutput_;
    bool keepBroken_ = false;
    bool renameOutput_ = false;
    TCpuType cpuType_ = cptAuto;
    OutputTarget target_ = OutputTarget::Files;
};

} // namespace dvl
