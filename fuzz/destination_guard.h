// What the extracting fuzz targets share: a private folder per process, an
// archive folder and a destination deep inside it, so that a name climbing
// out of the destination lands where it is seen, and the check that nothing
// but the archives lies outside the destination.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace dvl::fuzz {

struct Folders {
    std::filesystem::path root, archive, out;
};

// root/archive holds the archives, root/a/b/c/d/out is the destination.
inline const Folders& PrivateFolders(const std::string& target) {
    static const Folders folders = [&] {
        Folders f;
        f.root = std::filesystem::temp_directory_path() /
                 ("dvl-" + target + "-" + std::to_string(getpid()));
        f.archive = f.root / "archive";
        f.out = f.root / "a" / "b" / "c" / "d" / "out";
        std::filesystem::create_directories(f.archive);
        return f;
    }();
    return folders;
}

// A fresh, empty destination.
inline void FreshDestination(const Folders& f) {
    std::filesystem::remove_all(f.root / "a");
    std::filesystem::create_directories(f.out);
}

// Aborts when anything but the archive folder and the way to the
// destination lies outside it.
inline void CheckNothingOutside(const Folders& f) {
    namespace fs = std::filesystem;
    for (auto it = fs::recursive_directory_iterator(f.root);
         it != fs::recursive_directory_iterator(); ++it) {
        const fs::path& p = it->path();
        if (p == f.archive || p.parent_path() == f.archive) continue;
        // Compared as text: the walk gives paths below the root as they are,
        // and resolving them (fs::relative) fails once they exceed PATH_MAX.
        const bool inside = p.string().rfind(f.out.string() + "/", 0) == 0;
        const bool onTheWay = f.out.string().rfind(p.string(), 0) == 0; // a/, a/b/ ...
        if (!inside && !onTheWay) {
            std::fprintf(stderr, "written outside the destination: %s\n", p.c_str());
            std::abort();
        }
    }
}

} // namespace dvl::fuzz
