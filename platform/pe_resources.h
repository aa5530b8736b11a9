// String-table resources of a PE executable, read as data: no code is loaded.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dvl::platform {

// A PE image's string tables (RT_STRING, 16 strings a block, the block of
// string id N being N / 16 + 1). Strings are UTF-16 in the file; they are
// returned narrowed to 8 bits (code units above 0xFF become "?").
class PeStringTable {
public:
    // Empty when the bytes are not a PE image with a resource directory.
    static std::optional<PeStringTable> FromImage(const std::vector<uint8_t>& image);
    static std::optional<PeStringTable> FromFile(std::string_view winPath);

    // LoadString: the string of id, cut to bufferSize - 1 characters; empty
    // when there is none. The first language found for the block is used.
    std::string Load(uint32_t id, size_t bufferSize) const;

private:
    std::vector<std::pair<uint32_t, std::string>> strings_; // sorted by id
};

} // namespace dvl::platform
