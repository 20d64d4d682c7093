#include "core/log.h"

#include <windows.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "core/handles.h"
#include "core/log_format.h"

namespace vistrel {
namespace {

// Set at start-up (tests set their own); guarded by g_writeLock.
std::wstring g_logPath;
std::uint64_t g_limit = kLogFileLimit;

// Appends from several threads must not overwrite one another. Windows makes FILE_APPEND_DATA
// writes atomic, but not every implementation of the API does (Wine loses lines under contention),
// so lines of this process are serialised here; the lock also guards the repeat count.
std::mutex g_writeLock;
LogRepeats g_repeats;

std::wstring TempFolder() {
  wchar_t buffer[MAX_PATH + 1] = {};
  const DWORD length = GetTempPathW(MAX_PATH + 1, buffer);
  if (length == 0 || length > MAX_PATH) return {};
  return std::wstring(buffer, length);
}

UniqueFile OpenForAppending(const std::wstring& path) {
  return UniqueFile(CreateFileW(path.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
}

// Appends `bytes`, first moving a file that they would take past the limit aside as the old log.
// Every write is its own open-append-close with shared access, so other programs may read or write
// the file at any time.
void Append(const std::string& bytes) {
  UniqueFile file = OpenForAppending(g_logPath);
  if (!file) return;
  LARGE_INTEGER size{};
  if (GetFileSizeEx(file.get(), &size) && size.QuadPart > 0 &&
      static_cast<std::uint64_t>(size.QuadPart) + bytes.size() > g_limit) {
    file.reset();
    if (MoveFileExW(g_logPath.c_str(), OldLogPath(g_logPath).c_str(), MOVEFILE_REPLACE_EXISTING)) {
      file = OpenForAppending(g_logPath);
    } else {
      // Held open by a program that does not share deletion: start the file afresh in place.
      file.reset(CreateFileW(g_logPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    }
    if (!file) return;
  }
  DWORD written = 0;
  WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

}  // namespace

void UseLogFile(const std::wstring& path, std::uint64_t limit) {
  std::lock_guard lock(g_writeLock);
  g_logPath = path;
  g_limit = limit;
  g_repeats.Reset();
}

void InitLogging(const std::wstring& configPath) { UseLogFile(LogPathFor(configPath, TempFolder())); }

std::wstring LogFilePath() {
  std::lock_guard lock(g_writeLock);
  return g_logPath;
}

void LogMessage(const std::wstring& message) {
  std::lock_guard lock(g_writeLock);
  if (g_logPath.empty()) return;
  const std::vector<std::wstring> lines = g_repeats.LinesFor(message);
  if (lines.empty()) return;
  SYSTEMTIME now{};
  GetLocalTime(&now);
  const LocalTime time{now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
  std::string bytes;
  for (const std::wstring& line : lines) bytes += FormatLogLine(time, line);
  Append(bytes);
}

void ShowError(const std::wstring& message) {
  LogMessage(L"ERROR: " + message);
  MessageBoxW(nullptr, message.c_str(), L"Vistrel Error", MB_OK | MB_ICONERROR);
}

}  // namespace vistrel
