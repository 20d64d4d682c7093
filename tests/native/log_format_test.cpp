#include "core/log_format.h"

#include <gtest/gtest.h>

namespace vistrel {
namespace {

TEST(LogLine, TimestampIsZeroPaddedAndLineEndsInCrLf) {
  EXPECT_EQ(FormatLogLine({2026, 1, 2, 3, 4, 5}, L"Application starting up."),
            "[2026-01-02 03:04:05] Application starting up.\r\n");
  EXPECT_EQ(FormatLogLine({999, 12, 31, 23, 59, 59}, L""), "[0999-12-31 23:59:59] \r\n");
}

TEST(LogLine, LineBreaksInsideTheMessageAreKeptAsCrLf) {
  EXPECT_EQ(FormatLogLine({2026, 1, 1, 0, 0, 0}, L"a\nb\r\nc"), "[2026-01-01 00:00:00] a\r\nb\r\nc\r\n");
}

TEST(LogLine, TextBeyondLatin1IsUtf8) {
  EXPECT_EQ(FormatLogLine({2026, 1, 1, 0, 0, 0}, L"\u0412 \u00e9"),
            "[2026-01-01 00:00:00] \xD0\x92 \xC3\xA9\r\n");
}

TEST(LogPath, BesideTheSettingsFile) {
  EXPECT_EQ(LogPathFor(L"C:\\Users\\a\\AppData\\Roaming\\Orvanta\\vistrel\\config.ini", L"C:\\Temp\\"),
            L"C:\\Users\\a\\AppData\\Roaming\\Orvanta\\vistrel\\log.txt");
}

TEST(LogPath, TemporaryFolderWithoutSettingsPath) {
  EXPECT_EQ(LogPathFor(L"", L"C:\\Users\\a\\Temp\\"), L"C:\\Users\\a\\Temp\\Vistrel_log.txt");
  EXPECT_EQ(LogPathFor(L"", L"C:\\Temp"), L"C:\\Temp\\Vistrel_log.txt");
}

TEST(LogPath, OverlongSettingsPathIsCutLikeAPathBuffer) {
  const std::wstring longFolder = L"C:\\" + std::wstring(300, L'f');
  const std::wstring path = LogPathFor(longFolder + L"\\config.ini", L"C:\\Temp\\");
  // The settings path is taken as at most 259 characters; its folder part then ends before that.
  EXPECT_LE(path.size(), 259u + 8u);
  EXPECT_EQ(path.substr(path.size() - 8), L"\\log.txt");
}

}  // namespace
}  // namespace vistrel
