// The subcommands of the dvl command line.
#pragma once

#include <string>
#include <vector>

namespace dvl::cli {

// Exit statuses: 0 nothing failed, 1 an entry failed, 2 usage error or an
// archive that could not be opened.
enum ExitStatus { kExitOk = 0, kExitEntryFailed = 1, kExitUsage = 2 };

int IdentifyCommand(const std::vector<std::string>& args);
// dvl x (test false) and dvl t (test true).
int ExtractCommand(const std::vector<std::string>& args, bool test);
// dvl l: the entries of any archive the lister reads.
int ListCommand(const std::vector<std::string>& args);

// An argument path as the components take it: absolute, Windows form.
std::string ComponentPath(const std::string& nativePath);

} // namespace dvl::cli
