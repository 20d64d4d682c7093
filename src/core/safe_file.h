// The user's own files (settings, tracks): read whole, and replaced so that a failed write never
// costs them. The new content goes to a temporary file in the same folder, which is flushed to the
// disk and then takes the file's place in one step; a crash or a full disk at any moment leaves
// either the old file or the new one, never a part of either.
#pragma once

#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace vistrel {

// The whole file, or nothing (with the last error set) when it cannot be opened or read to its end.
// Other readers and writers are not shut out.
std::optional<std::string> ReadWholeFile(const std::wstring& path);

// Writes what the system still holds of the file at `path` to the disk; false, with the last error
// set, when it could not.
bool FlushToDisk(const std::wstring& path);

// Writes `bytes` over the existing file at `path`, which is cut to them; false, with the last error
// set, when not every byte was written. Not safe on its own: for the temporary files below.
bool OverwriteFile(const std::wstring& path, std::string_view bytes);

// Makes the new version of `path` with `fill`, which is given the path of an empty temporary file
// beside it and returns false (with the last error set) when it could not write it. `path` is
// replaced only when every step worked; otherwise it is left as it was and the temporary file is
// removed. Returns ERROR_SUCCESS or the error that stopped it.
DWORD ReplaceFileSafely(const std::wstring& path, const std::function<bool(const std::wstring& temporary)>& fill);

// The same with the whole new content.
DWORD WriteFileSafely(const std::wstring& path, std::string_view bytes);

}  // namespace vistrel
