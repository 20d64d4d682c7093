#include "i18n/system_language.h"

#include <windows.h>

#include <array>
#include <string_view>

#include "i18n/language_list.h"

namespace vistrel {

std::wstring DetectSystemLanguage() {
  std::array<wchar_t, LOCALE_NAME_MAX_LENGTH> buffer{};
  const int length = GetUserDefaultLocaleName(buffer.data(), static_cast<int>(buffer.size()));
  if (length <= 0) return L"en";
  const std::wstring_view filled(buffer.data(), buffer.size());
  const std::wstring locale(filled.substr(0, filled.find(L'\0')));
  return MatchSystemLanguage(locale, SharedAvailableLanguagesFilled());
}

}  // namespace vistrel
