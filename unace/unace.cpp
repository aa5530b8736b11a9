// The four operations: the walk over the member headers of all volumes and
// the processing (skip, test, extract) of the member whose header was read.
#include "unace/unace.h"

#include "archive/text.h"
#include "platform/paths.h"
#include "unace/ace_blocks.h"
#include "unace/ace_crc.h"
#include "unace/decoder/ace_decoder.h"
#include "unace/member_data.h"
#include "unace/member_output.h"
#include "unace/volume_names.h"
#include "unace/volume_set.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <utility>

namespace dvl::unace {

namespace {

constexpr int kLargestDictionaryBits = 22; // 4 MiB
constexpr uint8_t kLargestCompType = 2;

// A member whose header ACEReadHeader returned and that was not processed yet.
struct PendingMember {
    FileHeader header;
    int64_t dataOffset = 0;
};

} // namespace

namespace {

constexpr int kMaxProtectedVolumes = 1000;

// No member may replace the archive or a volume of its set.
void ProtectVolumes(platform::OutputTree& tree, const std::string& firstVolume) {
    std::string volume = firstVolume;
    for (int n = 0; n < kMaxProtectedVolumes && !volume.empty(); ++n) {
        tree.Protect(volume);
        std::string next;
        for (const std::string& candidate : NextVolumeNames(volume))
            if (next.empty() && platform::FileExists(candidate)) next = candidate;
        volume = next;
    }
}

} // namespace

struct AceArchive {
    explicit AceArchive(const AceOpenData& data)
        : firstVolume(data.ArcName), openMode(data.OpenMode),
          volumes({data.ChangeVolProc, data.UserData}), processData(data.ProcessDataProc),
          userData(data.UserData), password(data.Password ? data.Password : "") {}

    std::string firstVolume;
    int openMode;
    VolumeSet volumes;
    AceProcessDataProc processData;
    void* userData;
    std::string password;
    AceDecoder decoder;
    std::optional<PendingMember> pending;
    int walkResult = ACE_OK; // once not ACE_OK, what every further ACEReadHeader returns

