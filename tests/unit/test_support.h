// What several unit tests share: a fresh folder under %TEMP% for one test, removed with everything
// in it afterwards; reading and writing its files; a test whose log goes to a file of its own; and
// this thread's messages and windows; a quiet host for recording sessions.
#pragma once

#include <windows.h>

#include <filesystem>
#include <string>
#include <system_error>

#include <gtest/gtest.h>

#include "core/log.h"
#include "recording/recording_session.h"

namespace vistrel::testing {

class TempFolder {
 public:
  TempFolder() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::filesystem::path path = std::filesystem::temp_directory_path() /
                                       ("vistrel-test-" + std::to_string(GetCurrentProcessId()) + "-" +
                                        std::to_string(GetTickCount64()) + "-" + (info ? info->name() : "x"));
    std::filesystem::create_directories(path);
    path_ = path.wstring();
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }

  const std::wstring& path() const { return path_; }
  std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

 private:
  std::wstring path_;
};

inline std::string ReadBytes(const std::wstring& path) {
  std::string bytes;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return bytes;
  char buffer[4096];
  DWORD read = 0;
  while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0) bytes.append(buffer, read);
  CloseHandle(file);
  return bytes;
}

inline void WriteBytes(const std::wstring& path, const std::string& bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
}

// The text of a UTF-16LE file with a byte-order mark, or an empty string.
inline std::wstring ReadUtf16File(const std::wstring& path) {
  const std::string bytes = ReadBytes(path);
  if (bytes.rfind("\xFF\xFE", 0) != 0) return {};
  std::wstring text((bytes.size() - 2) / 2, L'\0');
  memcpy(text.data(), bytes.data() + 2, text.size() * 2);
  return text;
}

// A test whose log is log.txt in its own folder.
class LoggedTest : public ::testing::Test {
 protected:
  void SetUp() override { UseLogFile(folder_ / L"log.txt"); }
  void TearDown() override { UseLogFile(L""); }
  std::string Log() const { return ReadBytes(folder_ / L"log.txt"); }
  // How often `text` occurs in the log.
  int LogCount(const std::string& text) const {
    const std::string log = Log();
    int count = 0;
    for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++count;
    return count;
  }

  TempFolder folder_;
};

// A recording session's surroundings with no countdown and no sounds; files go when asked.
class QuietHost : public SessionHost {
 public:
  CountdownOutcome RunCountdown() override { return CountdownOutcome::kNotShown; }
  void CancelCountdown() override {}
  void PlaySoundSync(const std::wstring&) override {}
  void RemoveFile(const std::wstring& path) override { DeleteFileW(path.c_str()); }
};

// Handles this thread's pending messages.
inline void PumpPending() {
  MSG msg{};
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

// Waits up to `timeoutMs` for `condition`, handling this thread's messages meanwhile (its own
// windows, and a recorder asking the window it records for its title, need them answered).
template <typename Condition>
bool PumpUntil(Condition condition, ULONGLONG timeoutMs = 20000) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  while (!condition() && GetTickCount64() < deadline) {
    PumpPending();
    Sleep(10);
  }
  return condition();
}

// How many top-level windows of the class `name` there are.
inline int WindowCount(const wchar_t* name) {
  int count = 0;
  for (HWND w = nullptr; (w = FindWindowExW(nullptr, w, name, nullptr)) != nullptr;) ++count;
  return count;
}

}  // namespace vistrel::testing
