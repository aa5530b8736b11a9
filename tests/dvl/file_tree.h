// What the tests of `dvl` on the layer's formats share: running it in a
// folder, and the files an extraction left below a folder, to compare with
// what a peer tool extracts from the same archive.
#pragma once

#include "tests/support/test_support.h"

#include <cstdint>
#include <filesystem>
#include <map>
#include <ostream>
#include <string>
#include <sys/stat.h>

namespace dvl::test {

struct FileState {
    std::string content;
    int64_t modified = 0;
    bool writable = true;
    bool operator==(const FileState&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const FileState& f) {
    return out << "{" << f.content.size() << " bytes, " << f.modified
               << (f.writable ? "" : ", read-only") << "}";
}

// Every plain file below a folder: content, date (unless `dates` is false)
// and whether its owner may write it; links and other kinds are left out.
inline std::map<std::string, FileState> FileTree(const std::filesystem::path& root,
                                                 bool dates = true) {
    std::map<std::string, FileState> files;
    if (!std::filesystem::exists(root)) return files;
    for (const auto& e : std::filesystem::recursive_directory_iterator(root)) {
        if (!e.is_regular_file() || e.is_symlink()) continue;
        struct stat st {};
        ::lstat(e.path().c_str(), &st);
        files[std::filesystem::relative(e.path(), root).string()] = {
            ReadText(e.path()), dates ? int64_t(st.st_mtime) : 0, (st.st_mode & 0200) != 0};
    }
    return files;
}

// 20,000 numbered lines (about 500 KB) that compress well but not trivially.
inline std::string BigText() {
    std::string text;
    for (int i = 0; i < 20000; ++i)
        text += "line " + std::to_string(i * 7919 % 10007) + " of the big file\n";
    return text;
}

// Runs `dvl ARGS` in a folder; its standard output and error together.
inline std::string DvlIn(const std::filesystem::path& folder, const std::string& args,
                         int* status = nullptr) {
    return RunAndCapture("cd " + Quote(folder) + " && " + DvlProgram() + " " + args + " 2>&1",
                         status);
}

} // namespace dvl::test
