// The update check against the maker's update service. Each check runs on a thread of its own and
// reports through message boxes owned by the given window.
#pragma once

#include <windows.h>

namespace vistrel {

// The environment variable through which tests point the check at a server of their own
// ("host", "host:port" or "https://host:port"); see README.
inline constexpr wchar_t kUpdateServerVariable[] = L"VISTREL_UPDATE_SERVER";

// Starts a check and returns at once. A silent check shows only the "Update Available" box; a
// manual one shows every outcome.
void CheckForUpdatesAsync(HWND owner, bool silent);

}  // namespace vistrel
