// The association store: the file types and context-menu actions of
// dvl2cfg, kept in dvl2cfg.ini beside the program and in the registry hive
// (the class "DVL.Document" and one key per extension), and projected onto
// the desktop so that file managers offer the verbs.
#pragma once

#include <array>
#include <stdexcept>
#include <string>
#include <vector>

namespace dvl::dvl2cfg {

struct FileTypeRow {
    std::string Extension; // upper case, without the dot
    std::string Description;
    friend bool operator==(const FileTypeRow&, const FileTypeRow&) = default;
};

// The six actions in table order: Open, Extract to.., Extract to current,
// Extract to archive named folder, List archive, Test archive.
constexpr int kActionCount = 6;

// A registry or INI write that failed; what() is the message to show.
class AssociationWriteError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct AssociationState {
    std::vector<FileTypeRow> Rows;            // list order
    std::array<bool, kActionCount> Actions{}; // checked flags
};

bool IsRegistered(const std::string& extension);
std::vector<std::string> SplitList(const std::string& text);

// programFolder: the folder of the running dvl2cfg, Windows form, with or
// without the trailing "\".
AssociationState LoadAssociations(const std::string& programFolder);
// Writes the hive, the INI file and the desktop projection. A write that
// fails throws AssociationWriteError with the layer's message; what was
// written before stays.
void ApplyAssociations(const std::string& programFolder, const AssociationState& state);

} // namespace dvl::dvl2cfg
