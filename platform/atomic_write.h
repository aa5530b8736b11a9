// Whole-file replacement that a crash cannot leave half done.
#pragma once

#include <string>
#include <string_view>

namespace dvl::platform {

// Writes the bytes to a temporary file in the target's folder, flushes it to
// the disk and renames it over the target, so readers see either the old or
// the new content. The folder must exist. Returns false (and leaves the
// target and no temporary file behind) when any step fails. A symbolic link
// is followed: the file it names is replaced.
bool WriteFileAtomically(const std::string& nativePath, std::string_view content);

// The whole content of a file; false when it can't be opened or read.
bool ReadWholeFile(const std::string& nativePath, std::string& content);

} // namespace dvl::platform
