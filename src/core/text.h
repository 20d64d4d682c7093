// Text helpers shared by every subsystem. Windows-free: wide strings hold UTF-16 on Windows and
// UTF-32 elsewhere, and these functions handle both.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vistrel {

// UTF-8 -> wide. Invalid or truncated sequences become U+FFFD; never reads past the input.
std::wstring Utf8ToWide(std::string_view utf8);

// wide -> UTF-8. Unpaired surrogates become U+FFFD.
std::string WideToUtf8(std::wstring_view wide);

// At most maxUnits code units of text, never ending in half of a surrogate pair.
std::wstring CutText(std::wstring_view text, std::size_t maxUnits);

// The largest number of characters a Windows path buffer of 260 holds (one is the terminator).
inline constexpr std::size_t kMaxPathChars = 259;

}  // namespace vistrel
