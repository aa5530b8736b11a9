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
    target_ = OutputTarget::Files;
    if (cpuType_ == cpt80486) cpuType_ = cptAuto;
    ExtractLoop();
}

void TUnBase::Test() {
    target_ = OutputTarget::Test;
    if (cpuType_ == cpt80486) cpuType_ = cptAuto;
    ExtractLoop();
}

bool TUnBase::WriteOutput(const uint8_t* buffer, size_t& count) {
    if (target_ == OutputTarget::Test) return true;
    size_t wanted = count;
    count = Library().output.Write(buffer, wanted);
    return count == wanted;
}

bool TUnBase::CreateOutput(const std::string& path) {
    if (target_ == OutputTarget::Test) return true;
    Library().output.Close();
    return Library().output.Create(path);
}

} // namespace dvl
