// The main window's logic: start-up from the command line, the start of the
// operation at the first paint, Cancel, Escape, closing, the error log and
// the end of an operation.
#pragma once

#include "dvl2/core/entry_bar.h"
#include "dvl2/core/front_state.h"
#include "dvl2/core/view.h"

#include <memory>
#include <string>

namespace dvl::dvl2 {

class AceBackEnd;
class RarBackEnd;
class ZipBackEnd;
class LayerBackEnd;

// The main window's layout for a mode and format.
WindowLayout LayoutForMode(int mode, const std::string& format, const std::string& archivePath);
// The error log's caption for a mode.
std::string LogCaption(int mode);

class FrontEnd {
public:
    explicit FrontEnd(MainView& view);
    ~FrontEnd();
    FrontEnd(const FrontEnd&) = delete;
    FrontEnd& operator=(const FrontEnd&) = delete;

    FrontState& State() { return state_; }
    const FrontState& State() const { return state_; }
    MainView& View() { return view_; }
    RarBackEnd& Rar() { return *rar_; }
    AceBackEnd& Ace() { return *ace_; }

    // The start-up sequence, run when the main window is first shown. arg1 is
    // the archive path as passed (native form), arg2 the switch. Ends either
    // armed (StartPending) or with the program told to end.
    void FormShow(const std::string& arg1, const std::string& arg2);

    // At every paint: true once, when the operation is to start now (the
    // flag is cleared before the operation runs).
    bool TakeStartPending();
    // Runs the back end of ArchiveFormat to its end.
    void RunOperation();

    // btn_cancelClick: asks, and on Yes requests the cancel and ends the program.
    void CancelClick();
    // FormKeyDown: Escape in list mode ends the program.
    void KeyDown(int key);
    // The close box: ends the program without asking; a running back end
    // finishes first.
    void CloseRequested();

    void AddLogRow(const std::string& archive, const std::string& file, const std::string& error);
    // Shows the error log when it has rows (unless the program is already
    // ending), then ends the program except in list mode.
    void FinishOperation();

    // The entry bar of the RAR and ACE back ends.
    void BeginEntry(int32_t unpackedSize);
    // One block of unpacked data; lets messages run and answers true to go on.
    bool EntryData(int64_t blockSize);

    int VolumeBarPosition() const { return volumePosition_; }
    int VolumeBarMaximum() const { return volumeMaximum_; }
    void SetVolumeBar(int position, int maximum);

private:
    // Sets DestFolder and Mode from the switch; false when the program ends.
    bool EvaluateSwitch(const std::string& sw);
    std::string ArchiveFolder() const; // with its trailing "\"

    MainView& view_;
    FrontState state_;
    EntryBar entryBar_;
    int volumePosition_ = 0;
    int volumeMaximum_ = 100;
    std::unique_ptr<ZipBackEnd> zip_;
    std::unique_ptr<LayerBackEnd> layer_;
    std::unique_ptr<RarBackEnd> rar_;
    std::unique_ptr<AceBackEnd> ace_;
};

} // namespace dvl::dvl2
