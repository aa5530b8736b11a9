// One open archive of the UnRAR library: the handle and the volume and data
// callbacks, with the library's names turned into UTF-8 text. Nothing here
// knows about windows or the error log.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace dvl::rar {

// The library's result codes and constants (their published values).
enum : int {
    kSuccess = 0,
    kEndArchive = 10,
    kNoMemory = 11,
    kBadData = 12,
    kBadArchive = 13,
    kUnknownFormat = 14,
    kEOpen = 15,
    kECreate = 16,
    kEClose = 17,
    kERead = 18,
    kEWrite = 19,
    kSmallBuf = 20,
    kUnknown = 21,
    kMissingPassword = 22,
    kEReference = 23,
    kBadPassword = 24,
};
enum : int { kOpenList = 0, kOpenExtract = 1 };
enum : int { kSkip = 0, kTest = 1, kExtract = 2 };
enum : int { kVolumeAsk = 0, kVolumeNotify = 1 };
enum : uint32_t { kFlagEncrypted = 0x04, kFlagDirectory = 0x20 };

// The fields of one entry header, names as UTF-8 in native form ("/").
struct Header {
    std::string ArcName;  // the volume that holds the entry
    std::string FileName; // the stored name with its folders
    uint32_t UnpSize = 0; // low 32 bits of the unpacked size
    uint64_t UnpSize64 = 0;
    uint64_t PackSize64 = 0;
    uint32_t Flags = 0;
    uint32_t FileCRC = 0;
    uint32_t FileTime = 0; // DOS date-time
    uint32_t FileAttr = 0;
    bool IsLink = false; // a symbolic link or junction (its data is the target)
};

// Volume callback: the volume's path (native, UTF-8) and the mode; answers 1
// to go on and 0 to stop. Data callback: the size of a block of unpacked
// data; answers 1 to go on and 0 to stop the entry.
using ChangeVolumeProc = std::function<int(const std::string& volume, int mode)>;
using ProcessDataProc = std::function<int(const unsigned char* data, int size)>;

class Archive {
public:
    Archive() = default;
    ~Archive() { Close(); }
    Archive(const Archive&) = delete;
    Archive& operator=(const Archive&) = delete;

    // Opens the archive (native path) without reading its comment; returns
    // the library's open result (0 on success).
    int Open(const std::string& path, int openMode);
    bool IsOpen() const { return handle_ != nullptr; }
    // Registers the callbacks with the library for the open handle.
    void SetChangeVolumeProc(ChangeVolumeProc proc);
    void SetProcessDataProc(ProcessDataProc proc);
    void SetPassword(const std::string& password);
    // Reads the next header; returns the library's result.
    int ReadHeader(Header& header);
    // Skips, tests or extracts the current entry into destFolder (native,
    // UTF-8; empty = the current folder); returns the library's result.
    int ProcessFile(int operation, const std::string& destFolder);
    void Close();

private:
    friend struct Trampolines;
    void* handle_ = nullptr;
    ChangeVolumeProc changeVolume_;
    ProcessDataProc processData_;
};

// Wide text of the library (UTF-32 on this platform) as UTF-8 and back;
// invalid code points become U+FFFD.
std::string WideToUtf8(const wchar_t* text);
std::wstring Utf8ToWide(const std::string& text);

} // namespace dvl::rar
