#include "core/text.h"

#include <gtest/gtest.h>

namespace vistrel {
namespace {

TEST(Utf8, RoundTripsEveryPlane) {
  const std::wstring text = L"a\u00e9\u0416\u65e5\U0001F600z";
  const std::string utf8 = WideToUtf8(text);
  EXPECT_EQ(utf8, "a\xC3\xA9\xD0\x96\xE6\x97\xA5\xF0\x9F\x98\x80z");
  EXPECT_EQ(Utf8ToWide(utf8), text);
}

TEST(Utf8, MalformedInputBecomesReplacementCharacters) {
  // A lone continuation byte, an overlong '/', an encoded surrogate, a code point past U+10FFFF,
  // and a sequence cut off at the end of the input.
  EXPECT_EQ(Utf8ToWide("\x80"), L"\uFFFD");
  EXPECT_EQ(Utf8ToWide("\xC0\xAF"), L"\uFFFD");
  EXPECT_EQ(Utf8ToWide("\xED\xA0\x80"), L"\uFFFD");
  EXPECT_EQ(Utf8ToWide("\xF4\x90\x80\x80"), L"\uFFFD");
  EXPECT_EQ(Utf8ToWide("ab\xE6\x97"), L"ab\uFFFD");
  // A broken sequence does not swallow the valid character that follows it.
  EXPECT_EQ(Utf8ToWide("\xE6x"), L"\uFFFDx");
}

TEST(Utf8, EmbeddedNulsAreKept) {
  const std::string utf8("a\0b", 3);
  EXPECT_EQ(Utf8ToWide(utf8), std::wstring(L"a\0b", 3));
  EXPECT_EQ(WideToUtf8(std::wstring(L"a\0b", 3)), utf8);
}

TEST(CutText, KeepsShortTextAndCutsLongText) {
  EXPECT_EQ(CutText(L"abc", 5), L"abc");
  EXPECT_EQ(CutText(L"abcdef", 3), L"abc");
  EXPECT_EQ(CutText(std::wstring(300, L'x'), kMaxPathChars).size(), 259u);
  EXPECT_EQ(CutText(L"", 0), L"");
}

}  // namespace
}  // namespace vistrel
