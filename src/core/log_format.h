// How a log line looks, where the log lives, how large it may grow and how repeated lines are
// counted. Windows-free so it is tested natively.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

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

// The most a log file grows to. A line that would take it past this starts a new file; the full one
// is kept as OldLogPath (replacing the one kept before), so the log never takes more than twice this.
inline constexpr std::uint64_t kLogFileLimit = 5 * 1024 * 1024;

// "...\log.txt" -> "...\log.old.txt": the extension (if any) stays last.
std::wstring OldLogPath(std::wstring_view path);

// A message that repeats the one before it is counted instead of written; the count becomes a line
// of its own ("Last message repeated N more times.") when a different message comes.
class LogRepeats {
 public:
  // The lines to write for `message`: none when it repeats the last one; otherwise the count of the
  // repeats before it, if any, and the message.
  std::vector<std::wstring> LinesFor(std::wstring_view message);
  // Forgets the last message (a new log file starts without it).
  void Reset();

 private:
  std::wstring last_;
  bool any_ = false;
  std::uint64_t repeats_ = 0;
};

}  // namespace vistrel
