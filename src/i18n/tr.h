// tr(): every text shown to the user passes through here.
//
// The msgid is translated (it is its own translation before Translator::init) and the result is
// used as a printf-style format with the arguments, see text_format.h. A literal percent sign is
// therefore written "%%" in msgids and translations, with or without arguments: tr(L"100%%") is
// "100%". When formatting fails (a broken translation, a conversion without an argument or of the
// wrong type) or yields no characters, the translation is returned as it stands.
#pragma once

#include <array>
#include <span>
#include <string>

#include "i18n/msgid.h"
#include "i18n/text_format.h"
#include "i18n/translator.h"

namespace vistrel {

template <typename... Args>
std::wstring tr(const std::wstring& msgid, const Args&... args) {
  const std::wstring text = Translator::initialized() ? Translator::instance().translate(msgid) : msgid;
  const std::array<FormatArg, sizeof...(Args)> list{FormatArg(args)...};
  return FormatText(text, std::span<const FormatArg>(list.data(), list.size()));
}

}  // namespace vistrel
