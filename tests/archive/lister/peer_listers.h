// The listings of peer listers, in the shape the readers' tests compare.
#pragma once

#include "tests/support/test_support.h"

#include <filesystem>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace dvl::test {

struct PeerEntry {
    std::string name; // with backslashes
    int64_t size = 0;
    std::string date; // yyyy-mm-dd hh:mm, local time
    bool directory = false;
    bool operator==(const PeerEntry&) const = default;
};

// "lsar -l": "  0. -----   SIZE  RATIO  MODE  yyyy-mm-dd hh:mm  NAME".
inline std::vector<PeerEntry> LsarEntries(const std::filesystem::path& archive) {
    static const std::regex line(
        R"(^\s*\d+\.\s+(\S+)\s+(\d+)\s+\S+\s+\S+\s+(\d{4}-\d\d-\d\d \d\d:\d\d)  (.*)$)");
    std::istringstream in(RunAndCapture("lsar -l " + Quote(archive)));
    std::vector<PeerEntry> entries;
    for (std::string text; std::getline(in, text);) {
        std::smatch m;
        if (!std::regex_match(text, m, line)) continue;
        PeerEntry e{m[4].str(), std::stoll(m[2].str()), m[3].str(), m[1].str()[0] == 'D'};
        for (char& c : e.name)
            if (c == '/') c = '\\';
        entries.push_back(e);
    }
    return entries;
}

} // namespace dvl::test
