// TAR headers as every TAR reader here reads them (the lister's and the
// extraction layer's): 512-byte blocks, v7 and ustar fields, old GNU headers
// (whose prefix field holds times, not a name), GNU long names and long
// links, pax records, and GNU sparse members in the old GNU form (extension
// blocks after the header) and the 0.0, 0.1 and 1.0 pax forms.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dvl::formats {

constexpr size_t kTarBlock = 512;

// A stretch of a sparse member's data: where it lies in the file and its length.
struct SparseChunk {
    int64_t offset = 0, length = 0;
};

// What metadata members (long names, pax headers) say of the member after them.
struct TarPending {
    std::optional<std::string> path, linkPath;
    std::optional<int64_t> size;
    std::optional<int64_t> sparseRealSize;
    std::optional<std::string> sparseName;
    std::vector<SparseChunk> sparseMap; // 0.0 and 0.1 forms
    int sparseMajor = -1, sparseMinor = -1;
    void Clear() { *this = TarPending{}; }
};

enum class TarSparse { None, OldGnu, Pax, PaxMapInData };

struct TarMember {
    bool endOfArchive = false; // a block of zeros (or no name at all)
    bool checksumValid = false;
    char type = '0';
    std::string name;     // as stored, "/" separated, raw bytes
    std::string linkName; // of links
    int64_t dataSize = 0; // bytes of data blocks after the header (and its extensions)
    int64_t size = 0;     // the member's own size (a sparse file's real size)
    int64_t modified = 0; // Unix time
    uint32_t mode = 0;
    TarSparse sparse = TarSparse::None;
    bool sparseExtended = false; // old GNU: an extension block follows the header
    std::vector<SparseChunk> sparseMap;

    // Members that only describe the member after them.
    bool IsMetadata() const {
        return type == 'L' || type == 'K' || type == 'x' || type == 'g' || type == 'X' ||
               type == 'V'; // a volume label names the tape, not a member
    }
    bool IsRegularFile() const { return type == '0' || type == '\0' || type == '7' || type == 'S'; }
};

// A numeric field: octal digits (others are skipped), or a big-endian binary
// value when the first byte has its high bit set.
int64_t TarNumber(const uint8_t* field, size_t width);
// True when the block's checksum field agrees with its bytes (summed as
// unsigned or, as some archivers did, as signed bytes).
bool TarChecksumValid(const uint8_t* block);

// Reads a header block, taking what earlier metadata members left in
// `pending` (which is cleared when the block is not metadata itself).
TarMember ParseTarHeader(const uint8_t* block, TarPending& pending);
// Applies a metadata member's data (long name, long link, pax records).
void ApplyTarMetadata(const TarMember& member, std::string_view data, TarPending& pending);
// An old GNU sparse extension block: appends its chunks; true when another
// extension block follows.
bool ParseSparseExtension(const uint8_t* block, std::vector<SparseChunk>& map);
// The 1.0 form's map at the start of a member's data: the decimal count and
// pairs, one a line. The bytes it takes (a whole number of blocks) once
// `text` holds it all; 0 while more is needed; -1 when it is no map.
int64_t ParseSparseMapInData(std::string_view text, std::vector<SparseChunk>& map);

} // namespace dvl::formats
