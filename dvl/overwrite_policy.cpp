#include "dvl/overwrite_policy.h"

#include <cstdio>
#include <iostream>
#include <unistd.h>

namespace dvl::cli {

bool OverwritePolicy::ParseMode(const std::string& text, OverwriteMode& mode) {
    if (text == "always")
        mode = OverwriteMode::Always;
    else if (text == "never")
        mode = OverwriteMode::Never;
    else if (text == "rename")
        mode = OverwriteMode::Rename;
    else
        return false;
    return true;
}

OverwriteMode OverwritePolicy::DefaultMode() {
    return isatty(STDIN_FILENO) && isatty(STDERR_FILENO) ? OverwriteMode::Ask
                                                         : OverwriteMode::Never;
}

OverwritePolicy::Answer OverwritePolicy::Decide(const std::string& shownPath) {
    switch (mode_) {
    case OverwriteMode::Always:
        return Answer::Replace;
    case OverwriteMode::Never:
        return Answer::Keep;
    case OverwriteMode::Rename:
        return Answer::Rename;
    case OverwriteMode::Ask:
        break;
    }
    for (;;) {
        std::fprintf(stderr, "\r\033[K%s exists. Replace? [y]es, [n]o, [a]ll, [N]one, [r]ename: ",
                     shownPath.c_str());
        std::fflush(stderr);
        std::string line;
        // Without an answer (end of input) the file stays, and so do the next.
        if (!std::getline(std::cin, line)) {
            mode_ = OverwriteMode::Never;
            return Answer::Keep;
        }
        if (line == "y" || line == "yes") return Answer::Replace;
        if (line == "n" || line == "no") return Answer::Keep;
        if (line == "r" || line == "rename") return Answer::Rename;
        if (line == "a" || line == "all") {
            mode_ = OverwriteMode::Always;
            return Answer::Replace;
        }
        if (line == "N" || line == "none") {
            mode_ = OverwriteMode::Never;
            return Answer::Keep;
        }
    }
}

} // namespace dvl::cli
