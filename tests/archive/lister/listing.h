// Runs TLorvex on a file as a caller would and keeps what every event saw.
#pragma once

#include "archive/lister/lorvex.h"
#include "platform/paths.h"
#include "platform/times.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace dvl::test {

// One OnRead: the per-entry values as the handler read them.
struct ListedEntry {
    std::string name;
    std::string date; // yyyy-mm-dd hh:mm:ss
    int64_t packed = 0, unpacked = 0;
    unsigned ratio = 0;
    uint32_t crc = 0;
    unsigned encrypted = 0;
    std::string method;
    uint16_t methodCode = 0;
    uint16_t versionMadeBy = 0, versionNeeded = 0, internalAttr = 0;
    uint32_t externalAttr = 0;
    unsigned deflateLevel = 0;
    int32_t offset = 0, number = 0;
    std::string volume;
    std::optional<std::string> fileComment, archiveComment;
};

struct Listing {
    bool result = false;
    std::vector<ListedEntry> entries;
    std::vector<std::string> readFiles; // OnReadFile, in order
    std::vector<std::string> events;    // every event, one word each (Read, Totals:3, Error:25108)
    std::vector<int32_t> codes;
    std::optional<int32_t> totals;
    int64_t totalPacked = 0, totalUnpacked = 0;
    unsigned totalRatio = 0;
};

inline std::string DateText(double value) {
    const platform::DateTimeFields f = platform::DecodeDateTime(value);
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", f.year, f.month, f.day,
                  f.hour, f.minute, f.second);
    return text;
}

inline std::string Win(const std::filesystem::path& p) {
    return platform::ToWindowsPath(p.string());
}

// Restores the process's current folder, which assigning an archive changes.
class KeepCurrentDir {
public:
    KeepCurrentDir() : saved_(std::filesystem::current_path()) {}
    ~KeepCurrentDir() { std::filesystem::current_path(saved_); }
    KeepCurrentDir(const KeepCurrentDir&) = delete;
    KeepCurrentDir& operator=(const KeepCurrentDir&) = delete;

private:
    std::filesystem::path saved_;
};

// Sets TZ for the life of the object, so that local times are fixed.
class TimeZone {
public:
    explicit TimeZone(const char* tz) {
        if (const char* old = std::getenv("TZ")) saved_ = old;
        setenv("TZ", tz, 1);
        tzset();
    }
    ~TimeZone() {
        if (saved_)
            setenv("TZ", saved_->c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
    TimeZone(const TimeZone&) = delete;
    TimeZone& operator=(const TimeZone&) = delete;

private:
    std::optional<std::string> saved_;
};

// Records every event of a lister into a listing.
inline void Record(TLorvex& lister, Listing& out) {
    lister.OnActivate = [&](TZipCommon*) { out.events.push_back("Activate"); };
    lister.OnDeactivate = [&](TZipCommon*) { out.events.push_back("Deactivate"); };
    lister.OnError = [&](TZipCommon*, const std::string&, const std::string&, int32_t code) {
        out.events.push_back("Error:" + std::to_string(code));
        out.codes.push_back(code);
    };
    lister.OnReadFile = [&](TZipCommon*, const std::string& name) {
        out.events.push_back("ReadFile");
        out.readFiles.push_back(name);
    };
    lister.OnReadBegin = [&](TZipCommon*) { out.events.push_back("Begin"); };
    lister.OnReadEnd = [&](TZipCommon*) { out.events.push_back("End"); };
    lister.OnRead = [&out, &lister](TZipCommon*, int32_t offset, int32_t number) {
        out.events.push_back("Read");
        ListedEntry e;
        e.name = lister.FileName;
        e.date = DateText(lister.FileDate);
        e.packed = lister.PackedSize;
        e.unpacked = lister.UnpackedSize;
        e.ratio = lister.Ratio;
        e.crc = lister.CRC;
        e.encrypted = lister.Encrypted;
        e.method = lister.MethodName;
        e.methodCode = lister.MethodCode;
        e.versionMadeBy = lister.VersionMadeBy;
        e.versionNeeded = lister.VersionNeeded;
        e.internalAttr = lister.InternalAttr;
        e.externalAttr = lister.ExternalAttr;
        e.deflateLevel = lister.DeflateLevel;
        e.offset = offset;
        e.number = number;
        e.volume = lister.VolumeName;
        if (lister.FileComment) e.fileComment = *lister.FileComment;
        if (lister.ArchiveComment) e.archiveComment = *lister.ArchiveComment;
        out.entries.push_back(e);
    };
    lister.OnTotals = [&out, &lister](TZipCommon*, int32_t files) {
        out.events.push_back("Totals:" + std::to_string(files));
        out.totals = files;
        out.totalPacked = lister.TotalPacked;
        out.totalUnpacked = lister.TotalUnpacked;
        out.totalRatio = lister.TotalRatio;
    };
}

// Assigns the archive, lets `configure` set what it wants, and activates.
inline Listing List(const std::filesystem::path& archive,
                    const std::function<void(TLorvex&)>& configure = {}) {
    KeepCurrentDir keep;
    Listing out;
    TLorvex lister(nullptr);
    Record(lister, out);
    lister.SetArchiveFile(Win(archive));
    if (configure) configure(lister);
    out.result = lister.Activate();
    return out;
}

inline std::vector<std::string> Names(const Listing& l) {
    std::vector<std::string> names;
    for (const auto& e : l.entries)
        names.push_back(e.name);
    return names;
}

} // namespace dvl::test
