// Our UnACE library: reads, tests and extracts ACE 1.0 and 2.0 archives
// (also self-extractors, solid archives and multi-volume sets) through four
// operations and two callbacks in the open record.
#pragma once

#include <cstdint>

namespace dvl::unace {

// Results of the four operations.
enum AceResult : int {
    ACE_OK = 0,
    ACE_NO_MEMORY = 1,
    ACE_FILE_NOT_FOUND = 3,
    ACE_DISK_FULL = 4,
    ACE_OPEN_ERROR = 5,
    ACE_READ_ERROR = 6,
    ACE_WRITE_ERROR = 7,
    ACE_CRC_ERROR = 9,
    ACE_END_ARCHIVE = 10,
    ACE_NOT_ACE = 128,
    ACE_BAD_HANDLE = 129,
    ACE_WRONG_CONSTANT = 130,
    ACE_ENCRYPTED = 131,
    ACE_UNKNOWN_METHOD = 132,
    ACE_USER_BREAK = 133, // a callback asked to stop; the member was abandoned
};

// Open modes.
enum : int { ACE_OPEN_LIST = 0, ACE_OPEN_EXTRACT = 1 };
// Operations of ACEProcessFile.
enum : int { ACE_SKIP = 0, ACE_TEST = 1, ACE_EXTRACT = 2 };
// Modes of the change-volume callback.
enum : int { ACE_VOL_MISSING = 0, ACE_VOL_OPENED = 1 };

// Called when a member continues in the next volume: mode ACE_VOL_OPENED
// after the volume was opened (return nonzero to go on), ACE_VOL_MISSING when
// it is missing or unusable (the member then fails).
using AceChangeVolumeProc = int (*)(void* userData, const char* volumeName, int mode);
// Called once per block of unpacked data while a member is tested or
// extracted; return 0 to stop (the member is abandoned).
using AceProcessDataProc = int (*)(void* userData, const unsigned char* data, int size);

struct AceOpenData {
    const char* ArcName = nullptr; // Windows-form path, zero-terminated
    int OpenMode = ACE_OPEN_LIST;
    int OpenResult = 0;     // out
    char* CmtBuf = nullptr; // main comment (not read when null)
    unsigned CmtBufSize = 0;
    unsigned CmtSize = 0; // out
    int LibraryField = 0; // given 4 by the back end; no meaning here
    AceChangeVolumeProc ChangeVolProc = nullptr;
    AceProcessDataProc ProcessDataProc = nullptr;
    void* UserData = nullptr; // passed to both callbacks
    // Decrypts encrypted members; without one they give ACE_ENCRYPTED.
    const char* Password = nullptr;
};

struct AceHeaderData {
    char ArcName[260] = {};  // the volume holding the header
    char FileName[260] = {}; // the stored name with its folders ("\" separated)
    unsigned Flags = 0;
    unsigned PackSize = 0;
    int UnpSize = 0; // low 32 bits of the unpacked size, signed
    uint64_t PackSize64 = 0;
    uint64_t UnpSize64 = 0;
    unsigned FileCRC = 0;
    unsigned FileTime = 0; // MS-DOS date and time
    unsigned Method = 0;   // 0 stored, 1 ACE 1.0 LZ77, 2 ACE 2.0 blocked
    unsigned Quality = 0;
    unsigned Parm = 0;
    unsigned FileAttr = 0;
};

struct AceArchive;

// Returns a handle; success only when data->OpenResult is ACE_OK afterwards
// (the handle is null otherwise).
AceArchive* ACEOpenArchive(AceOpenData* data);
// ACE_OK: header describes the next member; ACE_END_ARCHIVE at the end;
// another result on an error.
int ACEReadHeader(AceArchive* archive, AceHeaderData* header);
// Processes the member of the last header: ACE_EXTRACT writes it below
// destFolder (Windows form, ending in "\"), ACE_TEST decodes it without
// writing, ACE_SKIP steps over it (in a solid archive opened for extraction
// it decodes the member without writing, as later members need its data).
// ACE_END_ARCHIVE when no header is waiting to be processed.
int ACEProcessFile(AceArchive* archive, int operation, const char* destFolder);
int ACECloseArchive(AceArchive* archive);

} // namespace dvl::unace
