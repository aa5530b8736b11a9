#include "unace/member_output.h"

#include "archive/text.h"
#include "platform/attributes.h"
#include "platform/times.h"

#include <cerrno>

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

int MemberOutput::Create(platform::OutputTree& tree, const std::string& relative) {
    Discard();
    return tree.CreateFile(relative, file_, pending_).Ok() ? ACE_OK : ACE_OPEN_ERROR;
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
    // Date and attributes are best effort, as on a file system without them.
    platform::SetLastWriteDosDateTime(file_, ValidDosTime(dosTime));
    platform::ApplyExternalAttributes(file_, attributes & kFileAttributeMask);
    if (!file_.Close()) {
        Discard();
        return ACE_WRITE_ERROR;
    }
    return pending_.Commit() ? ACE_OK : ACE_WRITE_ERROR;
}

void MemberOutput::Discard() {
    file_.Close();
    pending_.Discard();
}

int CreateMemberDirectory(platform::OutputTree& tree, const std::string& relative) {
    return tree.CreateFolders(relative).Ok() ? ACE_OK : ACE_OPEN_ERROR;
}

} // namespace dvl::unace
