// Type-checked printf-style formatting of translated texts.
#include "i18n/text_format.h"

#include <array>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <span>
#include <utility>

#include <gtest/gtest.h>

#include "core/text.h"

namespace vistrel {
namespace {

template <typename... Args>
std::optional<std::wstring> Try(std::wstring_view format, const Args&... args) {
  const std::array<FormatArg, sizeof...(Args)> list{FormatArg(args)...};
  return TryFormatText(format, list);
}

TEST(TextFormat, StringsCharactersAndPercentSigns) {
  const std::wstring owned = L"owned";
  EXPECT_EQ(Try(L"[%s|%ls|%s]", owned, std::wstring_view(L"view"), L"literal"), L"[owned|view|literal]");
  const wchar_t* none = nullptr;
  EXPECT_EQ(Try(L"%s", none), L"(null)");
  EXPECT_EQ(Try(L"[%6s|%-6s|%.2s|%6.2s]", L"abc", L"abc", L"abc", L"abc"), L"[   abc|abc   |ab|    ab]");
  EXPECT_EQ(Try(L"%s", L"\u65e5\u672c\U0001F600"), L"\u65e5\u672c\U0001F600");
  EXPECT_EQ(Try(L"%c%lc", L'\u00e9', L'x'), L"\u00e9x");
  EXPECT_EQ(Try(L"100%%"), L"100%");
  EXPECT_EQ(Try(L"%%s %%%d%%", 5), L"%s %5%");
  EXPECT_EQ(Try(L"no conversions"), L"no conversions");
  EXPECT_EQ(Try(L""), L"");
}

TEST(TextFormat, IntegerTypesAndLengthModifiers) {
  EXPECT_EQ(Try(L"%d %i %u", -7, 8L, 9u), L"-7 8 9");
  EXPECT_EQ(Try(L"%lld %llu", LLONG_MIN, ULLONG_MAX), L"-9223372036854775808 18446744073709551615");
  EXPECT_EQ(Try(L"%zu %ld %lu %hd %I64d", std::size_t{42}, -1L, 2UL, short{3}, std::int64_t{4}), L"42 -1 2 3 4");
  EXPECT_EQ(Try(L"%d", static_cast<unsigned char>(200)), L"200");
  EXPECT_EQ(Try(L"%u", ULLONG_MAX), L"18446744073709551615");
  EXPECT_EQ(Try(L"%d", ULLONG_MAX), L"18446744073709551615");  // the value, not a wrapped one
}

// `value` formatted as the C library prints it with `cFormat`.
template <typename T>
void ExpectAsTheCLibrary(const std::string& format, const std::string& cFormat, T value) {
  char expected[1024];
  const int length = std::snprintf(expected, sizeof expected, cFormat.c_str(), value);
  ASSERT_TRUE(length >= 0 && length < static_cast<int>(sizeof expected)) << cFormat;
  EXPECT_EQ(WideToUtf8(Try(Utf8ToWide(format), value).value_or(L"<failed>")), std::string(expected, length))
      << format << " " << value;
}

// Numbers agree with the C library for every flag, width and precision used here.
TEST(TextFormat, NumbersMatchTheCLibrary) {
  for (const std::string format :
       {"%d", "%5d", "%-5d|", "%05d", "%+d", "% d", "%+05d", "%.3d", "%8.3d", "%-8.3d|", "%.0d", "%x", "%X", "%#x",
        "%#X", "%08x", "%#08x", "%o", "%#o", "%u", "%5u", "%.0u", "%-+6d|", "%0-5d|"}) {
    const std::size_t conversion = format.find_first_of("dxXou");
    const std::string cFormat = format.substr(0, conversion) + "ll" + format.substr(conversion);
    for (long long value : {0LL, 1LL, 7LL, 255LL, 4096LL, 123456789LL, LLONG_MAX, -1LL, -42LL, LLONG_MIN}) {
      if (value >= 0 || format[conversion] == 'd') ExpectAsTheCLibrary(format, cFormat, value);
    }
  }
  for (const char* format : {"%f", "%.2f", "%8.3f", "%-8.1f|", "%+.0f", "%#.0f", "%08.2f", "% .1f", "%F", "%.10f"}) {
    for (double value : {0.0, -0.0, 0.5, 1.5, 2.5, -0.125, 1234.5678, 1e20, -3.14159, 1e-7}) {
      ExpectAsTheCLibrary(format, format, value);
    }
  }
  EXPECT_EQ(Try(L"%.1f MB", 2.25f), L"2.2 MB");
  EXPECT_EQ(Try(L"%f %F %5f", HUGE_VAL, -HUGE_VAL, NAN), L"inf -INF   nan");
  EXPECT_EQ(Try(L"%.1f", 1.7976931348623157e308).value_or(L"").size(), 311u);
}

TEST(TextFormat, ArgumentsLeftOverAreIgnoredButMissingOnesAndHugeWidthsFail) {
  EXPECT_EQ(Try(L"%d", 1, 2, L"three"), L"1");
  EXPECT_EQ(Try(L"plain", 1), L"plain");
  EXPECT_EQ(Try(L"%s"), std::nullopt);
  EXPECT_EQ(Try(L"%s and %s", L"one"), std::nullopt);
  EXPECT_EQ(Try(L"%d%d%d%d%d%d%d%d", 1, 2, 3), std::nullopt);
  // Widths and precisions up to 512; leading zeros are flags, not a number.
  EXPECT_EQ(Try(L"%512d", 1).value_or(L"").size(), 512u);
  EXPECT_EQ(Try(L"%.512d", 1).value_or(L"").size(), 512u);
  EXPECT_EQ(Try(L"%513d", 1), std::nullopt);
  EXPECT_EQ(Try(L"%.513f", 1.0), std::nullopt);
  EXPECT_EQ(Try(L"%99999999999999999999s", L"x"), std::nullopt);
  EXPECT_EQ(Try(L"%.99999999999999999999s", L"x"), std::nullopt);
  EXPECT_EQ(Try(L"%0000000000000000000001d", 7), L"7");
}

// Formatting fails, and FormatText shows the format itself instead.
void ExpectFailure(const wchar_t* format, const FormatArg& arg) {
  SCOPED_TRACE(::testing::Message() << WideToUtf8(format) << " with an argument of kind " << int(arg.kind()));
  EXPECT_EQ(TryFormatText(format, std::span(&arg, 1)), std::nullopt);
  EXPECT_EQ(FormatText(format, std::span(&arg, 1)), format);
}

// Type mismatches and unsupported or malformed conversions fail. The last two mismatches: a negative
// number is not silently shown as a huge unsigned one.
TEST(TextFormat, MismatchedUnsupportedOrMalformedConversionsFail) {
  const std::pair<const wchar_t*, FormatArg> mismatches[] = {
      {L"%s", 5}, {L"%d", L"five"}, {L"%d", 5.0}, {L"%f", 5},   {L"%c", 65},
      {L"%d", L'x'}, {L"%s", L'x'}, {L"%u", -1},  {L"%x", -255L}};
  for (const auto& [format, arg] : mismatches) ExpectFailure(format, arg);
  for (const wchar_t* format : {L"%n", L"%ln", L"%p", L"%e", L"%g", L"%a", L"%*d", L"%.*d", L"%1$d", L"%",
                                L"abc %", L"%5", L"%.", L"%-", L"%l", L"%ll", L"%I64", L"%hs", L"%S",
                                L"%q", L"% ", L"%\u00e9"}) {
    for (const FormatArg& arg : {FormatArg(1), FormatArg(L"text"), FormatArg(1.0)}) ExpectFailure(format, arg);
  }
  // A blank would show nothing at all: the format is shown instead.
  EXPECT_EQ(FormatText(L"%s", std::array{FormatArg(L"")}), L"%s");
  EXPECT_EQ(FormatText(L"%.0s", std::array{FormatArg(L"hidden")}), L"%.0s");
  EXPECT_EQ(FormatText(L"", {}), L"");
  EXPECT_EQ(FormatText(L"100%", {}), L"100%");
  EXPECT_EQ(FormatText(L"%d%% of %s", std::array{FormatArg(40), FormatArg(L"disk")}), L"40% of disk");
}

}  // namespace
}  // namespace vistrel
