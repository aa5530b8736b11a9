// The files and folders an extraction creates below its destination folder.
//
// Every component below the destination is opened relative to the folder
// before it and never through a symbolic link, so no entry can be written
// through a link that already lies in the destination, whatever its spelling;
// such an entry is refused. Names are created exactly as given. A component
// longer than a file name may be is shortened the same way every time, so the
// same stored name always arrives under the same name. A file is written
// beside its final name and takes it only when committed, so a failed entry
// never leaves a file that looks complete nor destroys the one it would
// replace; the archives being read are never replaced.
#pragma once

#include "platform/file.h"

#include <memory>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace dvl::platform {

enum class OutputStatus {
    Ok,
    LinkInPath,   // an existing component below the destination is a symbolic link
    InvalidName,  // no file system can hold the name: empty, ".", "..", a zero byte,
                  // or a name the file system refuses
    FolderFailed, // a folder could not be made or opened (error says why)
    FileFailed,   // the file could not be created (error says why)
    Protected,    // the file's place holds an archive being read
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

class OutputTree;

// An open folder below the destination, shared by the files written in it.
struct Folder {
    explicit Folder(int descriptor) : fd(descriptor) {}
    ~Folder();
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;
    const int fd;
};
using FolderRef = std::shared_ptr<const Folder>;

// A file written beside its final name until it is committed; discarded when
// dropped uncommitted.
class PendingFile {
public:
    PendingFile() = default;
    ~PendingFile() { Discard(); }
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    bool Active() const { return folder_ != nullptr; }
    // Gives the written (and closed) file its final name, replacing what is
    // there; false (with errno set) when it could not.
    bool Commit();
    // Removes the written file.
    void Discard();
    // Keeps the written file under its final name with `suffix` added.
    bool KeepAs(std::string_view suffix);

private:
    friend class OutputTree;

    void Release();

    FolderRef folder_;
    std::string temporary_, final_;
};

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
    // A new plain file (write-only, in `file`) beside `relative`, with the
    // missing parent folders; `pending` gives it its name when committed.
    OutputResult CreateFile(std::string_view relative, File& file, PendingFile& pending);
    // Files that no entry may replace (the archive and its volumes), by
    // identity, whatever name leads to them; missing ones are ignored.
    void Protect(std::string_view winPath);
    // Opens the plain file at `relative` for reading (nothing through a link).
    bool OpenForReading(std::string_view relative, File& file) const;
    // True when something lies at `relative` (by its exact name, links not
    // followed).
    bool Exists(std::string_view relative) const;
    // A free name beside `relative` for an entry that must not replace what
    // is there: "name (1).ext", "name (2).ext" ...
    std::string FreeName(std::string_view relative) const;
    // Removes a plain file (or a link) at `relative` as created; false when
    // it is not there or could not be removed.
    bool RemoveFile(std::string_view relative);

private:
    // Opens (and with `create`, makes) the folders of `parts` below the root;
    // the last one, or null with `result` saying why.
    FolderRef OpenFolders(const std::vector<std::string>& parts, bool create,
                          OutputResult& result) const;
    int OpenRoot(bool create) const;
    // The folder that holds `relative`'s last component (given in `name`).
    FolderRef OpenParent(std::string_view relative, bool create, std::string& name,
                         OutputResult& result) const;

    bool IsProtected(int folderFd, const std::string& name) const;

    std::string rootNative_;
    mutable int rootFd_ = -1;
    mutable FolderRef lastFolder_; // the folder opened last, and its path
    mutable std::string lastFolderKey_;
    std::vector<std::pair<dev_t, ino_t>> protected_;
};

} // namespace dvl::platform
