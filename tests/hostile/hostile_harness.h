// What the hostile-archive suites share: runs of `dvl` and of dvl2's back
// ends into a destination beside a folder that must stay untouched, and the
// rows they report.
#pragma once

#include "archive/errors.h"
#include "dvl2/core/front_end.h"
#include "platform/paths.h"
#include "tests/dvl2/harness.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <sstream>

namespace dvl::hostile {

namespace fs = std::filesystem;
using test::Bytes;
using test::Quote;

// A row as a person reads it: the entry it names and the error's text.
struct Row {
    std::string file, error;
    bool operator<(const Row& o) const { return std::tie(file, error) < std::tie(o.file, o.error); }
    bool operator==(const Row&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const Row& row) {
    return out << "{" << row.file << ", " << row.error << "}";
}

inline Row Coded(const std::string& file, int32_t code) {
    return {file, ErrorMessage(code)};
}

struct Outcome {
    int status = 0;
    std::vector<Row> rows;
};

// What a case expects besides its rows: files written (path below the
// destination -> content).
using Files = std::map<std::string, std::string>;

class Hostile : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(in_);
        fs::create_directories(outside_);
        test::WriteFile(outside_ / "victim.txt", std::string("keep"));
    }
    void TearDown() override { fs::current_path(cwd_); }

    fs::path Save(const std::string& name, const std::vector<uint8_t>& bytes) {
        test::WriteFile(in_ / name, bytes);
        return in_ / name;
    }

    // A fresh destination prepared by `setup` (links planted in it).
    void FreshDestination(const std::function<void(const fs::path&)>& setup) {
        fs::remove_all(dest_);
        fs::create_directories(dest_);
        if (setup) setup(dest_);
    }

    // dvl x -o DEST [OPTIONS] ARCHIVE (or another command on the archive);
    // rows from its error lines ("[code ]text (file)"). Existing files are
    // replaced, as dvl2 does, unless OPTIONS say otherwise.
    Outcome RunDvl(const fs::path& archive, const std::string& command = "x",
                   const std::string& options = "", const fs::path& dest = {}) {
        Outcome outcome;
        std::string target;
        if (command == "x") {
            target = "-o " + Quote(dest.empty() ? dest_ : dest) + " ";
            if (options.find("--overwrite") == std::string::npos) target += "--overwrite=always ";
        }
        const std::string err =
            test::RunAndCapture(test::DvlProgram() + " " + command + " " + target + options + " " +
                                    Quote(archive) + " 2>&1 >/dev/null",
                                &outcome.status);
        std::istringstream lines(err);
        for (std::string line; std::getline(lines, line);) {
            const size_t open = line.rfind(" (");
            if (open == std::string::npos || line.back() != ')') {
                outcome.rows.push_back({"", line});
                continue;
            }
            std::string error = line.substr(0, open);
            if (error.size() > 6 && std::isdigit(uint8_t(error[0])) && error[5] == ' ')
                error.erase(0, 6);
            outcome.rows.push_back({line.substr(open + 2, line.size() - open - 3), error});
        }
        return outcome;
    }

    // dvl2's back end for the format, extracting (or testing) into dest.
    Outcome RunDvl2(const fs::path& archive, const std::string& format,
                    int mode = dvl2::kModeExtract, const fs::path& dest = {}) {
        dvl2::test::MessageBoxes boxes;
        dvl2::test::ScriptedView view;
        dvl2::FrontEnd frontEnd(view);
        dvl2::FrontState& state = frontEnd.State();
        state.ArchivePath = platform::ToWindowsPath(archive.string());
        state.ArchiveFormat = format;
        state.DestFolder = platform::ToWindowsPath((dest.empty() ? dest_ : dest).string()) + "\\";
        state.Mode = mode;
        frontEnd.RunOperation();
        Outcome outcome;
        for (const auto& row : view.log) {
            // The ZIP back end's rows carry the error's code.
            const bool coded = !row.error.empty() && std::isdigit(uint8_t(row.error[0]));
            outcome.rows.push_back(
                {row.file, coded ? ErrorMessage(std::stoi(row.error)) : row.error});
        }
        for (const auto& box : boxes.shown)
            outcome.rows.push_back({"box", box.text});
        outcome.status = outcome.rows.empty() ? 0 : 1;
        return outcome;
    }

