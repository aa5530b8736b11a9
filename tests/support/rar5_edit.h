// Edits the file headers of RAR 5 archives made by `rar`, for damage and
// names that no archiver writes on this system; each edited header gets its
// size and CRC made right again, so the library reads it as written.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace dvl::test {

// One extra record of a file header: its type and its body.
struct Rar5Record {
    uint64_t type = 0;
    std::vector<uint8_t> body{};
};

struct Rar5FileHeader {
    std::string name{};
    std::vector<Rar5Record> records{};
};

// Rewrites the file header whose name is `name` (it must exist) through
// `edit`; false when no such header is found.
template <class Edit>
bool EditRar5FileHeader(std::vector<uint8_t>& archive, const std::string& name, Edit edit);

// What the template above uses.
bool FindRar5FileHeader(const std::vector<uint8_t>& archive, const std::string& name,
                        size_t& blockStart, Rar5FileHeader& header);
void ReplaceRar5FileHeader(std::vector<uint8_t>& archive, size_t blockStart,
                           const Rar5FileHeader& header);

template <class Edit>
bool EditRar5FileHeader(std::vector<uint8_t>& archive, const std::string& name, Edit edit) {
    size_t start = 0;
    Rar5FileHeader header;
    if (!FindRar5FileHeader(archive, name, start, header)) return false;
    edit(header);
    ReplaceRar5FileHeader(archive, start, header);
    return true;
}

} // namespace dvl::test
