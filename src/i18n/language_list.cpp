#include "i18n/language_list.h"

#include <mutex>
#include <utility>

#include "i18n/translator.h"

namespace vistrel {
namespace {

std::mutex g_listLock;
std::vector<LanguageInfo> g_list;

std::wstring AsciiLower(std::wstring_view text) {
  std::wstring lower(text);
  for (wchar_t& c : lower) {
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  }
  return lower;
}

std::vector<LanguageInfo> FromTranslator() {
  if (!Translator::initialized()) return {};
  return Translator::instance().getAvailableLanguages();
}

}  // namespace

std::wstring MatchSystemLanguage(const std::wstring& localeName,
                                 const std::vector<LanguageInfo>& available) {
  const std::wstring full = AsciiLower(localeName);
  const std::wstring brief = full.substr(0, 2);
  for (const LanguageInfo& language : available) {
    if (AsciiLower(language.code) == full) return language.code;
  }
  for (const LanguageInfo& language : available) {
    if (AsciiLower(language.code) == brief) return language.code;
  }
  return L"en";
}

std::vector<LanguageInfo> SharedAvailableLanguages() {
  std::lock_guard lock(g_listLock);
  return g_list;
}

std::vector<LanguageInfo> RefillSharedAvailableLanguages() {
  std::vector<LanguageInfo> fresh = FromTranslator();  // reads the disk outside the lock
  std::lock_guard lock(g_listLock);
  g_list = std::move(fresh);
  return g_list;
}

std::vector<LanguageInfo> SharedAvailableLanguagesFilled() {
  {
    std::lock_guard lock(g_listLock);
    if (!g_list.empty()) return g_list;
  }
  std::vector<LanguageInfo> fresh = FromTranslator();
  std::lock_guard lock(g_listLock);
  if (g_list.empty()) g_list = std::move(fresh);
  return g_list;
}

void SetSharedAvailableLanguages(std::vector<LanguageInfo> languages) {
  std::lock_guard lock(g_listLock);
  g_list = std::move(languages);
}

}  // namespace vistrel
