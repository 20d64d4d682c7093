// Any text parses as language.ini; keys come out trimmed, and a [lang] section appended at the end
// always has the last word.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "i18n/language_ini.h"

namespace {

bool IsSpace(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n' || c == L'\f' || c == L'\v'; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const vistrel::LanguageIniValues values = vistrel::ParseLanguageIni(text);
  for (const auto& [key, value] : values) {
    if (!key.empty() && (IsSpace(key.front()) || IsSpace(key.back()))) std::abort();
    if (!value.empty() && (IsSpace(value.front()) || IsSpace(value.back()))) std::abort();
  }
  const auto listed = vistrel::ListedLanguageInfo(values);
  if (listed && (listed->name.empty() || listed->code.empty())) std::abort();
  const vistrel::LanguageInfo active = vistrel::ActiveLanguageInfo(L"zz", values);
  if (active.name.empty() || active.code.empty()) std::abort();

  const auto appended = vistrel::ParseLanguageIni(text + "\n[lang]\nlanguage_code = last\n");
  const auto code = appended.find(L"language_code");
  if (code == appended.end() || code->second != L"last") std::abort();
  return 0;
}
