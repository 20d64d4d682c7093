// How a log line looks and where the log lives. Windows-free so it is tested natively.
#pragma once

#include <string>
#include <string_view>

namespace vistrel {

struct LocalTime {
  int year = 0;
  int month = 0;
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
};

// "[YYYY-MM-DD hh:mm:ss] " + message + CR LF, as UTF-8. Line breaks inside the message are kept
// (written as CR LF, the way a text-mode stream writes them).
std::string FormatLogLine(const LocalTime& time, std::wstring_view message);

// The log lies beside config.ini; without a settings path it goes to the temporary folder as
// "Vistrel_log.txt".
std::wstring LogPathFor(std::wstring_view configPath, std::wstring_view tempFolder);

}  // namespace vistrel
