// The native builds' log: LogMessage keeps its lines in memory so that tests can read them.
#pragma once

#include <string>
#include <vector>

namespace vistrel::testing {

// Every line logged since the last ClearCapturedLog, oldest first.
std::vector<std::wstring> CapturedLog();
void ClearCapturedLog();

}  // namespace vistrel::testing
