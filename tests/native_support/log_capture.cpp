#include "log_capture.h"

#include <mutex>

#include "core/log.h"

namespace vistrel {
namespace {

std::mutex g_lock;
std::vector<std::wstring> g_lines;

// Fuzz targets log for hours; only the most recent lines are kept.
constexpr std::size_t kMaxLines = 10000;

}  // namespace

void LogMessage(const std::wstring& message) {
  std::lock_guard lock(g_lock);
  if (g_lines.size() >= kMaxLines) g_lines.erase(g_lines.begin(), g_lines.begin() + kMaxLines / 2);
  g_lines.push_back(message);
}

namespace testing {

std::vector<std::wstring> CapturedLog() {
  std::lock_guard lock(g_lock);
  return g_lines;
}

void ClearCapturedLog() {
  std::lock_guard lock(g_lock);
  g_lines.clear();
}

}  // namespace testing
}  // namespace vistrel
