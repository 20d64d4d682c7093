#include "core/sound_path.h"

#include <cwctype>

namespace vistrel {
namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool IsNone(std::wstring_view value) {
  constexpr std::wstring_view kNone = L"none";
  if (value.size() != kNone.size()) return false;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (std::towlower(value[i]) != kNone[i]) return false;
  }
  return true;
}

}  // namespace

bool IsAbsoluteWindowsPath(std::wstring_view path) {
  if (!path.empty() && IsSeparator(path[0])) return true;
  return path.size() >= 3 && std::iswalpha(path[0]) && path[1] == L':' && IsSeparator(path[2]);
}

std::wstring ResolveSoundPathIn(std::wstring_view value, std::wstring_view programFolder) {
  if (value.empty() || IsNone(value)) return {};
  if (IsAbsoluteWindowsPath(value)) return std::wstring(value);
  std::wstring path(programFolder);
  if (!path.empty() && !IsSeparator(path.back())) path.push_back(L'\\');
  path += L"sounds\\";
  path += value;
  return path;
}

}  // namespace vistrel
