// The subcommands of the dvl command line.
#pragma once

#include "archive/arc_type.h"

#include <functional>
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

// RAR and ACE archives (also self-extractors) go through the UnRAR and UnACE
// libraries with the walks of dvl2's back ends; errors are their log rows as
// "error (file)". archivePath and destFolder are component paths (absolute,
// Windows form), taken before a component has changed the current folder.
enum class LibraryOperation { Extract, Test, List };
// True for the RAR types, and for an archive of no known type that the UnRAR
// library opens (its self-extractors).
bool IsRarArchive(TArcType type, const std::string& archivePath);
// keepExisting: asked before an entry replaces an existing file; true keeps
// it (unset: files are replaced).
using KeepExisting = std::function<bool(const std::string& path)>;
int RarCommand(const std::string& shownName, const std::string& archivePath,
               LibraryOperation operation, const std::string& destFolder,
               const std::string& password, const KeepExisting& keepExisting = {});
// True for an archive of no known type that the UnACE library opens (ACE
// archives and their self-extractors).
bool IsAceArchive(TArcType type, const std::string& archivePath);
int AceCommand(const std::string& shownName, const std::string& archivePath,
               LibraryOperation operation, const std::string& destFolder,
               const std::string& password, const KeepExisting& keepExisting = {});

// An argument path as the components take it: absolute (against the folder
// the command started in, whatever folder is current now), Windows form.
std::string ComponentPath(const std::string& nativePath);
// Takes the current folder as the one the command started in; called first.
void RememberStartFolder();

} // namespace dvl::cli
