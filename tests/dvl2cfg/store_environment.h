// A private user tree for tests of the association store: the hive, the
// user's config and data folders and a system data folder whose globs2 the
// test writes, all inside one temporary folder. The environment points there
// from construction on, before any member of a derived fixture exists.
#pragma once

#include "platform/paths.h"
#include "tests/support/test_support.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <string>

namespace dvl::test {

class StoreEnvironment : public ::testing::Test {
protected:
    StoreEnvironment() {
        for (const char* name : {"my programs", "home", "hive", "config", "data", "system/mime"})
            std::filesystem::create_directories(temp_ / name);
        Set("HOME", temp_ / "home");
        Set("DOVREL_REGISTRY", HiveFolder());
        Set("XDG_CONFIG_HOME", temp_ / "config");
        Set("XDG_DATA_HOME", DataFolder());
        Set("XDG_DATA_DIRS", temp_ / "system");
        WriteFile(temp_ / "system/mime/globs2", "# fake shared MIME database\n"
                                                "50:application/zip:*.zip\n"
                                                "50:application/x-ace:*.ace\n"
                                                "50:application/vnd.rar:*.rar\n");
    }

    ~StoreEnvironment() override {
        for (const auto& [name, value] : saved_) {
            if (value)
                ::setenv(name.c_str(), value->c_str(), 1);
            else
                ::unsetenv(name.c_str());
        }
    }

    void Set(const std::string& name, const std::filesystem::path& value) {
        if (!saved_.contains(name)) {
            const char* old = std::getenv(name.c_str());
            saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
        }
        ::setenv(name.c_str(), value.c_str(), 1);
    }

    std::filesystem::path ProgramDir() const { return temp_ / "my programs"; }
    // The program folder as dvl2cfg passes it: Windows form.
    std::string ProgramFolder() const { return platform::ToWindowsPath(ProgramDir().string()); }
    std::filesystem::path IniFile() const { return ProgramDir() / "dvl2cfg.ini"; }
    std::filesystem::path HiveFolder() const { return temp_ / "hive"; }
    std::filesystem::path ConfigFolder() const { return temp_ / "config"; }
    std::filesystem::path DataFolder() const { return temp_ / "data"; }
    const TempDir& Temp() const { return temp_; }

private:
    TempDir temp_;
    std::map<std::string, std::optional<std::string>> saved_;
};

} // namespace dvl::test
