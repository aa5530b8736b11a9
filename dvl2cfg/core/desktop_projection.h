// The desktop projection of the shell registration.
//
// File managers on the desktop know nothing of the registry, so after the
// hive is written the verbs of "DVL.Document" are mirrored as freedesktop
// files under the user's folders (nothing system-wide):
//
// - one desktop entry per verb with a command, applications/dovrel-dvl2-<verb>.desktop
//   in $XDG_DATA_HOME, starting the real dvl2 beside dvl2cfg on the file;
// - for every extension whose glob has no type in the shared MIME database,
//   a package mime/packages/dovrel-<ext>.xml declaring application/x-dovrel-<ext>;
// - the Open verb as the default application of those types in
//   $XDG_CONFIG_HOME/mimeapps.list.
//
// Everything carries our prefix (and desktop entries a marker key), which is
// how a later projection finds and removes what no longer holds. Foreign files
// and foreign lines of mimeapps.list are left as they are.
#pragma once

#include "dvl2cfg/core/associations.h"

#include <string>
#include <vector>

namespace dvl::dvl2cfg {

// programFolder: Windows form, as for ApplyAssociations. Throws
// AssociationWriteError "Unable to write to <path>" when a file can't be
// written; the tools that refresh the desktop caches run when present.
void ProjectOntoDesktop(const std::string& programFolder, const std::vector<FileTypeRow>& rows);

// The MIME type that the shared MIME database (the user's and the system's
// globs2) gives "*.<extension>", ignoring types of our own; empty when none.
std::string SharedMimeTypeOf(const std::string& extension);

} // namespace dvl::dvl2cfg
