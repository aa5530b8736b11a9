#include "unace/member_output.h"

#include "archive/text.h"
#include "platform/attributes.h"
#include "platform/paths.h"
#include "platform/times.h"

#include <cerrno>
#include <utility>

namespace dvl::unace {

namespace {

constexpr uint32_t kDosEpoch = 0x00210000; // 1980-01-01 00:00:00

// The attributes that mean something for a written file; the high bits of
// some DOS archives hold garbage that must not be read as a Unix mode.
constexpr uint32_t kFileAttributeMask = platform::kAttrReadOnly | platform::kAttrHidden |
                                        platform::kAttrSystem | platform::kAttrArchive;

} // namespace

uint32_t ValidDosTime(uint32_t dosTime) {
    return platform::UnixFromDosDateTime(dosTime) ? dosTime : kDosEpoch;
}

MemberOutput::~MemberOutput() {
    Discard();
}

int MemberOutput::Create(const std::string& winPath) {
    Discard();
    const std::string folder = ExtractFileDir(winPath);
    if (!folder.empty() && !platform::ForceDirectories(folder)) return ACE_OPEN_ERROR;
    if (!file_.Create(winPath)) return ACE_OPEN_ERROR;
    path_ = winPath;
    return ACE_OK;
}

int MemberOutput::Write(const uint8_t* data, size_t size) {
    try {
        if (file_.Write(data, size) < size) return ACE_DISK_FULL;
    } catch (const platform::IoError& error) {
        return error.ErrorNumber() == ENOSPC ? ACE_DISK_FULL : ACE_WRITE_ERROR;
    }
    return ACE_OK;
}

int MemberOutput::Finish(uint32_t dosTime, uint32_t attributes) {
    if (!file_.Close()) {
        Discard();
        return ACE_WRITE_ERROR;
    }
    const std::string path = std::move(path_);
    path_.clear();
    // Date and attributes are best effort, as on a file system without them.
    platform::SetLastWriteDosDateTime(path, ValidDosTime(dosTime));
    platform::ApplyExternalAttributes(path, attributes & kFileAttributeMask);
    return ACE_OK;
}

void MemberOutput::Discard() {
    if (path_.empty()) return;
    file_.Close();
    platform::DeleteFile(path_);
    path_.clear();
}

int CreateMemberDirectory(const std::string& winPath) {
    return platform::ForceDirectories(winPath) ? ACE_OK : ACE_OPEN_ERROR;
}

} // namespace dvl::unace
