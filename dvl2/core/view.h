// What the front end's logic needs from its windows. The Qt forms implement
// it; tests implement it with scripted answers. Message boxes, the message
// pump and ending the program go through the platform hooks.
#pragma once

#include <array>
#include <string>

namespace dvl::dvl2 {

enum class Panel { None, Progress, ZipList, OtherList };

// How the main window looks in a mode.
struct WindowLayout {
    Panel panel = Panel::None;
    int outerWidth = 0;
    int outerHeight = 0;
    std::string caption;
    bool operator==(const WindowLayout&) const = default;
};

// The "UnZip.." dialog's answer.
struct ZipOptionsAnswer {
    enum class Button { Ok, Cancel, Closed } button = Button::Closed;
    bool extractAll = false; // CheckBox1
    std::string match;       // Edit1
    std::string mask;        // Edit2
};

using ZipListRow = std::array<std::string, 5>;   // FileName, Date / Time, Packed, Unpacked, Ratio
using OtherListRow = std::array<std::string, 3>; // Archive, File, Size

class MainView {
public:
    virtual ~MainView() = default;

    virtual void PrepareLayout(const WindowLayout& layout) = 0;
    virtual void SetFileLabel(const std::string& text) = 0;    // lbl_filename
    virtual void SetArchiveLabel(const std::string& text) = 0; // lbl_archivename
    // Positions may exceed the maximum; the bar then shows full.
    virtual void SetEntryBar(int position) = 0;                // ProgressBar1, 0..100
    virtual void SetVolumeBar(int position, int maximum) = 0;  // ProgressBar2
    virtual void AddZipListRow(const ZipListRow& row) = 0;     // ListView1
    virtual void AddOtherListRow(const OtherListRow& row) = 0; // ListView2 (RAR, ACE)
    // The error log (logform.ListView1).
    virtual void AddLogRow(const std::string& archive, const std::string& file,
                           const std::string& error) = 0;
    virtual int LogRowCount() const = 0;
    virtual void ShowLogModal(const std::string& caption) = 0;

    // Modal dialogs.
    // "Extract to..": the chosen folder, empty when cancelled or closed.
    virtual std::string ShowExtractTo() = 0;
    // "UnZip..", with the Match edit set to matchText first.
    virtual ZipOptionsAnswer ShowZipOptions(const std::string& matchText) = 0;
    virtual void ShowHelp() = 0;
};

} // namespace dvl::dvl2
