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

bool IsTimestampedFileName(std::wstring_view name) {
  const auto digit = [](wchar_t c) { return c >= L'0' && c <= L'9'; };
  const auto endsWithStamp = [&](std::wstring_view stem) {
    constexpr std::wstring_view kPattern = L"_0000-00-00_00-00-00";  // 0: any digit
    if (stem.size() <= kPattern.size()) return false;
    const std::wstring_view stamp = stem.substr(stem.size() - kPattern.size());
    for (std::size_t i = 0; i < kPattern.size(); ++i) {
      if (kPattern[i] == L'0' ? !digit(stamp[i]) : stamp[i] != kPattern[i]) return false;
    }
    return true;
  };
  const auto dot = name.find_last_of(L'.');
  if (dot == std::wstring_view::npos) return false;
  const std::wstring_view stem = name.substr(0, dot);
  if (endsWithStamp(stem)) return true;
  // Numbered: "..._2".
  std::size_t number = stem.size();
  while (number > 0 && digit(stem[number - 1])) --number;
  return number < stem.size() && number > 0 && stem[number - 1] == L'_' && endsWithStamp(stem.substr(0, number - 1));
}

}  // namespace vistrel
