// The files and folders an extraction creates below its destination folder.
//
// Every component below the destination is opened relative to the folder
// before it and never through a symbolic link, so no entry can be written
// through a link that already lies in the destination, whatever its spelling;
// such an entry is refused. Names are created exactly as given. A component
// longer than a file name may be is shortened the same way every time, so the
// same stored name always arrives under the same name.
#pragma once

#include "platform/file.h"

#include <string>
#include <string_view>
#include <vector>

namespace dvl::platform {

enum class OutputStatus {
    Ok,
    LinkInPath,   // an existing component below the destination is a symbolic link
    InvalidName,  // no file system can hold the name: empty, ".", "..", a zero byte,
                  // or a name the file system refuses
    FolderFailed, // a folder could not be made or opened (error says why)
    FileFailed,   // the file could not be created (error says why)
};

struct OutputResult {
    OutputStatus status = OutputStatus::Ok;
    int error = 0;        // errno of a failure
    std::string relative; // the path below the destination as created ("\" separated)
    bool renamed = false; // a component was shortened to fit
    bool Ok() const { return status == OutputStatus::Ok; }
};

// The longest file name the file systems we write to take, in bytes.
constexpr size_t kMaxNameBytes = 255;

// A component as it is created: unchanged when it fits, else its start, "~",
// eight hex digits that depend on the whole name, and its extension (when
// short), cut on a character boundary to kMaxNameBytes.
std::string FittedName(std::string_view name);

class OutputTree {
public:
    // The destination folder (Windows form). It may itself be a link; it is
    // made with its missing parents when an entry first needs it.
    explicit OutputTree(std::string_view winRoot);
    ~OutputTree();
    OutputTree(const OutputTree&) = delete;
    OutputTree& operator=(const OutputTree&) = delete;

    // What creating `relative` (Windows form, "\" separated) would meet,
    // without creating anything: Ok with the fitted path, LinkInPath or
    // InvalidName.
    OutputResult Check(std::string_view relative) const;
    // The folders of `relative`, with the missing ones created.
    OutputResult CreateFolders(std::string_view relative);
    // The plain file at `relative` (created or truncated, write-only, in
    // `file`) with its missing parent folders.
    OutputResult CreateFile(std::string_view relative, File& file);
    // Removes a plain file (or a link) at `relative` as created; false when
    // it is not there or could not be removed.
    bool RemoveFile(std::string_view relative);

private:
    // Opens (and with `create`, makes) the folders of `parts` below the root;
    // the descriptor of the last one, or -1 with `result` saying why.
    int OpenFolders(const std::vector<std::string>& parts, bool create, OutputResult& result) const;
    int OpenRoot(bool create) const;

    std::string rootNative_;
    mutable int rootFd_ = -1;
};

} // namespace dvl::platform
