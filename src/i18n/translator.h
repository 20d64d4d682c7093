// The process-wide translator: English texts in the program, translations from compiled gettext
// catalogues in the languages folder (<base>/<code>/<category>/<domain>.mo, with
// <base>/<code>/language.ini beside them). Windows-free.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <shared_mutex>
#include <string>
#include <vector>

#include "i18n/language_ini.h"
#include "i18n/mo_reader.h"

namespace vistrel {

class Translator {
 public:
  // Creates the process-wide instance once; later calls do nothing. Empty category and domain
  // mean "LC_MESSAGES" and "messages". The base path is UTF-8.
  static void init(const std::string& basePathUtf8, const std::string& category = {},
                   const std::string& domain = {});
  // The instance; throws std::runtime_error before init().
  static Translator& instance();
  static bool initialized();

  // A separate translator for a folder of its own (tests; the program uses instance()).
  Translator(const std::string& basePathUtf8, const std::string& category,
             const std::string& domain);
  Translator(const Translator&) = delete;
  Translator& operator=(const Translator&) = delete;

  // Activates a language. Empty or "en": the built-in English texts. Otherwise its catalogue is
  // loaded; when it is missing that is logged and English is used. Empty category and domain mean
  // the instance's own. Runs on the UI thread; translate() may run concurrently on others.
  void setLanguage(const std::wstring& code, const std::string& category = {},
                   const std::string& domain = {});

  // The translation of `msgid`, or `msgid` itself. Safe from any thread.
  std::wstring translate(const std::wstring& msgid) const;

  // Name and code of the active language; "English" and "en" when none is active.
  std::wstring getLanguageName() const;
  std::wstring getLanguageCode() const;
  // Right-to-left script of the active language (false for English).
  bool isRightToLeft() const;
  // The metadata of the active language (empty fields when none is active).
  LanguageInfo getLanguageInfo() const;

  // Every language folder with a usable language.ini, plus the built-in English entry at the front
  // unless a folder provides English ("en", "en-US" or "en_US").
  std::vector<LanguageInfo> getAvailableLanguages() const;

  // Where the catalogue of `code` is looked for (empty category and domain: the instance's).
  std::filesystem::path cataloguePath(const std::wstring& code, const std::string& category = {},
                                      const std::string& domain = {}) const;

 private:
  bool active() const;  // callers hold lock_

  std::filesystem::path basePath_;
  std::string category_;
  std::string domain_;

  // Replaced wholesale by setLanguage (exclusive lock); read under a shared lock.
  mutable std::shared_mutex lock_;
  std::wstring currentLanguage_;
  std::optional<MoCatalogue> catalogue_;
  LanguageInfo info_;
};

// The built-in English entry of the language list.
LanguageInfo BuiltInEnglish();

}  // namespace vistrel
