// Windows-form paths on POSIX.
//
// Inside Dovrel a path is Windows-form text: "\" separates components and a
// leading drive ("C:") may stand in front. These functions convert at the
// system-call boundary and give the case-insensitive lookup that a Windows
// file system would.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace dvl::platform {

// "\" -> "/", a leading drive "X:" dropped. No file-system access.
std::string ToNativeSpelling(std::string_view winPath);

// Native form of a Windows-form path, with every component that does not exist
// in its exact spelling replaced by the one entry of its folder that matches it
// ignoring case (the first in byte order when several do). Components that
// match nothing are kept as written, so the result names what a create would.
std::string ToNativePath(std::string_view winPath);

// "/" -> "\" (a native path shown as Windows-form text).
std::string ToWindowsPath(std::string_view nativePath);

// Windows "FindFirstFile" matching of one name against a mask: "*" any run,
// "?" any one character, "*.*" everything, ASCII case folded.
bool MatchesMask(std::string_view name, std::string_view mask);

// Names (not paths) of the plain files of a Windows-form folder that match a
// mask, sorted ignoring case. A missing folder gives an empty list.
std::vector<std::string> ListFiles(std::string_view winFolder, std::string_view mask);

// Directory search: true when the last component (which may hold a mask)
// finds a file or a folder in its folder.
bool NameExists(std::string_view winPath);
bool FileExists(std::string_view winPath);      // a plain file
bool DirectoryExists(std::string_view winPath); // a folder

// One level; false when it could not be made (an existing folder is true).
bool CreateDirectory(std::string_view winPath);
// With all missing parents; true when the folder exists afterwards.
bool ForceDirectories(std::string_view winPath);
// A plain file; false when it could not be removed.
bool DeleteFile(std::string_view winPath);

// The process's current folder in Windows form, without a trailing "\".
std::string GetCurrentDir();
bool SetCurrentDir(std::string_view winPath);

} // namespace dvl::platform
