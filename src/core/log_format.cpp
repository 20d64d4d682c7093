#include "core/log_format.h"

#include <cstdio>

#include "core/text.h"

namespace vistrel {

std::string FormatLogLine(const LocalTime& t, std::wstring_view message) {
  char prefix[64];
  std::snprintf(prefix, sizeof prefix, "[%04d-%02d-%02d %02d:%02d:%02d] ", t.year, t.month, t.day,
                t.hour, t.minute, t.second);
  std::string line(prefix);
  const std::string text = WideToUtf8(message);
  line.reserve(line.size() + text.size() + 2);
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) line.push_back('\r');
    line.push_back(text[i]);
  }
  line += "\r\n";
  return line;
}

std::wstring LogPathFor(std::wstring_view configPath, std::wstring_view tempFolder) {
  if (configPath.empty()) {
    std::wstring path(tempFolder);
    if (!path.empty() && path.back() != L'\\' && path.back() != L'/') path.push_back(L'\\');
    return path + L"Vistrel_log.txt";
  }
  const std::wstring config = CutText(configPath, kMaxPathChars);
  const auto slash = config.find_last_of(L"\\/");
  const std::wstring folder = slash == std::wstring::npos ? std::wstring() : config.substr(0, slash);
  return folder + L"\\log.txt";
}

std::wstring OldLogPath(std::wstring_view path) {
  const auto slash = path.find_last_of(L"\\/");
  const auto dot = path.find_last_of(L'.');
  const bool hasExtension = dot != std::wstring_view::npos && (slash == std::wstring_view::npos || dot > slash);
  const std::size_t at = hasExtension ? dot : path.size();
  return std::wstring(path.substr(0, at)) + L".old" + std::wstring(path.substr(at));
}

std::vector<std::wstring> LogRepeats::LinesFor(std::wstring_view message) {
  if (any_ && message == last_) {
    ++repeats_;
    return {};
  }
  std::vector<std::wstring> lines;
  if (repeats_ > 0) {
    lines.push_back(L"Last message repeated " + std::to_wstring(repeats_) + (repeats_ == 1 ? L" more time." : L" more times."));
  }
  lines.emplace_back(message);
  last_ = message;
  any_ = true;
  repeats_ = 0;
  return lines;
}

void LogRepeats::Reset() {
  last_.clear();
  any_ = false;
  repeats_ = 0;
}

}  // namespace vistrel
