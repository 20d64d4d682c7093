// Output file names.
#include <gtest/gtest.h>

#include "capture/capture_naming.h"
#include "core/file_names.h"

namespace vistrel {
namespace {

TEST(FileTimestamp, ZeroPaddedLocalTime) {
  EXPECT_EQ(FormatFileTimestamp({2026, 3, 5, 9, 5, 3}), L"2026-03-05_09-05-03");
  EXPECT_EQ(FormatFileTimestamp({2026, 12, 31, 23, 59, 59}), L"2026-12-31_23-59-59");
}

TEST(CaptureFileName, PrefixByCaptureType) {
  const std::wstring stamp = L"2026-03-05_09-05-03";
  EXPECT_EQ(CaptureFileName(1, L"ignored", stamp), L"FullScreen_2026-03-05_09-05-03.png");
  EXPECT_EQ(CaptureFileName(40001, L"", stamp), L"FullScreen_2026-03-05_09-05-03.png");
  EXPECT_EQ(CaptureFileName(3, L"Notes", stamp), L"Notes_2026-03-05_09-05-03.png");
  EXPECT_EQ(CaptureFileName(40003, L"", stamp), L"_2026-03-05_09-05-03.png");
  for (std::uint32_t type : {2u, 4u, 5u, 40002u, 77u}) {
    EXPECT_EQ(CaptureFileName(type, L"Notes", stamp), L"Capture_2026-03-05_09-05-03.png") << type;
  }
}

TEST(CaptureFileName, ForbiddenCharactersOfTheTitleBecomeUnderscores) {
  EXPECT_EQ(CaptureFileName(3, L"a/b:c", L"2026-03-05_09-05-03"), L"a_b_c_2026-03-05_09-05-03.png");
  EXPECT_EQ(SanitizeFileName(L"\\/:*?\"<>|ok"), L"_________ok");
  EXPECT_EQ(SanitizeFileName(L"\u0412\u0438\u0434\u0435\u043e - 100%"), L"\u0412\u0438\u0434\u0435\u043e - 100%");
}

TEST(NumberedPath, CounterGoesBeforeTheExtension) {
  EXPECT_EQ(NumberedPath(L"C:\\a\\shot.png", 1), L"C:\\a\\shot.png");
  EXPECT_EQ(NumberedPath(L"C:\\a\\shot.png", 2), L"C:\\a\\shot_2.png");
  EXPECT_EQ(NumberedPath(L"C:\\a\\shot.png", 13), L"C:\\a\\shot_13.png");
  EXPECT_EQ(NumberedPath(L"C:\\a.b\\noext", 2), L"C:\\a.b\\noext_2") << "a dot in a folder is no extension";
  EXPECT_EQ(NumberedPath(L"C:\\a\\x.tar.gz", 3), L"C:\\a\\x.tar_3.gz");
}

}  // namespace
}  // namespace vistrel
