// Naming rules shared by every output file. Windows-free.
#pragma once

#include <string>

#include "core/log_format.h"

namespace vistrel {

// "YYYY-MM-DD_hh-mm-ss", the time stamp in every output file name.
std::wstring FormatFileTimestamp(const LocalTime& time);

// Candidate `counter` for a new file: 1 is the path itself, 2 is "<stem>_2<ext>", and so on, so
// that a new file never replaces an earlier one of the same name.
std::wstring NumberedPath(const std::wstring& path, int counter);

}  // namespace vistrel
