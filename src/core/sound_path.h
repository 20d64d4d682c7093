// Where a sound setting points. Windows-free.
#pragma once

#include <string>
#include <string_view>

namespace vistrel {

// True for "C:\...", "C:/...", "\\server\share\..." and root-relative "\..." paths.
bool IsAbsoluteWindowsPath(std::wstring_view path);

// Empty for silence (empty, or "None" in any letter case); an absolute path as it is; otherwise
// the value inside the "sounds" folder of programFolder.
std::wstring ResolveSoundPathIn(std::wstring_view value, std::wstring_view programFolder);

}  // namespace vistrel
