// Where a recording's file goes: the configured folder, or the user's known folder with
// "\Vistrel" appended, created when missing, and a new file named "<base>_<local time>.<ext>"
// that never replaces an earlier one.
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <string>

namespace vistrel {

struct OutputPlace {
  const wchar_t* prefix;         // "Recorder: "
  const wchar_t* kind;           // "video", "audio", "GIF": named in the log lines
  const wchar_t* knownName;      // "Videos", "Music", "Pictures"
  const KNOWNFOLDERID* known;    // used when `configured` is empty
  std::wstring configured;       // the folder setting
};

// The folder the recordings of `place` go to, not made yet; empty when the known folder cannot be
// read. `prefix` and the names are not used.
std::wstring RecordingFolder(const OutputPlace& place);

// The path of the new, empty file; empty when no file could be made (logged).
std::wstring ClaimRecordingFile(const OutputPlace& place, const std::wstring& base, const std::wstring& extension);

}  // namespace vistrel
