// Whole small files (catalogues, language.ini) read into memory.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace vistrel {

// The bytes of the file, or nothing when it cannot be opened. A read error (for instance the path
// names a folder) ends the data where it happened; it never throws.
std::optional<std::string> ReadFileBytes(const std::filesystem::path& path);

}  // namespace vistrel
