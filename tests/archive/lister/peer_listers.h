// The listings of peer listers, in the shape the readers' tests compare.
#pragma once

#include "tests/support/test_support.h"

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <map>
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

// "nomarch -lv": "NAME<tab>METHOD (text)<tab>PACKED ORIGINAL yyyy-mm-dd hh:mm CRC".
struct NomarchEntry {
    std::string name; // as nomarch shows it (lower case)
    int method = 0;
    int64_t packed = 0, size = 0;
    std::string date; // yyyy-mm-dd hh:mm, as stored
    uint32_t crc = 0;
    bool operator==(const NomarchEntry&) const = default;
};

inline std::vector<NomarchEntry> NomarchEntries(const std::filesystem::path& archive) {
    static const std::regex line(
        R"(^(\S.*?)\s*\t\s*(\d+) \([^)]*\)\t\s*(\d+)\s+(\d+)\s+(\d{4}-\d\d-\d\d \d\d:\d\d)\s+([0-9A-F]{4})\s*$)");
    std::istringstream in(RunAndCapture("nomarch -lv " + Quote(archive)));
    std::vector<NomarchEntry> entries;
    for (std::string text; std::getline(in, text);) {
        std::smatch m;
        if (!std::regex_match(text, m, line)) continue;
        entries.push_back({m[1].str(), std::stoi(m[2].str()), std::stoll(m[3].str()),
                           std::stoll(m[4].str()), m[5].str(),
                           uint32_t(std::stoul(m[6].str(), nullptr, 16))});
    }
    return entries;
}

// One entry of "rar lt": the technical listing of the archiver itself.
struct RarTechnicalEntry {
    std::string name{}; // with backslashes
    bool directory = false;
    int64_t size = 0, packed = 0;
    std::string date{}; // yyyy-mm-dd hh:mm:ss, local time, rounded to milliseconds
    uint32_t crc = 0;
    int version = 0, method = 0; // "(v50)", "-m3"
    bool encrypted = false;
};

// "yyyy-mm-dd hh:mm:ss,nnnnnnnnn" as the lister shows it: rounded to
// milliseconds, then without them.
inline std::string RoundedRarTime(const std::string& text) {
    std::tm tm{};
    long nanoseconds = 0;
    if (std::sscanf(text.c_str(), "%d-%d-%d %d:%d:%d,%ld", &tm.tm_year, &tm.tm_mon, &tm.tm_mday,
                    &tm.tm_hour, &tm.tm_min, &tm.tm_sec, &nanoseconds) < 6)
        return text;
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    std::time_t t = timegm(&tm);
    if (nanoseconds >= 999'500'000) ++t;
    gmtime_r(&t, &tm);
    char out[32];
    std::strftime(out, sizeof out, "%Y-%m-%d %H:%M:%S", &tm);
    return out;
}

inline std::vector<RarTechnicalEntry> RarTechnicalEntries(const std::filesystem::path& archive,
                                                          const std::string& password = "-") {
    std::istringstream in(RunAndCapture("rar lt -p" + password + " " + Quote(archive)));
    static const std::regex field(R"(^\s*([A-Za-z0-9 ]+): (.*?)\s*$)");
    std::vector<RarTechnicalEntry> entries;
    for (std::string text; std::getline(in, text);) {
        std::smatch m;
        if (!std::regex_match(text, m, field)) continue;
        const std::string key = m[1].str(), value = m[2].str();
        if (key == "Name") {
            entries.push_back({.name = value});
            for (char& c : entries.back().name)
                if (c == '/') c = '\\';
        }
        if (entries.empty()) continue;
        RarTechnicalEntry& e = entries.back();
        if (key == "Type") e.directory = value == "Directory";
        if (key == "Size") e.size = std::stoll(value);
        if (key == "Packed size") e.packed = std::stoll(value);
        if (key == "mtime") e.date = RoundedRarTime(value);
        if (key == "CRC32" || key == "CRC32 MAC") e.crc = uint32_t(std::stoul(value, nullptr, 16));
        if (key == "Flags") e.encrypted = value.find("encrypted") != std::string::npos;
        if (key == "Compression") {
            std::sscanf(value.c_str(), "RAR %*[0-9.](v%d) -m%d", &e.version, &e.method);
        }
    }
    return entries;
}

} // namespace dvl::test
