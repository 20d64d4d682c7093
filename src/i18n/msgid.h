// N_(): marks a msgid for the catalogues where it is only named; it is translated where it is
// shown (tr, i18n/tr.h).
#pragma once

namespace vistrel {

constexpr const wchar_t* N_(const wchar_t* msgid) { return msgid; }

}  // namespace vistrel
