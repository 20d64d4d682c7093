#include "core/log.h"

#include <windows.h>

#include <mutex>
#include <string>

#include "core/handles.h"
#include "core/log_format.h"

namespace vistrel {
namespace {

// Set once at start-up on the UI thread before any other thread exists; read-only after.
std::wstring g_logPath;

// Appends from several threads must not overwrite one another. Windows makes FILE_APPEND_DATA
// writes atomic, but not every implementation of the API does (Wine loses lines under contention),
// so lines of this process are serialised here. Nothing logs per frame, so the lock is cheap.
std::mutex g_writeLock;

std::wstring TempFolder() {
  wchar_t buffer[MAX_PATH + 1] = {};
  const DWORD length = GetTempPathW(MAX_PATH + 1, buffer);
  if (length == 0 || length > MAX_PATH) return {};
  return std::wstring(buffer, length);
}

}  // namespace

void UseLogFile(const std::wstring& path) { g_logPath = path; }

void InitLogging(const std::wstring& configPath) { UseLogFile(LogPathFor(configPath, TempFolder())); }

std::wstring LogFilePath() { return g_logPath; }

void LogMessage(const std::wstring& message) {
  if (g_logPath.empty()) return;
  SYSTEMTIME now{};
  GetLocalTime(&now);
  const LocalTime time{now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
  const std::string line = FormatLogLine(time, message);
  // Every line is its own open-append-close with shared access, so other programs may read or
  // write the file at any time.
  std::lock_guard lock(g_writeLock);
  UniqueFile file(CreateFileW(g_logPath.c_str(), FILE_APPEND_DATA,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return;
  DWORD written = 0;
  WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

void ShowError(const std::wstring& message) {
  LogMessage(L"ERROR: " + message);
  MessageBoxW(nullptr, message.c_str(), L"Vistrel Error", MB_OK | MB_ICONERROR);
}

}  // namespace vistrel
