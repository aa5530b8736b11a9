// TLorvex: lists the directory of an archive of any recognised format. It
// reads the headers only, and for every entry that matches FileSpec fills
// the per-entry values and fires OnRead.
#pragma once

#include "archive/input_window.h"
#include "archive/lister/reader.h"
#include "archive/text.h"
#include "archive/zip_common.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace dvl {

class TLorvex : public TZipCommon {
public:
    explicit TLorvex(TComponent* owner);
    ~TLorvex() override;

    // Published besides ArcType, FileSpec and ZipCmntBufSize: directories are
    // listed without matching FileSpec (ARC, ARJ, RAR and ZIP).
    bool ShowBlankDirs() const { return showBlankDirs_; }
    void SetShowBlankDirs(bool value) { showBlankDirs_ = value; }

    void Loaded() override;

    // Events of the lister besides OnActivate, OnDeactivate, OnError, OnRead
    // and OnNextVolume.
    TOnReadFile OnReadFile;   // every entry header, before filtering
    TNotifyEvent OnReadBegin; // around OnRead
    TNotifyEvent OnReadEnd;
    TOnTotals OnTotals; // after the walk, with the entry count

    // Lists ArchiveFile. False when it is empty or an error was raised (and
    // reported through OnError); true when the walk ended, was cancelled,
    // ended on a reported error or a missing first volume was declined.
    bool Activate();

    // Fires OnReadBegin, OnRead and OnReadEnd for the current entry; the
    // message queue runs first unless filenum is a multiple of 10.
    void ReportEntry(int32_t offset, int32_t filenum);

    // --- What the readers share -------------------------------------------

    // At ReadPos: the text before the first zero byte of the next 256 bytes
    // (all of them when none is zero); ReadPos moves past the zero.
    std::string ReadZeroName();
    // At ReadPos: the next n bytes as text; ReadPos += n.
    std::string ReadCountedName(int32_t n);
    // Reads a comment of n bytes (n = 0: a zero-terminated one of at most 2500
    // bytes) at the input position into target; bounded by the archive's end.
    // When all came, ReadPos moves by the text's length (+1 for n = 0).
    void ReadComment(int64_t n, std::unique_ptr<std::string>& target);
    // FileName := the stored OEM name as ANSI text with backslashes.
    void SetEntryName(std::string_view stored);
    // While a sink is set, every stored name read as OEM text is added to it
    // (to guess the archive's code page).
    void CollectOemNames(std::vector<std::string>* sink) { oemNames_ = sink; }
    void NoteOemName(std::string_view stored) {
        if (oemNames_) oemNames_->emplace_back(stored);
    }
    // The same for a name stored apart from its folder: the two are joined by
    // one backslash (the folder's "/" are separators too); an empty folder
    // adds nothing.
    void SetEntryName(std::string_view folder, std::string_view name) {
        SetEntryName(folder.empty() ? std::string(name)
                                    : AddBackslash(SlashToBackslash(folder)) + std::string(name));
    }
    void AddTotals(int64_t packed, int64_t unpacked);
    // Seconds since 1970-01-01 UTC as a local date value (with the system's
    // time-zone bias as it is now).
    static double ConvertUnixDate(int64_t seconds);

    // The input position and reads at it (through a window of the file). A
    // negative position or a failing read throws the file layer's IoError.
    void SeekInput(int64_t position);
    size_t ReadInput(void* buffer, size_t n);
    // Opens another volume in the input slot and takes its size as
    // ArchiveSize; false when it could not be opened.
    bool OpenVolume(const std::string& path);

    // The header buffer, HeaderSize bytes; a short read keeps old bytes.
    void SetHeaderSize(int32_t size);
    int32_t HeaderSize() const { return int32_t(header_.size()); }
    uint8_t* Header() { return header_.data(); }

    // ArchiveFile as the listing uses it (reading the property would clear
    // the cancel flag).
    const std::string& ArchivePath() const { return archivePath_; }
    // The path of the volume opened last by a reader that follows volumes;
    // empty until it changes volume.
    std::string VolumePath;

    int32_t EntryCount() const { return Library().entryCount; }
    int32_t CountEntry() { return ++Library().entryCount; }
    // FileName passes FileSpec (name parts only).
    bool MatchesSpec() const;
    void FireReadFile();
    void EndWalk() { ReadPos = StopPos; }
    // True when no further header fits before the stop offset.
    bool WalkEnds() const { return ReadPos + HeaderSize() >= StopPos; }

private:
    void List();
    void Walk();
    void StepFrame();
    void CleanUp(bool freeArchiveComment);

    bool showBlankDirs_ = false;
    bool cancelled_ = false;
    std::vector<std::string>* oemNames_ = nullptr;
    std::string archivePath_;
    std::unique_ptr<lister::Reader> reader_;
    std::vector<uint8_t> header_;
    InputWindow window_;
    int64_t inputPos_ = 0;
};

} // namespace dvl