    // The output tree below a destination folder, kept while the folder stays.
    platform::OutputTree& Tree(const std::string& destFolder) {
        if (!tree || treeFolder != destFolder) {
            tree = std::make_unique<platform::OutputTree>(destFolder);
            treeFolder = destFolder;
            ProtectVolumes(*tree, firstVolume);
        }
        return *tree;
    }
    std::unique_ptr<platform::OutputTree> tree;
    std::string treeFolder;
};

namespace {

void CopyField(char (&field)[260], const std::string& text) {
    const size_t n = std::min(text.size(), sizeof field - 1);
    std::memcpy(field, text.data(), n);
    field[n] = '\0';
}

void FillHeaderRecord(const FileHeader& file, const std::string& volume, AceHeaderData& record) {
    record = AceHeaderData{};
    CopyField(record.ArcName, volume);
    CopyField(record.FileName, OemToAnsiName(file.name));
    record.Flags = file.flags;
    record.PackSize = unsigned(file.packSize);
    record.UnpSize = int(uint32_t(file.origSize));
    record.PackSize64 = file.packSize;
    record.UnpSize64 = file.origSize;
    record.FileCRC = file.crc;
    record.FileTime = file.time;
    record.Method = file.compType;
    record.Quality = file.compQuality;
    record.Parm = file.parm;
    record.FileAttr = file.attributes;
}

int ResultOf(BlockStatus status) {
    switch (status) {
    case BlockStatus::Ok:
        return ACE_OK;
    case BlockStatus::End:
        return ACE_END_ARCHIVE;
    case BlockStatus::Truncated:
        return ACE_READ_ERROR;
    case BlockStatus::BadCrc:
    case BlockStatus::Broken:
        break;
    }
    return ACE_CRC_ERROR;
}

// Steps over blocks that are not members (recovery records, unknown types)
// and over segments of members that began in an earlier volume.
int ReadNextMember(AceArchive& archive, AceHeaderData& record) {
    for (;;) {
        Block block;
        const int result = ResultOf(archive.volumes.ReadNextBlock(block));
        if (result != ACE_OK) return result;
        if (!IsFileBlock(block)) continue;
        FileHeader file;
        if (!ParseFileHeader(block, file)) return ACE_CRC_ERROR;
        if (file.ContinuesPrevious()) continue;
        archive.pending = PendingMember{file, block.DataOffset()};
        FillHeaderRecord(file, archive.volumes.VolumeName(), record);
        return ACE_OK;
    }
}

// Why a member cannot be decoded, or ACE_OK.
int CheckDecodable(const FileHeader& file, const std::string& password) {
    if (file.Encrypted() && password.empty()) return ACE_ENCRYPTED;
    if (file.compType > kLargestCompType) return ACE_UNKNOWN_METHOD;
    if (file.DictionaryBits() > kLargestDictionaryBits) return ACE_CRC_ERROR;
    return ACE_OK;
}

// The member's path below the destination folder; empty when nothing is left.
std::string RelativeOutputPath(const FileHeader& file) {
    return ConfinedRelativePath(OemToAnsiName(file.name));
}

// Hands a block of output to the data callback in pieces it can take.
bool DeliverToCallback(const AceArchive& archive, const uint8_t* data, size_t size) {
    while (size > 0) {
        const size_t piece = std::min<size_t>(size, INT_MAX);
        if (archive.processData(archive.userData, data, int(piece)) == 0) return false;
        data += piece;
        size -= piece;
    }
    return true;
}

struct DecodeTarget {
    MemberOutput* output = nullptr; // null: nothing is written
    bool notify = false;            // the data callback sees the output
};

// Decodes the member; `crc` receives the CRC of everything delivered.
int DecodeMember(AceArchive& archive, const FileHeader& file, MemberData& data,
                 const DecodeTarget& target, uint32_t& crc) {
    std::optional<DecryptingInput> decrypted;
    if (file.Encrypted()) decrypted.emplace(data, archive.password);
    PackedInput& input = decrypted ? static_cast<PackedInput&>(*decrypted) : data;
    crc = kAceCrcStart;
    if (!archive.volumes.Solid()) archive.decoder.Reset();
    int sinkFailure = ACE_OK;
    const OutputSink sink = [&](const uint8_t* bytes, size_t size) {
        crc = AceCrc(bytes, size, crc);
        if (target.output) sinkFailure = target.output->Write(bytes, size);
        if (sinkFailure == ACE_OK && target.notify && archive.processData &&
            !DeliverToCallback(archive, bytes, size))
            sinkFailure = ACE_USER_BREAK;
        return sinkFailure == ACE_OK;
    };
    switch (archive.decoder.DecodeMember(file.compType, file.DictionaryBits(), file.origSize, input,
                                         sink)) {
    case DecodeResult::Ok:
        return ACE_OK;
    case DecodeResult::Corrupt:
        return ACE_CRC_ERROR;
    case DecodeResult::UnknownMethod:
        return ACE_UNKNOWN_METHOD;
    case DecodeResult::Truncated:
        return data.Failure() != ACE_OK ? data.Failure() : ACE_READ_ERROR;
    case DecodeResult::Stopped:
        return sinkFailure != ACE_OK ? sinkFailure : ACE_USER_BREAK;
    case DecodeResult::NoMemory:
        break;
    }
    return ACE_NO_MEMORY;
}

int ProcessDirectory(AceArchive& archive, const PendingMember& member, MemberData& data,
                     int operation, const std::string& destFolder) {
    int result = ACE_OK;
    if (operation == ACE_EXTRACT) {
        const std::string relative = RelativeOutputPath(member.header);
        if (!relative.empty()) result = CreateMemberDirectory(archive.Tree(destFolder), relative);
    }
    const int skipped = data.SkipRest();
    return result != ACE_OK ? result : skipped;
}

int ProcessMember(AceArchive& archive, const PendingMember& member, int operation,
                  const std::string& destFolder) {
    const FileHeader& file = member.header;
    MemberData data(archive.volumes, file, member.dataOffset);
    if (file.IsDirectory()) return ProcessDirectory(archive, member, data, operation, destFolder);

    // Later members of a solid archive need the output of this one.
    const bool decodeForDictionary =
        archive.volumes.Solid() && archive.openMode == ACE_OPEN_EXTRACT;
    if (operation == ACE_SKIP && !decodeForDictionary) return data.SkipRest();
    int result = CheckDecodable(file, archive.password);
    if (result != ACE_OK) {
        const int skipped = data.SkipRest();
        return operation == ACE_SKIP ? skipped : result;
    }

    MemberOutput output;
    int created = ACE_OK;
    if (operation == ACE_EXTRACT) {
        const std::string relative = RelativeOutputPath(file);
        created =
            relative.empty() ? ACE_OPEN_ERROR : output.Create(archive.Tree(destFolder), relative);
        // A solid archive's later members need this one decoded all the same.
        if (created != ACE_OK && !archive.volumes.Solid()) {
            data.SkipRest();
            return created;
        }
    }
    uint32_t crc = kAceCrcStart;
    const bool writes = operation == ACE_EXTRACT && created == ACE_OK;
    const DecodeTarget target{writes ? &output : nullptr,
                              operation != ACE_SKIP && created == ACE_OK};
    result = DecodeMember(archive, file, data, target, crc);
    const int skipped = data.SkipRest();
    if (operation == ACE_SKIP) return skipped;
    if (created != ACE_OK) return created;
    if (result == ACE_OK) result = skipped;
    // The CRC in the last segment's header covers the whole member; empty
    // members carry none worth checking.
    if (result == ACE_OK && file.origSize != 0 && crc != data.MemberCrc()) result = ACE_CRC_ERROR;
    if (operation != ACE_EXTRACT) return result;
    if (result == ACE_OK) return output.Finish(file.time, file.attributes);
    output.Discard();
    return result;
}

int ProcessPending(AceArchive& archive, int operation, const std::string& destFolder) {
    if (!archive.pending) return ACE_END_ARCHIVE;
    const PendingMember member = std::move(*archive.pending);
    archive.pending.reset();
    try {
        return ProcessMember(archive, member, operation, destFolder);
    } catch (const platform::IoError&) {
        return ACE_READ_ERROR;
    } catch (const std::bad_alloc&) {
        return ACE_NO_MEMORY;
    }
}

} // namespace

AceArchive* ACEOpenArchive(AceOpenData* data) {
    if (!data) return nullptr;
    data->CmtSize = 0;
    if (data->CmtBuf && data->CmtBufSize > 0) data->CmtBuf[0] = '\0';
    if (data->OpenMode != ACE_OPEN_LIST && data->OpenMode != ACE_OPEN_EXTRACT) {
        data->OpenResult = ACE_WRONG_CONSTANT;
        return nullptr;
    }
    if (!data->ArcName) {
        data->OpenResult = ACE_FILE_NOT_FOUND;
        return nullptr;
    }
    try {
        auto archive = std::make_unique<AceArchive>(*data);
        data->OpenResult = archive->volumes.Open(data->ArcName);
        return data->OpenResult == ACE_OK ? archive.release() : nullptr;
    } catch (const std::bad_alloc&) {
        data->OpenResult = ACE_NO_MEMORY;
    }
    return nullptr;
}

int ACEReadHeader(AceArchive* archive, AceHeaderData* header) {
    if (!archive) return ACE_BAD_HANDLE;
    if (!header) return ACE_WRONG_CONSTANT;
    // A member that was not processed is stepped over first.
    if (archive->pending) ProcessPending(*archive, ACE_SKIP, std::string());
    if (archive->walkResult != ACE_OK) return archive->walkResult;
    try {
        const int result = ReadNextMember(*archive, *header);
        if (result != ACE_OK) archive->walkResult = result;
        return result;
    } catch (const platform::IoError&) {
        return archive->walkResult = ACE_READ_ERROR;
    } catch (const std::bad_alloc&) {
        return archive->walkResult = ACE_NO_MEMORY;
    }
}

int ACEProcessFile(AceArchive* archive, int operation, const char* destFolder) {
    if (!archive) return ACE_BAD_HANDLE;
    if (operation != ACE_SKIP && operation != ACE_TEST && operation != ACE_EXTRACT)
        return ACE_WRONG_CONSTANT;
    return ProcessPending(*archive, operation, destFolder ? destFolder : "");
}

int ACECloseArchive(AceArchive* archive) {
    if (!archive) return ACE_BAD_HANDLE;
    delete archive;
    return ACE_OK;
}

} // namespace dvl::unace
