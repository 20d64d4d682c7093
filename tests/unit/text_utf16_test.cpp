// UTF-16 specifics of the text helpers, which only a 16-bit wchar_t exercises.
#include <gtest/gtest.h>

#include "core/text.h"

namespace vistrel {
namespace {

TEST(Utf16Text, CutNeverSplitsASurrogatePair) {
  const std::wstring text = L"ab\U0001F600cd";  // a, b, high, low, c, d
  ASSERT_EQ(text.size(), 6u);
  EXPECT_EQ(CutText(text, 3), L"ab");
  EXPECT_EQ(CutText(text, 4), L"ab\U0001F600");
}

TEST(Utf16Text, PairsAndLoneSurrogatesConvert) {
  EXPECT_EQ(WideToUtf8(L"\U0001F600"), "\xF0\x9F\x98\x80");
  EXPECT_EQ(Utf8ToWide("\xF0\x9F\x98\x80"), std::wstring(L"\xD83D\xDE00"));
  EXPECT_EQ(WideToUtf8(std::wstring(1, static_cast<wchar_t>(0xD83D))), "\xEF\xBF\xBD");
  EXPECT_EQ(WideToUtf8(std::wstring(L"\xDE00x")), "\xEF\xBF\xBDx");
}

}  // namespace
}  // namespace vistrel
