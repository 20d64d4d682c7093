// The log file as the program writes it.
#include <windows.h>

#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "core/log.h"
#include "temp_folder.h"

namespace vistrel {
namespace {

using testing::ReadBytes;
using testing::TempFolder;

class LogFile : public ::testing::Test {
 protected:
  void SetUp() override { UseLogFile(folder_ / L"log.txt"); }
  void TearDown() override { UseLogFile(L""); }
  std::string Text() const { return ReadBytes(folder_ / L"log.txt"); }

  TempFolder folder_;
};

TEST_F(LogFile, LinesAreAppendedAsUtf8WithATimestampAndCrLf) {
  LogMessage(L"one");
  UseLogFile(folder_ / L"log.txt");  // choosing the same file again appends to it
  LogMessage(L"\u0412\u0438\u0434\u0435\u043e \u65e5\u672c");
  const std::regex lines("\\[\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}\\] one\r\n"
                         "\\[[-0-9: ]{19}\\] \xD0\x92\xD0\xB8\xD0\xB4\xD0\xB5\xD0\xBE \xE6\x97\xA5\xE6\x9C\xAC\r\n");
  EXPECT_TRUE(std::regex_match(Text(), lines)) << Text();  // no byte-order mark either
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
  const std::string text = Text();
  const std::regex whole(R"(\[[^\]]+\] thread \d line \d+ end)");
  size_t count = 0;
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find("\r\n", start);
    ASSERT_NE(end, std::string::npos);
    const std::string lineText = text.substr(start, end - start);
    EXPECT_TRUE(std::regex_match(lineText, whole)) << lineText;
    ++count;
    start = end + 2;
  }
  EXPECT_EQ(count, static_cast<size_t>(kThreads * kLines));
}

TEST_F(LogFile, ReadersDoNotBlockWriting) {
  LogMessage(L"before");
  HANDLE reader = CreateFileW((folder_ / L"log.txt").c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  LogMessage(L"while open");
  CloseHandle(reader);
  EXPECT_NE(Text().find("] while open\r\n"), std::string::npos);
}

TEST(LogOff, NothingIsWrittenBeforeALogFileIsChosen) {
  TempFolder folder;
  UseLogFile(L"");
  LogMessage(L"lost");
  EXPECT_TRUE(LogFilePath().empty());
  UseLogFile(folder / L"missing-folder\\log.txt");
  LogMessage(L"cannot open");  // silent, no crash
  EXPECT_EQ(GetFileAttributesW((folder / L"missing-folder").c_str()), INVALID_FILE_ATTRIBUTES);
  UseLogFile(L"");
}

}  // namespace
}  // namespace vistrel
