#include "core/file_names.h"

#include "core/text.h"

#include <cstdio>
#include <iterator>

namespace vistrel {

std::wstring FormatFileTimestamp(const LocalTime& t) {
  wchar_t buffer[64];
  std::swprintf(buffer, std::size(buffer), L"%04d-%02d-%02d_%02d-%02d-%02d", t.year, t.month, t.day,
                t.hour, t.minute, t.second);
  return buffer;
}

std::wstring FitFileNameBase(std::wstring_view folder, std::wstring_view base, std::wstring_view rest) {
  constexpr std::size_t kCounterAndPart = 6 + 5;  // "_10000" and ".part"
  const std::size_t fixed = folder.size() + 1 + rest.size() + kCounterAndPart;
  return fixed < kMaxPathChars ? CutText(base, kMaxPathChars - fixed) : std::wstring();
}

std::wstring NumberedPath(const std::wstring& path, int counter) {
  if (counter <= 1) return path;
  const auto slash = path.find_last_of(L"\\/");
  const auto dot = path.find_last_of(L'.');
  const bool hasExtension = dot != std::wstring::npos && (slash == std::wstring::npos || dot > slash);
  const std::wstring stem = hasExtension ? path.substr(0, dot) : path;
  const std::wstring extension = hasExtension ? path.substr(dot) : std::wstring();
  return stem + L"_" + std::to_wstring(counter) + extension;
}

}  // namespace vistrel
