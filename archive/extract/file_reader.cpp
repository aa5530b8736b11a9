#include "archive/extract/file_reader.h"

#include <algorithm>

namespace dvl::extract {

namespace {

constexpr size_t kBlock = 256 * 1024;

} // namespace

FileReader::FileReader(platform::File& file, EntryVisitor* progress, int64_t start, int64_t end)
    : file_(file), progress_(progress), position_(start), buffer_(kBlock) {
    try {
        total_ = file.Size();
    } catch (const platform::IoError&) {
        total_ = 0;
        failed_ = true;
    }
    end_ = end < 0 ? total_ : std::min(end, total_);
}

std::span<const uint8_t> FileReader::Next() {
    if (failed_ || position_ >= end_) return {};
    const size_t want = size_t(std::min<int64_t>(int64_t(buffer_.size()), end_ - position_));
    size_t got = 0;
    try {
        file_.Seek(position_);
        got = file_.Read(buffer_.data(), want);
    } catch (const platform::IoError&) {
        failed_ = true;
        return {};
    }
    position_ += int64_t(got);
    if (progress_) progress_->Progress(uint64_t(position_), uint64_t(total_));
    return {buffer_.data(), got};
}

} // namespace dvl::extract
