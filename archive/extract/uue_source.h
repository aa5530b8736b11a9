// The entry source of UU-, XX- and base64-encoded files in a text.
#pragma once

#include "archive/extract/source.h"

#include <memory>
#include <string>

namespace dvl::extract {

std::unique_ptr<EntrySource> MakeUueSource(const std::string& archivePath);

} // namespace dvl::extract
