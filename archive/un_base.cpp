#include "archive/un_base.h"

namespace dvl {

TUnBase::TUnBase(TComponent* owner) : TZipCommon(owner) {
    SetProgressNotify(Ten);
    SetFileSpec("*.*");
    SetSetDateTo(sdOrigDate);
    Library().currentExtractor = this;
}

TUnBase::~TUnBase() {
    if (Library().currentExtractor == this) Library().currentExtractor = nullptr;
}

void TUnBase::Loaded() {
    TZipCommon::Loaded();
    if (fileSpec_.empty()) SetFileSpec("");
}

void TUnBase::Extract() {
    StartRun(OutputTarget::Files);
    ExtractLoop();
}

void TUnBase::Test() {
    StartRun(OutputTarget::Test);
    ExtractLoop();
}

void TUnBase::StartRun(OutputTarget target) {
    target_ = target;
    if (cpuType_ == cpt80486) cpuType_ = cptAuto;
    pendingOutput_.Discard();
    outputTree_.reset();
}

bool TUnBase::WriteOutput(const uint8_t* buffer, size_t& count) {
    if (target_ == OutputTarget::Test) return true;
    size_t wanted = count;
    count = Library().output.Write(buffer, wanted);
    return count == wanted;
}

platform::OutputResult TUnBase::CreateOutput(const std::string& relativePath) {
    if (target_ == OutputTarget::Test) return {};
    Library().output.Close();
    if (!renameOutput_) return Tree().CreateFile(relativePath, Library().output, pendingOutput_);
    renameOutput_ = false;
    platform::OutputResult result =
        Tree().CreateFile(Tree().FreeName(relativePath), Library().output, pendingOutput_);
    result.renamed = true;
    return result;
}

platform::OutputTree& TUnBase::Tree() {
    if (!outputTree_) {
        outputTree_ = std::make_unique<platform::OutputTree>(ExtractDir());
        outputTree_->Protect(ArchivePathValue());
    }
    return *outputTree_;
}

bool TUnBase::OutputExists(const std::string& relativePath) {
    return Tree().Exists(relativePath);
}

bool TUnBase::CommitOutput() {
    Library().output.Close();
    return pendingOutput_.Commit();
}

void TUnBase::DiscardOutput() {
    Library().output.Close();
    if (keepBroken_)
        pendingOutput_.KeepAs(".broken");
    else
        pendingOutput_.Discard();
}

} // namespace dvl
