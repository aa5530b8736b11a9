// UU-, XX- and base64-encoded files in a text: every begin section is an
// entry, named and moded as its begin line says.
#include "archive/extract/uue_source.h"

#include "archive/errors.h"
#include "archive/extract/file_reader.h"
#include "archive/formats/uue.h"
#include "archive/text.h"
#include "platform/file.h"

#include <optional>
#include <string>

namespace dvl::extract {

namespace {

// Lines longer than this are no encoded lines (nor begin lines).
constexpr size_t kMaxLine = 64 * 1024;

class UueSource final : public EntrySource {
public:
    explicit UueSource(std::string path) : path_(std::move(path)) {}

    void Walk(EntryVisitor& visitor) override {
        platform::File file;
        if (!file.OpenRead(path_)) {
            visitor.ArchiveError(kErrOpeningFile);
            return;
        }
        FileReader reader(file, &visitor);
        std::string line;
        bool sawSection = false;
        for (std::span<const uint8_t> chunk; !(chunk = reader.Next()).empty() && !stop_;) {
            for (uint8_t byte : chunk) {
                if (byte != '\n') {
                    if (line.size() < kMaxLine) line += char(byte);
                    continue;
                }
                sawSection |= TakeLine(line, visitor);
                line.clear();
                if (stop_) break;
            }
        }
        if (!line.empty() && !stop_) sawSection |= TakeLine(line, visitor);
        if (open_) Close(visitor, DataEnd::Truncated);
        if (!sawSection) visitor.ArchiveError(kErrNoBeginLine);
    }

private:
    // True when the line began a section.
    bool TakeLine(std::string_view line, EntryVisitor& visitor) {
        while (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (!open_) {
            formats::UueBegin begin;
            if (!formats::ParseUueBegin(line, begin)) return false;
            Open(begin, visitor);
            return true;
        }
        decoded_.clear();
        formats::UueLine result;
        if (begin_.base64) {
            result = formats::DecodeBase64Line(line, decoded_);
        } else {
            if (!alphabet_) alphabet_ = formats::GuessUueAlphabet(line);
            result = formats::DecodeUueLine(line, *alphabet_, decoded_);
        }
        switch (result) {
        case formats::UueLine::Data:
            Deliver(visitor);
            break;
        case formats::UueLine::End:
            Close(visitor, DataEnd::Complete);
            break;
        case formats::UueLine::Bad:
            Close(visitor, DataEnd::Corrupt);
            break;
        }
        return false;
    }

    void Open(const formats::UueBegin& begin, EntryVisitor& visitor) {
        begin_ = begin;
        alphabet_.reset();
        entry_ = Entry{};
        entry_.name = SlashToBackslash(begin.name);
        entry_.unixMode = begin.mode;
        entry_.attributes = 0x20 | ((begin.mode & 0200) ? 0 : 0x01);
        entry_.method = begin.base64 ? "Base64" : "UUE";
        sink_ = visitor.Begin(entry_);
        refused_ = false;
        open_ = true;
        stop_ = visitor.Cancelled();
    }

    void Deliver(EntryVisitor& visitor) {
        if (!sink_ || refused_ || decoded_.empty()) return;
        if (!sink_->Write(reinterpret_cast<const uint8_t*>(decoded_.data()), decoded_.size())) {
            refused_ = true;
            stop_ = visitor.Cancelled();
        }
    }

    void Close(EntryVisitor& visitor, DataEnd end) {
        open_ = false;
        visitor.End(entry_, refused_ && end == DataEnd::Complete ? DataEnd::Stopped : end);
    }

    std::string path_;
    formats::UueBegin begin_;
    std::optional<formats::UueAlphabet> alphabet_;
    Entry entry_;
    codecs::ByteSink* sink_ = nullptr;
    std::string decoded_;
    bool open_ = false, refused_ = false, stop_ = false;
};

} // namespace

std::unique_ptr<EntrySource> MakeUueSource(const std::string& archivePath) {
    return std::make_unique<UueSource>(archivePath);
}

} // namespace dvl::extract
