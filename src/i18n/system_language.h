// The language that follows the user's Windows locale.
#pragma once

#include <string>

namespace vistrel {

// The code of the available language (the shared list, filled from the translator when empty)
// that best matches the user's default locale name; "en" when the locale cannot be read or nothing
// matches. See MatchSystemLanguage.
std::wstring DetectSystemLanguage();

}  // namespace vistrel
