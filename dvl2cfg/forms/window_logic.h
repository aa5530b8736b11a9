// The configuration window's rules that need no widgets: the row a new file
// type becomes and the thanks texts of the about tab.
#pragma once

#include "dvl2cfg/core/associations.h"

#include <array>
#include <cstddef>
#include <string>

namespace dvl::dvl2cfg {

inline constexpr const char* kApplicationTitle = "Configure Dovrel v2.2b";

// The row for an extension and description typed into the new-file-type
// dialog: the extension upper-cased, an empty description standing in as the
// extension followed by " archive".
FileTypeRow NewFileTypeRow(const std::string& extension, const std::string& description);

// The thanks texts of the about tab, shown one per timer tick in turn.
class ThanksRotation {
public:
    static constexpr std::size_t kCount = 5;
    static const std::array<const char*, kCount>& Texts();

    // The next tick shows the first text again.
    void Restart() { index_ = 0; }
    // The text of this tick; the tick after the last text shows the first.
    std::string Next();
    std::size_t Index() const { return index_; }

private:
    std::size_t index_ = 0;
};

} // namespace dvl::dvl2cfg
