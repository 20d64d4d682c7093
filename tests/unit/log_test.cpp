// The log file as the program writes it, the sounds whose failures it records, and balloon texts.
#include <windows.h>

#include <regex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "core/balloon.h"
#include "core/log.h"
#include "core/sound.h"
#include "test_support.h"

namespace vistrel {
namespace {

using LogFile = testing::LoggedTest;

// The line's own format is checked natively; here, what reaches the file.
TEST_F(LogFile, ChoosingTheSameFileAgainAppendsUtf8LinesWithoutAByteOrderMark) {
  LogMessage(L"one");
  UseLogFile(folder_ / L"log.txt");
  LogMessage(L"\u0412\u0438\u0434\u0435\u043e \u65e5\u672c");
  const std::string log = Log();
  const std::string second = "] \xD0\x92\xD0\xB8\xD0\xB4\xD0\xB5\xD0\xBE \xE6\x97\xA5\xE6\x9C\xAC\r\n";
  ASSERT_GT(log.size(), second.size());
  EXPECT_EQ(log[0], '[') << log;
  EXPECT_NE(log.find("] one\r\n["), std::string::npos) << log;
  EXPECT_EQ(log.substr(log.size() - second.size()), second) << log;
}

TEST_F(LogFile, LinesFromManyThreadsStayWhole) {
  constexpr int kThreads = 8;
  constexpr int kLines = 50;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < kLines; ++i) {
        LogMessage(L"thread " + std::to_wstring(t) + L" line " + std::to_wstring(i) + L" end");
      }
    });
  }
  for (auto& thread : threads) thread.join();
  // Whole lines, as many as were logged, and nothing between them.
  const std::string text = Log();
  const std::regex whole(R"(\[[^\]\r\n]+\] thread \d line \d+ end\r\n)");
  std::size_t count = 0, covered = 0;
  for (std::sregex_iterator it(text.begin(), text.end(), whole), end; it != end; ++it, ++count) covered += it->length();
  EXPECT_EQ(std::pair(count, covered), std::pair(std::size_t{kThreads * kLines}, text.size()));
}

TEST_F(LogFile, ReadersDoNotBlockWriting) {
  LogMessage(L"before");
  HANDLE reader = CreateFileW((folder_ / L"log.txt").c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  LogMessage(L"while open");
  CloseHandle(reader);
  EXPECT_NE(Log().find("] while open\r\n"), std::string::npos);
}

TEST(LogOff, NothingIsWrittenBeforeALogFileIsChosen) {
  testing::TempFolder folder;
  UseLogFile(L"");
  LogMessage(L"lost");
  EXPECT_TRUE(LogFilePath().empty());
  UseLogFile(folder / L"missing-folder\\log.txt");
  LogMessage(L"cannot open");  // silent, no crash
  EXPECT_EQ(GetFileAttributesW((folder / L"missing-folder").c_str()), INVALID_FILE_ATTRIBUTES);
  UseLogFile(L"");
}

TEST_F(LogFile, SilenceAndShippedSoundsPlayQuietlyAndMissingOrFakeFilesAreLoggedFailures) {
  for (const wchar_t* silent : {L"None", L"NONE", L"", L"mouse_click.wav", L"rec_resume.wav"}) PlaySoundSync(silent);
  PlaySoundAsync(L"none");
  EXPECT_EQ(Log(), "") << "silence is not an error, and the shipped sounds play";

  // Not a wave file: a failure, never the system's default sound.
  testing::WriteBytes(folder_ / L"fake.wav", "this is not RIFF data");
  PlaySoundSync(L"no_such_sound.wav");
  PlaySoundAsync(folder_ / L"absent.wav");
  PlaySoundSync(folder_ / L"fake.wav");
  const std::string log = Log();
  for (const std::string& line : {"sync): " + WideToUtf8(ProgramFolder()) + "\\sounds\\no_such_sound.wav",
                                 "async): " + WideToUtf8(folder_ / L"absent.wav"),
                                 "sync): " + WideToUtf8(folder_ / L"fake.wav")}) {
    EXPECT_NE(log.find("] Failed to play sound (" + line + "\r\n"), std::string::npos) << line << "\n" << log;
  }
}

TEST(Balloon, TitleAndTextAreCutToTheirFieldsWithoutSplittingAPair) {
  const NOTIFYICONDATAW data = MakeBalloonData(nullptr, std::wstring(300, L'T'), std::wstring(300, L'x'));
  EXPECT_EQ(std::wstring(data.szInfoTitle), std::wstring(63, L'T'));
  EXPECT_EQ(std::wstring(data.szInfo), std::wstring(255, L'x'));
  EXPECT_EQ(data.uFlags, static_cast<UINT>(NIF_INFO));
  EXPECT_EQ(data.dwInfoFlags, static_cast<DWORD>(NIIF_INFO));
  EXPECT_EQ(data.uID, 1u);
  const NOTIFYICONDATAW kept = MakeBalloonData(nullptr, L"Capture Successful", L"C:\\a.png");
  EXPECT_STREQ(kept.szInfoTitle, L"Capture Successful");
  EXPECT_STREQ(kept.szInfo, L"C:\\a.png");
  const NOTIFYICONDATAW cut = MakeBalloonData(nullptr, std::wstring(62, L'a') + L"\U0001F600", L"");  // pair at 62..63
  EXPECT_EQ(std::wstring(cut.szInfoTitle), std::wstring(62, L'a'));
}

}  // namespace
}  // namespace vistrel
