// Coded error messages of the archive components.
//
// Every failure the components report is a code in 25102..26999 whose message
// is a fixed text. E_RAISE carries only the text; the code travels through the
// OnError event.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace dvl {

enum ErrorCode : int32_t {
    kErrReadOnly = 25102,
    kErrBadFileHeader = 25108,
    kErrBadBlock = 25109,
    kErrNoBeginLine = 25113,
    kErrInvalidCode = 25111,
    kErrWritingFile = 25115,
    kErrClosingFile = 25117,
    kErrIncompleteCodeSet = 25118,
    kErrCreatingDir = 25119,
    kErrFailsCrc = 25120,
    kErrDiskFull = 25125,
    kErrUnexpectedEnd = 25126,
    kErrFileNotFound = 25132,
    kErrSizeDifferent = 25133,
    kErrOpeningFile = 25135,
    kErrReadingFile = 25136,
    kErrHeaderId = 25138,
    kErrUnsupportedArchive = 25142,
    kErrInvalidFileName = 25143,
    kErrBadLengths = 25144,
    kErrInconsistentLocalHeader = 25145,
    kErrRequiredEvent = 25170,
    kErrPasswordProtected = 25190,
    kErrAmbiguousTree = 25192,
    kErrStackOverflow = 25197,
    kErrUnsupportedMethod = 25200,
    kErrUnknownFileType = 25202,
    kErrFirstDiskNeeded = 25901,
    kErrPreviousVolume = 25902,
    kErrNextVolume = 25903,
    kErrInvalidPassword = 26517,
    kErrPasswordFailed = 26522,
    // Dovrel's own, for entries that are not written as stored.
    kErrLinkInPath = 26910,          // refused: a symbolic link lies in the output path
    kErrNameChanged = 26911,         // written under a name the file system can hold
    kErrLinkEntry = 26912,           // a symbolic link entry: links are never made from archives
    kErrWouldReplaceArchive = 26913, // the output would replace an archive being read
    kErrOverlappingData = 26914,     // the entry's data overlaps another entry's
    kErrDirectoryDamaged = 26915,    // entries lost to a damaged directory (file: "N of M")
    kErrExistingKept = 26916,        // not extracted: the file there stays (dvl's policy)
    kErrSpecialEntry = 26917,        // a device, pipe or other special file: never made
    kErrRatioLimit = 26918,          // an entry without a stored size expands beyond the limit
    kErrNothingToDo = 26999,
};

// The message of a code; empty for a code without a table entry.
std::string ErrorMessage(int32_t code);

// The exception the components raise; it carries the message text only.
class E_RAISE : public std::runtime_error {
public:
    explicit E_RAISE(const std::string& message) : std::runtime_error(message) {}
};

// Raises E_RAISE with the message of a code (the decoders' direct raise).
[[noreturn]] void RaiseCode(int32_t code);

} // namespace dvl
