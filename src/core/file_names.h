// Naming rules shared by every output file. Windows-free.
#pragma once

#include <string>
#include <string_view>

#include "core/log_format.h"

namespace vistrel {

// "YYYY-MM-DD_hh-mm-ss", the time stamp in every output file name.
std::wstring FormatFileTimestamp(const LocalTime& time);

// `base` (a window title, say) cut so that "<folder>\<base><rest>" fits a Windows path of 259
// characters, with room left for the "_10000" a name taken already gets and for ".part" (the name
// a file has while it is rewritten); `rest` is what follows the base (time stamp, extension).
// Never splits a surrogate pair; empty when the folder leaves no room.
std::wstring FitFileNameBase(std::wstring_view folder, std::wstring_view base, std::wstring_view rest);

// Candidate `counter` for a new file: 1 is the path itself, 2 is "<stem>_2<ext>", and so on, so
// that a new file never replaces an earlier one of the same name.
std::wstring NumberedPath(const std::wstring& path, int counter);

// Whether a file name was made by the rules above: "<base>_YYYY-MM-DD_hh-mm-ss.<ext>", perhaps
// numbered ("..._2.<ext>").
bool IsTimestampedFileName(std::wstring_view name);

}  // namespace vistrel
