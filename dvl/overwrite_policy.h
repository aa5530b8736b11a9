// What dvl x does with a file that is already where an entry goes: asks on a
// terminal (yes, no, all, none, rename), else follows --overwrite.
#pragma once

#include <string>

namespace dvl::cli {

enum class OverwriteMode { Ask, Always, Never, Rename };

class OverwritePolicy {
public:
    enum class Answer { Replace, Keep, Rename };

    explicit OverwritePolicy(OverwriteMode mode) : mode_(mode) {}
    // Parses "always", "never" or "rename"; false for anything else.
    static bool ParseMode(const std::string& text, OverwriteMode& mode);
    // Ask on a terminal (standard input and error both are one), else Never.
    static OverwriteMode DefaultMode();

    // The answer for an existing file (its path as shown); "all" and "none"
    // answer every later question too.
    Answer Decide(const std::string& shownPath);

private:
    OverwriteMode mode_;
};

} // namespace dvl::cli