    // Nothing but the victim outside the destination, untouched, and no link
    // in the destination that the case did not plant.
    void ExpectNothingOutside(const std::vector<std::string>& plantedLinks) {
        std::vector<std::string> top;
        for (const auto& e : fs::directory_iterator(root_.Path()))
            top.push_back(e.path().filename().string());
        std::sort(top.begin(), top.end());
        EXPECT_EQ(top, (std::vector<std::string>{"dest", "in", "outside"}));
        std::vector<std::string> outside;
        for (const auto& e : fs::recursive_directory_iterator(outside_))
            outside.push_back(fs::relative(e.path(), outside_).string());
        EXPECT_EQ(outside, std::vector<std::string>{"victim.txt"});
        EXPECT_EQ(test::ReadText(outside_ / "victim.txt"), "keep");
        // find walks folders deeper than a path may be long.
        std::istringstream links(
            test::RunAndCapture("cd " + Quote(dest_) + " && find . -type l -printf '%P\\n'"));
        for (std::string link; std::getline(links, link);)
            EXPECT_NE(std::find(plantedLinks.begin(), plantedLinks.end(), link), plantedLinks.end())
                << link << " is a link the archive made";
    }

    void ExpectFiles(const Files& files) {
        for (const auto& [path, content] : files)
            EXPECT_EQ(test::ReadText(dest_ / path), content) << path;
    }

    // Runs the archive through dvl and dvl2 into a fresh destination each
    // time, and checks rows, written files and the space outside.
    void ExpectBoth(const fs::path& archive, const std::string& format,
                    const std::function<void(const fs::path&)>& setup,
                    const std::vector<std::string>& plantedLinks, std::vector<Row> rows,
                    const Files& files) {
        std::sort(rows.begin(), rows.end());
        for (const bool viaDvl2 : {false, true}) {
            SCOPED_TRACE(viaDvl2 ? "dvl2" : "dvl");
            FreshDestination(setup);
            Outcome outcome = viaDvl2 ? RunDvl2(archive, format) : RunDvl(archive);
            std::sort(outcome.rows.begin(), outcome.rows.end());
            EXPECT_EQ(outcome.rows, rows);
            EXPECT_EQ(outcome.status, rows.empty() ? 0 : 1);
            ExpectFiles(files);
            ExpectNothingOutside(plantedLinks);
        }
    }

    // The link every case plants: dest/lnk -> ../outside.
    static void PlantLink(const fs::path& dest) { fs::create_symlink("../outside", dest / "lnk"); }

    fs::path cwd_ = fs::current_path();
    test::TempDir root_;
    fs::path dest_ = root_ / "dest";
    fs::path in_ = root_ / "in";
    fs::path outside_ = root_ / "outside";
};

class HostileRar : public Hostile {
protected:
    void SetUp() override {
        DVL_REQUIRE_TOOL("rar");
        Hostile::SetUp();
    }
    // rar a ARCHIVE FILES... in a folder of files (name -> content; a name
    // ending in "@" + target is made a symbolic link to the target).
    fs::path MakeRar(const std::string& name, const std::map<std::string, std::string>& files,
                     const std::string& options = "") {
        const fs::path src = root_ / "src";
        fs::remove_all(src);
        std::string names;
        for (const auto& [file, content] : files) {
            fs::create_directories((src / file).parent_path());
            if (content.rfind("@", 0) == 0)
                fs::create_symlink(content.substr(1), src / file);
            else
                test::WriteFile(src / file, content);
            names += " " + Quote(file);
        }
        EXPECT_EQ(test::Run("rar a -inul " + options + " " + Quote(in_ / name) + names, src), 0);
        fs::remove_all(src);
        return in_ / name;
    }
};

} // namespace dvl::hostile
