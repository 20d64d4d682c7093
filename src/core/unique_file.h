// Claiming a new output file without ever replacing an existing one.
#pragma once

#include <string>

namespace vistrel {

// Creates an empty file at `path`, or at "<stem>_2<ext>", "<stem>_3<ext>", ... when the name is
// taken, and returns the path created. The creation is atomic, so two captures within the same
// second get two files. Empty when no file could be created (folder missing, access denied).
std::wstring ClaimNewFile(const std::wstring& path);

}  // namespace vistrel
