// An archive file read in blocks as a byte source, from a position to an end,
// reporting how far it got to the visitor.
#pragma once

#include "archive/codecs/byte_stream.h"
#include "archive/extract/source.h"
#include "platform/file.h"

#include <cstdint>
#include <vector>

namespace dvl::extract {

class FileReader final : public codecs::ByteSource {
public:
    // Reads `file` from `start` to `end` (the file's size when negative).
    FileReader(platform::File& file, EntryVisitor* progress, int64_t start = 0, int64_t end = -1);

    std::span<const uint8_t> Next() override;
    // Moves to another position (the next read starts there).
    void MoveTo(int64_t position) { position_ = position; }
    int64_t Position() const { return position_; }
    int64_t End() const { return end_; }
    // True when a read failed (an input/output error, not the end).
    bool Failed() const { return failed_; }

private:
    platform::File& file_;
    EntryVisitor* progress_;
    int64_t position_, end_, total_;
    std::vector<uint8_t> buffer_;
    bool failed_ = false;
};

} // namespace dvl::extract
