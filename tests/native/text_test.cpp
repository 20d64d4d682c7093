// Text conversions and the text the program writes: log lines, the log's path and output file names.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "capture/capture_naming.h"
#include "core/file_names.h"
#include "core/log_format.h"
#include "core/text.h"

namespace vistrel {
namespace {

TEST(Utf8, RoundTripsEveryPlaneKeepsNulsAndReplacesWhatIsMalformed) {
  const std::pair<std::wstring, std::string> texts[] = {
      {L"a\u00e9\u0416\u65e5\U0001F600z", "a\xC3\xA9\xD0\x96\xE6\x97\xA5\xF0\x9F\x98\x80z"},
      {std::wstring(L"a\0b", 3), std::string("a\0b", 3)}};
  for (const auto& [wide, utf8] : texts) {
    EXPECT_EQ(WideToUtf8(wide), utf8);
    EXPECT_EQ(Utf8ToWide(utf8), wide);
  }
  // A lone continuation byte, an overlong '/', an encoded surrogate, a code point past U+10FFFF,
  // and a sequence cut off at the end of the input.
  EXPECT_EQ(Utf8ToWide("\x80"), L"\uFFFD");
  EXPECT_EQ(Utf8ToWide("\xC0\xAF"), L"\uFFFD");
  EXPECT_EQ(Utf8ToWide("\xED\xA0\x80"), L"\uFFFD");
  EXPECT_EQ(Utf8ToWide("\xF4\x90\x80\x80"), L"\uFFFD");
  EXPECT_EQ(Utf8ToWide("ab\xE6\x97"), L"ab\uFFFD");
  // A broken sequence does not swallow the valid character that follows it.
  EXPECT_EQ(Utf8ToWide("\xE6x"), L"\uFFFDx");
  // Unpaired surrogates in wide text.
  EXPECT_EQ(WideToUtf8(std::wstring{L'a', wchar_t(0xD800), L'b', wchar_t(0xDC00)}), "a\xEF\xBF\xBD" "b\xEF\xBF\xBD");
}

TEST(CutText, KeepsShortTextAndCutsLongText) {
  EXPECT_EQ(CutText(L"abc", 5), L"abc");
  EXPECT_EQ(CutText(L"abcdef", 3), L"abc");
  EXPECT_EQ(CutText(std::wstring(300, L'x'), kMaxPathChars).size(), 259u);
  EXPECT_EQ(CutText(L"", 0), L"");
}

TEST(Log, LinesHaveAZeroPaddedTimestampUtf8TextAndCrLfAndTheFileLiesBesideTheSettings) {
  EXPECT_EQ(FormatLogLine({2026, 1, 2, 3, 4, 5}, L"Application starting up."),
            "[2026-01-02 03:04:05] Application starting up.\r\n");
  EXPECT_EQ(FormatLogLine({999, 12, 31, 23, 59, 59}, L""), "[0999-12-31 23:59:59] \r\n");
  EXPECT_EQ(FormatLogLine({2026, 1, 1, 0, 0, 0}, L"a\nb\r\nc"), "[2026-01-01 00:00:00] a\r\nb\r\nc\r\n");
  EXPECT_EQ(FormatLogLine({2026, 1, 1, 0, 0, 0}, L"\u0412 \u00e9"), "[2026-01-01 00:00:00] \xD0\x92 \xC3\xA9\r\n");
  // The log lies beside the settings file, or else in the temporary folder.
  EXPECT_EQ(LogPathFor(L"C:\\Users\\a\\AppData\\Roaming\\Orvanta\\vistrel\\config.ini", L"C:\\Temp\\"),
            L"C:\\Users\\a\\AppData\\Roaming\\Orvanta\\vistrel\\log.txt");
  EXPECT_EQ(LogPathFor(L"", L"C:\\Users\\a\\Temp\\"), L"C:\\Users\\a\\Temp\\Vistrel_log.txt");
  EXPECT_EQ(LogPathFor(L"", L"C:\\Temp"), L"C:\\Temp\\Vistrel_log.txt");
  // An overlong settings path is taken as at most 259 characters, as a path buffer holds it; its
  // folder part then ends before that.
  const std::wstring path = LogPathFor(L"C:\\" + std::wstring(300, L'f') + L"\\config.ini", L"C:\\Temp\\");
  EXPECT_LE(path.size(), 259u + 8u);
  EXPECT_EQ(path.substr(path.size() - 8), L"\\log.txt");
}

TEST(FileNames, TimestampPrefixByCaptureTypeForbiddenCharactersAndCounter) {
  EXPECT_EQ(FormatFileTimestamp({2026, 3, 5, 9, 5, 3}), L"2026-03-05_09-05-03");
  EXPECT_EQ(FormatFileTimestamp({2026, 12, 31, 23, 59, 59}), L"2026-12-31_23-59-59");
  const std::wstring stamp = L"2026-03-05_09-05-03";
  EXPECT_EQ(CaptureFileName(1, L"ignored", stamp), L"FullScreen_2026-03-05_09-05-03.png");
  EXPECT_EQ(CaptureFileName(40001, L"", stamp), L"FullScreen_2026-03-05_09-05-03.png");
  EXPECT_EQ(CaptureFileName(3, L"Notes", stamp), L"Notes_2026-03-05_09-05-03.png");
  EXPECT_EQ(CaptureFileName(40003, L"", stamp), L"_2026-03-05_09-05-03.png");
  for (std::uint32_t type : {2u, 4u, 5u, 40002u, 77u}) {
    EXPECT_EQ(CaptureFileName(type, L"Notes", stamp), L"Capture_2026-03-05_09-05-03.png") << type;
  }
  EXPECT_EQ(CaptureFileName(3, L"a/b:c", stamp), L"a_b_c_2026-03-05_09-05-03.png");
  EXPECT_EQ(CaptureFileName(3, L"a\tb\nc\x7f", stamp), L"a_b_c__2026-03-05_09-05-03.png");
  EXPECT_EQ(SanitizeFileName(L"\\/:*?\"<>|ok"), L"_________ok");
  EXPECT_EQ(SanitizeFileName(L"\u0412\u0438\u0434\u0435\u043e - 100%"), L"\u0412\u0438\u0434\u0435\u043e - 100%");
  // A counter for a name already taken goes before the extension.
  EXPECT_EQ(NumberedPath(L"C:\\a\\shot.png", 1), L"C:\\a\\shot.png");
  EXPECT_EQ(NumberedPath(L"C:\\a\\shot.png", 2), L"C:\\a\\shot_2.png");
  EXPECT_EQ(NumberedPath(L"C:\\a\\shot.png", 13), L"C:\\a\\shot_13.png");
  EXPECT_EQ(NumberedPath(L"C:\\a.b\\noext", 2), L"C:\\a.b\\noext_2") << "a dot in a folder is no extension";
  EXPECT_EQ(NumberedPath(L"C:\\a\\x.tar.gz", 3), L"C:\\a\\x.tar_3.gz");
}

TEST(FileNames, LongTitlesAreCutToLeaveRoomForACounterAndNeverSplitAPair) {
  const std::wstring stamp = L"2026-03-05_09-05-03";
  const std::wstring folder = L"C:\\Users\\someone with a long name\\Pictures\\Vistrel";
  const std::wstring name = CaptureFileName(3, std::wstring(240, L'x'), stamp, folder);
  // Room left for "_NN" of a name taken already and ".part".
  EXPECT_LE(folder.size() + 1 + name.size() + 11, kMaxPathChars);
  EXPECT_EQ(name.substr(name.size() - stamp.size() - 5), L"_" + stamp + L".png");
  std::wstring emoji;
  for (int i = 0; i < 150; ++i) emoji += L"\U0001F600";
  const std::wstring cut = FitFileNameBase(folder, emoji, L"_" + stamp + L".mp4");
  EXPECT_EQ(Utf8ToWide(WideToUtf8(cut)), cut) << "no lone surrogate at the cut";
  EXPECT_TRUE(FitFileNameBase(std::wstring(300, L'f'), L"title", L".png").empty()) << "no room at all";
}

}  // namespace
}  // namespace vistrel
