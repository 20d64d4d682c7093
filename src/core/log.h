// The program's single diagnostic channel: one line per event in log.txt beside config.ini.
#pragma once

#include <string>

namespace vistrel {

// Decides the log file once: beside `configPath`, or in the temporary folder without one. Until
// it has run, LogMessage writes nothing.
void InitLogging(const std::wstring& configPath);

// Directs the log to the given file (empty: logging off). InitLogging calls it with the path beside
// config.ini; tests call it with a file of their own.
void UseLogFile(const std::wstring& path);

// Appends "[timestamp] message" to the log. Safe from any thread; failures are silent.
void LogMessage(const std::wstring& message);

// Logs "ERROR: " + message, then shows it in a modal "Vistrel Error" box.
void ShowError(const std::wstring& message);

// The file InitLogging chose (empty before). For tests and diagnostics.
std::wstring LogFilePath();

}  // namespace vistrel
