// The program's single diagnostic channel: one line per event in log.txt beside config.ini.
#pragma once

#include <cstdint>
#include <string>

#include "core/log_format.h"

namespace vistrel {

// Decides the log file once: beside `configPath`, or in the temporary folder without one. Until
// it has run, LogMessage writes nothing.
void InitLogging(const std::wstring& configPath);

// Directs the log to the given file (empty: logging off), which grows to at most `limit` bytes
// before it is kept as the old log and started afresh. InitLogging calls it with the path beside
// config.ini; tests call it with a file of their own.
void UseLogFile(const std::wstring& path, std::uint64_t limit = kLogFileLimit);

// Appends "[timestamp] message" to the log; a message that repeats the one before it is counted
// instead (see LogRepeats). Safe from any thread; failures are silent.
void LogMessage(const std::wstring& message);

// Logs "ERROR: " + message, then shows it in a modal "Vistrel Error" box.
void ShowError(const std::wstring& message);

// The file InitLogging chose (empty before). For tests and diagnostics.
std::wstring LogFilePath();

}  // namespace vistrel
