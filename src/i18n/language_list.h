// The languages offered to the user, and the choice that follows the system's language.
// Windows-free; DetectSystemLanguage (system_language.h) adds the Windows part.
#pragma once

#include <string>
#include <vector>

#include "i18n/language_ini.h"

namespace vistrel {

// The code of the entry of `available` that best matches a locale name such as "pt-BR": the first
// whose code equals the whole name, ignoring ASCII letter case; failing that, the first whose code
// equals its first two characters; failing that, "en". The code is returned as written.
std::wstring MatchSystemLanguage(const std::wstring& localeName,
                                 const std::vector<LanguageInfo>& available);

// The process-wide list of available languages, shared by the settings dialog and the system
// language detection. Safe from any thread; each call returns a copy.
std::vector<LanguageInfo> SharedAvailableLanguages();

// Replaces the shared list with Translator::instance().getAvailableLanguages() and returns it
// (the settings dialog does this each time it opens). Before Translator::init the list is emptied.
std::vector<LanguageInfo> RefillSharedAvailableLanguages();

// The shared list, filled first from the translator when it is empty.
std::vector<LanguageInfo> SharedAvailableLanguagesFilled();

// Sets the shared list directly.
void SetSharedAvailableLanguages(std::vector<LanguageInfo> languages);

}  // namespace vistrel
