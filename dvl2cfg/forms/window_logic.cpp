#include "dvl2cfg/forms/window_logic.h"

#include "dvl2cfg/core/store_text.h"

namespace dvl::dvl2cfg {

FileTypeRow NewFileTypeRow(const std::string& extension, const std::string& description) {
    FileTypeRow row;
    row.Extension = UpperCaseAscii(extension);
    row.Description = description.empty() ? row.Extension + " archive" : description;
    return row;
}

const std::array<const char*, ThanksRotation::kCount>& ThanksRotation::Texts() {
    static const std::array<const char*, kCount> texts = {
        "Everyone who sent a bug report",
        "The testers of the 2.x releases",
        "The authors of the archive formats",
        "The translators of the readme",
        "You, for using Dovrel",
    };
    return texts;
}

std::string ThanksRotation::Next() {
    const std::string text = Texts()[index_];
    index_ = (index_ + 1) % kCount;
    return text;
}

} // namespace dvl::dvl2cfg
