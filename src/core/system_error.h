// The system's own text for an error code.
#pragma once

#include <windows.h>

#include <string>

namespace vistrel {

// FormatMessage's text for `code` without the trailing line break; empty when the system has none.
std::wstring SystemErrorText(DWORD code);

// An HRESULT as log lines show it: "0x8007000E".
std::wstring HresultCode(HRESULT hr);

}  // namespace vistrel
