// Translations: compiled gettext catalogues (files from msgfmt in both byte orders, and damaged
// files); type-checked printf-style formatting of translated texts; the translator with
// language.ini files, catalogues in languages folders built for each test, the list of languages
// and the match with the system's language; and the process-wide translator, tr() and the shared
// language list. Only this file initialises the process-wide translator; the death test runs in a
// fresh process where it has not been initialised.
#include <algorithm>
#include <array>
#include <atomic>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <span>
#include <stdexcept>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "core/text.h"
#include "i18n/language_ini.h"
#include "i18n/language_list.h"
#include "i18n/mo_reader.h"
#include "i18n/text_format.h"
#include "i18n/tr.h"
#include "i18n/translator.h"
#include "languages_folder.h"
#include "log_capture.h"
#include "mo_builder.h"

namespace vistrel {
namespace {

using namespace testing;  // this project's test helpers

// Catalogues ------------------------------------------------------------------------------------

TEST(MoFile, MsgfmtFilesInBothByteOrdersGiveTheWholeCatalogue) {
  // tests/data/i18n/catalogue.po once read: no header, no untranslated entry, plurals under their
  // singular only, and of two entries for one msgid (with a context or not) the later one in the
  // file, where msgfmt sorts them by their full keys ("menu\004Open" after "Open", but
  // "Alpha\004Save" before "Save").
  const MoCatalogue expected{
      {L"Open", L"\u00d6ffnen (Men\u00fc)"}, {L"Save", L"Speichern"}, {L"%d file", L"%d Datei"},
      {L"Settings", L"\u041d\u0430\u0441\u0442\u0440\u043e\u0439\u043a\u0438 \u65e5\u672c \U0001F600"},
      {L"Gr\u00fc\u00dfe", L"Greetings"}, {L"Recording %s to %s", L"Aufnahme %s nach %s"},
      {L"Done: 100%%", L"Fertig: 100%%"}};
  const std::filesystem::path folder(VISTREL_TEST_MO_DIR);
  for (const auto& [name, magic] : {std::pair{"catalogue.mo", "\xDE\x12\x04\x95"},
                                    std::pair{"catalogue-be.mo", "\x95\x04\x12\xDE"}}) {
    SCOPED_TRACE(name);
    ASSERT_EQ(testing::ReadFile(folder / name).substr(0, 4), std::string(magic, 4));
    EXPECT_EQ(ReadMoFile(folder / name), expected);
  }

  EXPECT_TRUE(ReadMoFile(folder / "no-such-file.mo").empty());
  EXPECT_TRUE(ReadMoFile(folder).empty()) << "a folder";
}

// Any magic other than the little-endian one means big-endian, so each case is also read with the
// big-endian magic replaced by junk.
TEST(MoEntries, ContextsPluralsHeaderEncodingAndDuplicatesInEitherByteOrder) {
  const std::pair<std::vector<MoEntry>, MoCatalogue> rows[] = {
      // The context is dropped up to the first separator only, and may be empty.
      {{{"ctx\x04Print", "Drucken"}, {"a\x04" "b\x04" "c", "x"}, {"\x04Lead", "y"}},
       {{L"Print", L"Drucken"}, {L"b\x04" L"c", L"x"}, {L"Lead", L"y"}}},
      // A plural entry keeps its singular and its first form.
      {{{std::string("%d item\0%d items", 16), std::string("%d Ding\0%d Dinge\0", 17)},
        {std::string("ctx\x04one\0many", 12), std::string("eins\0viele", 10)}},
       {{L"%d item", L"%d Ding"}, {L"one", L"eins"}}},
      // The header entry is skipped, other empty keys and empty translations are not.
      {{{"", "Content-Type: text/plain; charset=UTF-8\n"}, {"ctx\x04", "only a context"}, {"A", ""}},
       {{L"", L"only a context"}, {L"A", L""}}},
      // UTF-8 whatever the header says: Latin-1 bytes are not.
      {{{"", "Content-Type: text/plain; charset=ISO-8859-1\n"}, {"Greeting", "Gr\xC3\xBC\xC3\x9F" "e"},
        {"Broken", "Gr\xFC\xDF" "e"}},
       {{L"Greeting", L"Gr\u00fc\u00dfe"}, {L"Broken", L"Gr\uFFFD\uFFFDe"}}},
      // A later duplicate replaces the earlier one.
      {{{"A", "first"}, {"B", "b"}, {"A", "second"}}, {{L"A", L"second"}, {L"B", L"b"}}},
  };
  for (const auto& [entries, expected] : rows) {
    SCOPED_TRACE(::testing::Message() << entries.size() << " entries, the first " << entries[0].msgid);
    EXPECT_EQ(ReadMoCatalogue(BuildMo(entries)), expected);
    std::string big = BuildMo(entries, ByteOrder::kBig);
    EXPECT_EQ(ReadMoCatalogue(big), expected);
    EXPECT_EQ(ReadMoCatalogue(big.replace(0, 4, "junk")), expected);
  }
}

// Three entries whose strings follow the tables in order: msgids A, B, C, then translations.
std::string ThreeEntries() { return BuildMo({{"A", "alpha"}, {"B", "beta"}, {"C", "gamma"}}); }

TEST(MoDamage, EveryTruncationYieldsTheEntriesThatAreWhole) {
  EXPECT_TRUE(ReadMoCatalogue({}).empty());
  const std::string full = ThreeEntries();
  const MoCatalogue complete = ReadMoCatalogue(full);
  ASSERT_EQ(complete.size(), 3u);
  for (std::size_t size = 0; size <= full.size(); ++size) {
    // A copy of exactly `size` bytes, so that the sanitizer sees any read past the end.
    const std::string cut = full.substr(0, size);
    const MoCatalogue partial = ReadMoCatalogue(cut);
    for (const auto& [msgid, translation] : partial) {
      ASSERT_EQ(complete.count(msgid), 1u) << size;
      EXPECT_EQ(complete.at(msgid), translation) << size;
    }
    if (size < 20) EXPECT_TRUE(partial.empty()) << size;  // no whole header: magic alone, or less
  }
  // Cut inside the last translation: the first two entries are still read.
  EXPECT_EQ(ReadMoCatalogue(full.substr(0, full.rfind("gamma") + 3)), (MoCatalogue{{L"A", L"alpha"}, {L"B", L"beta"}}));
  // Cut inside the translation table: no index has both of its slots.
  EXPECT_TRUE(ReadMoCatalogue(full.substr(0, TranslationSlot(3, 0) + 6)).empty());
}

TEST(MoDamage, AWordPointingOutsideTheFileSkipsOnlyWhatItBreaks) {
  const std::string full = ThreeEntries();
  const auto size = static_cast<std::uint32_t>(full.size());
  const MoCatalogue withoutB{{L"A", L"alpha"}, {L"C", L"gamma"}};
  // {where, the word written there, what is read}
  const std::tuple<std::size_t, std::uint32_t, MoCatalogue> cases[] = {
      {MsgidSlot(1) + 4, size, withoutB},                 // msgid starts at the end
      {MsgidSlot(1) + 4, 0xFFFFFFFF, withoutB},           // msgid far outside
      {MsgidSlot(1), 0xFFFFFFFF, withoutB},               // msgid longer than the file
      {TranslationSlot(3, 1), size, withoutB},            // translation longer than the file
      {TranslationSlot(3, 1) + 4, size - 2, withoutB},    // translation runs past the end
      {TranslationSlot(3, 1) + 4, 0xFFFFFFFC, withoutB},  // offset + length wraps in 32 bits
      {8, 0, {}},                                         // no entries
      {0, 0x95041278, {}},  // a damaged little-endian magic: read big-endian, nothing is usable
      {12, 0xFFFFFFF8, {}}, {12, 0xFFFFFFFF, {}}, {12, 0x7FFFFFFF, {}},  // the msgid table outside
      {16, 0xFFFFFFF8, {}}, {16, 0xFFFFFFFF, {}}, {16, 0x7FFFFFFF, {}},  // the translation table outside
  };
  for (const auto& [at, value, expected] : cases) {
    SCOPED_TRACE(::testing::Message() << "word at " << at << " = " << value);
    std::string bytes = full;
    PutWord(bytes, at, value);
    EXPECT_EQ(ReadMoCatalogue(bytes), expected);
  }
}

TEST(MoDamage, HugeCountStopsAtTheEndOfTheTables) {
  std::string bytes = ThreeEntries();
  PutWord(bytes, 8, 0xFFFFFFFF);
  const MoCatalogue catalogue = ReadMoCatalogue(bytes);
  // Slots past the real three are read from the string area; whatever they yield, the real
  // entries are there with their own translations (no later slot is a valid string reference).
  for (const auto& [msgid, text] : ReadMoCatalogue(ThreeEntries())) EXPECT_EQ(catalogue.at(msgid), text) << msgid;
}

TEST(MoDamage, TableStraddlingTheEndKeepsTheSlotsBeforeIt) {
  std::string bytes = ThreeEntries();
  // The translation table is moved so that only its first two slots lie inside the file; they
  // point at the data of the original first two slots, which are copied there.
  const std::size_t moved = bytes.size();
  bytes += bytes.substr(TranslationSlot(3, 0), 16);
  bytes += "\x01\x02\x03";  // part of a third slot
  PutWord(bytes, 16, static_cast<std::uint32_t>(moved));
  EXPECT_EQ(ReadMoCatalogue(bytes), (MoCatalogue{{L"A", L"alpha"}, {L"B", L"beta"}}));
}

// `count` entries: msgid i is the `msgidLength` bytes of one shared text from offset i (so every
// msgid differs), and every translation is the whole shared text.
std::string OverlappingCatalogue(std::uint32_t count, std::uint32_t textLength, std::uint32_t msgidLength) {
  std::string bytes = BuildMo({});
  PutWord(bytes, 8, count);
  PutWord(bytes, 16, static_cast<std::uint32_t>(TranslationSlot(count, 0)));
  const auto text = static_cast<std::uint32_t>(TranslationSlot(count, count));
  for (std::uint32_t i = 0; i < count; ++i) {
    PutWord(bytes, MsgidSlot(i), msgidLength);
    PutWord(bytes, MsgidSlot(i) + 4, text + i);
    PutWord(bytes, TranslationSlot(count, i), textLength);
    PutWord(bytes, TranslationSlot(count, i) + 4, text);
  }
  std::mt19937 random(7);
  for (std::uint32_t i = 0; i < textLength; ++i) bytes.push_back(static_cast<char>('a' + random() % 26));
  return bytes;
}

TEST(MoDamage, OverlappingEntriesCannotMakeTheCatalogueMuchLargerThanTheFile) {
  // 5000 entries of 100 kB each would be half a gigabyte of text from a file of about 180 kB.
  const std::string file = OverlappingCatalogue(5000, 100000, 1000);
  bool capped = false;
  const MoCatalogue catalogue = ReadMoCatalogue(file, &capped);
  EXPECT_TRUE(capped);
  std::size_t characters = 0;
  for (const auto& [msgid, translation] : catalogue) characters += msgid.size() + translation.size();
  EXPECT_GT(catalogue.size(), 0u) << "the entries that fit are still read";
  EXPECT_LE(characters, 2 * file.size() + 65536);
  // A catalogue whose entries share nothing is read whole.
  EXPECT_EQ(ReadMoCatalogue(OverlappingCatalogue(3, 300, 10), &capped).size(), 3u);
  EXPECT_FALSE(capped);
}

// Formatting ------------------------------------------------------------------------------------

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

// The translator --------------------------------------------------------------------------------

const std::wstring kSettings = L"\u041d\u0430\u0441\u0442\u0440\u043e\u0439\u043a\u0438 \u65e5\u672c \U0001F600";

TEST(LanguageIni, ReadsTheKeysOfTheLangSectionOnly) {
  const std::pair<std::string, LanguageIniValues> rows[] = {
      {"[lang]\nlanguage_name = Deutsch\nlanguage_code=de\ntranslator_name =  Anna Beispiel  \n"
       "translator_email= anna@example.org\nis_rtl = false\n",
       {{L"language_name", L"Deutsch"}, {L"language_code", L"de"}, {L"translator_name", L"Anna Beispiel"},
        {L"translator_email", L"anna@example.org"}, {L"is_rtl", L"false"}}},
      // CR LF, white space, comments, blank lines and no final line break.
      {"; leading comment\r\n\r\n  [lang]  \r\n\t; language_name = commented out\r\n   \t \r\n"
       "\tlanguage_name\t=\tPortugu\xC3\xAAs\t\r\nlanguage_code = pt\r",
       {{L"language_name", L"Portugu\u00eas"}, {L"language_code", L"pt"}}},
      // Only a line exactly "[lang]" opens the section.
      {"language_name = before any section\n[Lang]\nlanguage_code = wrong case\n[lang ]\n"
       "translator_name = space inside\n[other]\nis_rtl = yes\n[lang]\nlanguage_code = ok\n[meta]\n"
       "translator_email = after\n",
       {{L"language_code", L"ok"}}},
      // "[other" is neither a section nor a key line: the section stays open.
      {"[lang]\n[other\nlanguage_code = de\n", {{L"language_code", L"de"}}},
      // Split at the first '='; a line without one is skipped; a later key overwrites.
      {"[lang]\nlanguage_name = a = b\nno equals sign here\nlanguage_code = first\nlanguage_code = second\n"
       "translator_name =\n= orphan value\n",
       {{L"language_name", L"a = b"}, {L"language_code", L"second"}, {L"translator_name", L""},
        {L"", L"orphan value"}}},
      // A byte-order mark spoils the first line: harmless in front of a comment only.
      {"\xEF\xBB\xBF[lang]\nlanguage_code = de\n", {}},
      {"\xEF\xBB\xBF; comment\n[lang]\nlanguage_code = de\n", {{L"language_code", L"de"}}},
      {"", {}},
  };
  for (const auto& [text, expected] : rows) EXPECT_EQ(ParseLanguageIni(text), expected) << text;
}

TEST(LanguageIni, RightToLeftValues) {
  for (const wchar_t* yes : {L"true", L"TRUE", L"True", L"1", L"yes", L"YeS"}) EXPECT_TRUE(IsRtlValue(yes)) << yes;
  for (const wchar_t* no : {L"", L"false", L"0", L"no", L"2", L"truth", L"y", L"on", L"yes!"}) {
    EXPECT_FALSE(IsRtlValue(no)) << no;
  }
}

class TranslatorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearCapturedLog();
    folder_.AddIni("de", "[lang]\nlanguage_name = Deutsch\nlanguage_code = de\ntranslator_name = Anna\n"
                         "translator_email = anna@example.org\n");
    folder_.AddCatalogue("de", testing::TestCatalogueBytes());
  }

  // What the translator shows: the translation of "Save", the name, code and direction, and the
  // metadata of the active language.
  std::tuple<std::wstring, std::wstring, std::wstring, bool, LanguageInfo> Shown() const {
    return {translator_.translate(L"Save"), translator_.getLanguageName(), translator_.getLanguageCode(),
            translator_.isRightToLeft(), translator_.getLanguageInfo()};
  }
  void ExpectEnglish() const { EXPECT_EQ(Shown(), std::tuple(L"Save", L"English", L"en", false, LanguageInfo{})); }

  std::vector<std::wstring> NotFoundLog(const std::wstring& underFolder) const {
    return {L"Translator ERROR: .mo file NOT FOUND at: " + Utf8ToWide(folder_.utf8()) + underFolder};
  }

  LanguagesFolder folder_;
  Translator translator_{folder_.utf8(), "", ""};
};

TEST_F(TranslatorTest, ActiveLanguageTranslatesUntilEnglishOrAnEmptyCodeDropsIt) {
  ExpectEnglish();
  for (const wchar_t* english : {L"en", L""}) {
    SCOPED_TRACE(english);
    translator_.setLanguage(L"de");
    // The translation; or the English text when absent, untranslated or differing in case.
    const std::pair<const wchar_t*, std::wstring> texts[] = {
        {L"Open", L"\u00d6ffnen (Men\u00fc)"}, {L"%d file", L"%d Datei"},
        {L"Gr\u00fc\u00dfe", L"Greetings"}, {L"Settings", kSettings},
        {L"Not in the catalogue", L"Not in the catalogue"}, {L"Untranslated", L"Untranslated"},
        {L"open", L"open"}, {L"", L""}};
    for (const auto& [msgid, text] : texts) EXPECT_EQ(translator_.translate(msgid), text) << msgid;
    EXPECT_EQ(Shown(), std::tuple(L"Speichern", L"Deutsch", L"de", false,
                                  LanguageInfo{L"Deutsch", L"de", false, L"Anna", L"anna@example.org"}));
    translator_.setLanguage(english);
    ExpectEnglish();
  }
  // "en" never looks for a catalogue, so nothing is logged even without an "en" folder.
  EXPECT_TRUE(CapturedLog().empty());
}

TEST_F(TranslatorTest, MissingCatalogueIsLoggedAndEnglishIsUsed) {
  folder_.AddIni("fr", "[lang]\nlanguage_name = Fran\xC3\xA7" "ais\nlanguage_code = fr\n");
  // The code is case-sensitive as a folder name: "DE" is not the folder "de".
  for (const std::wstring code : {L"fr", L"DE"}) {
    SCOPED_TRACE(code);
    translator_.setLanguage(L"de");
    ClearCapturedLog();
    translator_.setLanguage(code);
    EXPECT_EQ(CapturedLog(), NotFoundLog(L"/" + code + L"/LC_MESSAGES/messages.mo"));
    ExpectEnglish();
  }
}

TEST_F(TranslatorTest, NameAndCodeComeFromTheIniOrElseFromTheFolder) {
  const std::string catalogue = testing::TestCatalogueBytes();
  // {folder, its language.ini (none: no file), its catalogue, the translation of "Save", the metadata}
  const std::tuple<const char*, const char*, std::string, const wchar_t*, LanguageInfo> rows[] = {
      {"xx", nullptr, catalogue, L"Speichern", {L"xx", L"xx", false, L"", L""}},
      // An empty name and a missing code.
      {"he", "[lang]\nlanguage_name =\nis_rtl = TRUE\ntranslator_name = T\n",
       BuildMo({{"Save", "\xD7\xA9\xD7\x9E\xD7\x95\xD7\xA8"}}), L"\u05e9\u05de\u05d5\u05e8",
       {L"he", L"he", true, L"T", L""}},
      // The code is reported as the ini writes it.
      {"pt-BR", "[lang]\nlanguage_name = Portugu\xC3\xAAs (Brasil)\nlanguage_code = pt_BR\n", catalogue, L"Speichern",
       {L"Portugu\u00eas (Brasil)", L"pt_BR", false, L"", L""}},
      // An empty catalogue still activates the language.
      {"eo", "[lang]\nlanguage_name = Esperanto\nlanguage_code = eo\n", "", L"Save",
       {L"Esperanto", L"eo", false, L"", L""}},
  };
  for (const auto& [code, ini, catalogueBytes, save, info] : rows) {
    SCOPED_TRACE(code);
    folder_.AddCatalogue(code, catalogueBytes);
    if (ini) folder_.AddIni(code, ini);
    translator_.setLanguage(Utf8ToWide(code));
    EXPECT_EQ(Shown(), std::tuple(save, info.name, info.code, info.rtl, info));
  }
  EXPECT_TRUE(CapturedLog().empty());
}

TEST_F(TranslatorTest, CategoryAndDomainCanBeGivenPerCallOrPerTranslator) {
  folder_.AddCatalogue("de", BuildMo({{"Save", "Sichern"}}), "custom", "other");
  translator_.setLanguage(L"de", "custom", "other");
  EXPECT_EQ(translator_.translate(L"Save"), L"Sichern");
  translator_.setLanguage(L"de");
  EXPECT_EQ(translator_.translate(L"Save"), L"Speichern");
  translator_.setLanguage(L"de", "custom");  // custom/messages.mo does not exist
  EXPECT_EQ(translator_.translate(L"Save"), L"Save");
  EXPECT_EQ(CapturedLog(), NotFoundLog(L"/de/custom/messages.mo"));

  const Translator defaults("/base/\xC3\xA9t\xC3\xA9", "", "");
  EXPECT_EQ(defaults.cataloguePath(L"de"), testing::Utf8Path("/base/\xC3\xA9t\xC3\xA9/de/LC_MESSAGES/messages.mo"));
  const Translator own("/base", "cat", "dom");
  EXPECT_EQ(own.cataloguePath(L"\u65e5\u672c"), testing::Utf8Path("/base/\xE6\x97\xA5\xE6\x9C\xAC/cat/dom.mo"));
  EXPECT_EQ(own.cataloguePath(L"de", "x", "y"), std::filesystem::path("/base/de/x/y.mo"));
}

// Worker threads translate while the UI thread switches languages: every answer is one of the two
// texts, never a torn or freed one.
TEST_F(TranslatorTest, TranslateWhileSwitchingLanguages) {
  std::atomic<bool> stop{false};
  std::atomic<int> bad{0};
  const auto work = [&] {
    while (!stop) {
      const std::wstring text = translator_.translate(L"Settings"), name = translator_.getLanguageName();
      if ((text != L"Settings" && text != kSettings) || (name != L"English" && name != L"Deutsch")) ++bad;
    }
  };
  std::thread workers[] = {std::thread(work), std::thread(work), std::thread(work)};
  for (int i = 0; i < 200; ++i) translator_.setLanguage(i % 2 ? L"en" : L"de");
  stop = true;
  for (std::thread& worker : workers) worker.join();
  EXPECT_EQ(bad, 0);
}

TEST(AvailableLanguages, WithoutAFolderOnlyEnglish) {
  const LanguagesFolder folder;
  testing::WriteFile(folder.path() / "file", "[lang]\n");
  for (const char* base : {"/absent", "/file"}) {
    EXPECT_EQ(Translator(folder.utf8() + base, "", "").getAvailableLanguages(),
              std::vector<LanguageInfo>{BuiltInEnglish()}) << base;
  }
  EXPECT_EQ(BuiltInEnglish(), (LanguageInfo{L"English (Default)", L"en", false, L"Orvanta", L""}));
}

TEST(AvailableLanguages, UsableFoldersAfterTheBuiltInEnglish) {
  const LanguagesFolder folder;
  folder.AddIni("de", "[lang]\nlanguage_name = Deutsch\nlanguage_code = de\ntranslator_name = Anna\n"
                      "translator_email = a@example.org\n");
  folder.AddIni("ar", "[lang]\nlanguage_name = \xD8\xB9\xD8\xB1\xD8\xA8\xD9\x8A\nlanguage_code = ar\nis_rtl = yes\n");
  // Other spellings of English keep the built-in entry.
  folder.AddIni("en-GB", "[lang]\nlanguage_name = English (UK)\nlanguage_code = en-GB\n");
  folder.AddIni("EN", "[lang]\nlanguage_name = Shouting\nlanguage_code = EN\n");
  // Unusable: no name or code, an empty one, a byte-order mark, no ini, an ini outside a language
  // folder or that is a folder, and a language folder one level too deep.
  folder.AddIni("nocode", "[lang]\nlanguage_name = No code\n");
  folder.AddIni("noname", "[lang]\nlanguage_code = noname\n");
  folder.AddIni("emptyname", "[lang]\nlanguage_name =\nlanguage_code = emptyname\n");
  folder.AddIni("emptycode", "[lang]\nlanguage_name = Empty code\nlanguage_code =\n");
  folder.AddIni("bom", "\xEF\xBB\xBF[lang]\nlanguage_name = Bom\nlanguage_code = bom\n");
  folder.AddCatalogue("noini", testing::TestCatalogueBytes());
  testing::WriteFile(folder.path() / "language.ini", "[lang]\nlanguage_name = Top\nlanguage_code = top\n");
  std::filesystem::create_directories(folder.path() / "ini-is-folder" / "language.ini");
  folder.AddIni("deep/nested", "[lang]\nlanguage_name = Nested\nlanguage_code = nested\n");

  std::vector<LanguageInfo> languages = Translator(folder.utf8(), "", "").getAvailableLanguages();
  ASSERT_FALSE(languages.empty());
  std::sort(languages.begin() + 1, languages.end(),
            [](const LanguageInfo& a, const LanguageInfo& b) { return a.code < b.code; });
  // No catalogue is needed to be listed: none of them has one.
  EXPECT_EQ(languages, (std::vector<LanguageInfo>{
                           BuiltInEnglish(),
                           {L"Shouting", L"EN", false, L"", L""},
                           {L"\u0639\u0631\u0628\u064a", L"ar", true, L"", L""},
                           {L"Deutsch", L"de", false, L"Anna", L"a@example.org"},
                           {L"English (UK)", L"en-GB", false, L"", L""},
                       }));
}

TEST(AvailableLanguages, AnEnglishFolderReplacesTheBuiltInEntry) {
  for (const char* english : {"en", "en-US", "en_US"}) {
    SCOPED_TRACE(english);
    const LanguagesFolder folder;
    folder.AddIni("de", "[lang]\nlanguage_name = Deutsch\nlanguage_code = de\n");
    folder.AddIni(english, std::string("[lang]\nlanguage_name = English (US)\nlanguage_code = ") + english + "\n");
    std::vector<std::wstring> codes;
    for (const LanguageInfo& language : Translator(folder.utf8(), "", "").getAvailableLanguages()) {
      codes.push_back(language.code);
    }
    std::sort(codes.begin(), codes.end());
    EXPECT_EQ(codes, (std::vector<std::wstring>{L"de", Utf8ToWide(english)}));
  }
}

TEST(MatchSystemLanguage, FullNameThenShortNameIgnoringCaseOtherwiseEnglish) {
  // {the system's locale, the codes listed after the built-in English, the match}
  const std::tuple<const wchar_t*, std::vector<const wchar_t*>, const wchar_t*> rows[] = {
      {L"pt-BR", {L"pt", L"pt-BR"}, L"pt-BR"}, {L"pt-BR", {L"pt-BR", L"pt"}, L"pt-BR"},
      {L"pt-BR", {L"pt"}, L"pt"}, {L"pt-PT", {L"pt-BR", L"pt"}, L"pt"},
      // Letter case is ignored and the code returned as written.
      {L"PT-br", {L"pt-BR"}, L"pt-BR"}, {L"de-DE", {L"DE"}, L"DE"}, {L"de", {L"De"}, L"De"},
      // The first of equal matches wins.
      {L"pt-AO", {L"pt", L"PT"}, L"pt"}, {L"pt-AO", {L"PT", L"pt"}, L"PT"},
      {L"ja-JP", {L"de", L"pt"}, L"en"}, {L"", {L"de"}, L"en"}, {L"d", {L"de"}, L"en"},
      {L"en-US", {L"en-US"}, L"en-US"},  // by its full name, not as the built-in "en"
  };
  for (const auto& [locale, codes, expected] : rows) {
    std::vector<LanguageInfo> languages{BuiltInEnglish()};
    for (const wchar_t* code : codes) languages.push_back({code, code, false, L"", L""});
    EXPECT_EQ(MatchSystemLanguage(locale, languages), expected) << WideToUtf8(locale) << " among " << codes.size();
  }
  EXPECT_EQ(MatchSystemLanguage(L"de-DE", {}), L"en");
}

// The folder the process-wide translator is created on (it can be created only once).
const LanguagesFolder& GlobalLanguages() {
  struct Filled : LanguagesFolder {
    Filled() {
      AddIni("de", "[lang]\nlanguage_name = Deutsch\nlanguage_code = de\n");
      AddCatalogue("de", TestCatalogueBytes());
      // Broken or hostile translations, as a careless or malicious catalogue could hold them (each
      // kind of format that cannot be used is among the formatting cases above).
      AddIni("xx", "[lang]\nlanguage_name = Broken\nlanguage_code = xx\n");
      AddCatalogue("xx", BuildMo({{"Saved %s", "%n%s%s%s"}, {"Count %d", "%s items"}}));
    }
  };
  static const Filled folder;
  return folder;
}

class GlobalTranslator : public ::testing::Test {
 protected:
  void SetUp() override { Translator::init(GlobalLanguages().utf8(), "", ""); }
  void TearDown() override {
    Translator::instance().setLanguage(L"en");
    SetSharedAvailableLanguages({});
  }
};

TEST(TranslatorSingletonDeathTest, BeforeInitInstanceThrowsAndTrFormatsTheEnglishText) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");  // a fresh process: nothing initialised yet
  EXPECT_EXIT(
      {
        std::string thrown;
        try {
          Translator::instance();
        } catch (const std::runtime_error& error) {
          thrown = error.what();
        }
        const bool ok = !Translator::initialized() &&
                        thrown == "Translator not initialized. Call Translator::init() first." &&
                        tr(L"%d files in %s", 3, L"C:\\") == L"3 files in C:\\" &&
                        tr(L"Done: 100%%") == L"Done: 100%" && tr(L"Open") == L"Open" &&
                        SharedAvailableLanguagesFilled().empty();
        std::fputs(ok ? "all as expected" : "unexpected", stderr);
        std::_Exit(ok ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "all as expected");
}

TEST_F(GlobalTranslator, LaterInitCallsChangeNothing) {
  ASSERT_TRUE(Translator::initialized());
  Translator& first = Translator::instance();
  Translator::init("/elsewhere", "cat", "dom");
  EXPECT_EQ(&Translator::instance(), &first);
  EXPECT_EQ(first.cataloguePath(L"de"), GlobalLanguages().path() / "de" / "LC_MESSAGES" / "messages.mo");
}

TEST_F(GlobalTranslator, TrTranslatesThenFormatsAndShowsBrokenTranslationsUnformatted) {
  Translator::instance().setLanguage(L"de");
  EXPECT_EQ(tr(L"Open"), L"\u00d6ffnen (Men\u00fc)");
  EXPECT_EQ(tr(L"%d file", 2), L"2 Datei");
  EXPECT_EQ(tr(L"Recording %s to %s", L"clip.mp4", std::wstring(L"C:\\Videos")),
            L"Aufnahme clip.mp4 nach C:\\Videos");
  EXPECT_EQ(tr(L"Done: 100%%"), L"Fertig: 100%");
  EXPECT_EQ(tr(L"Not translated %d%%", 50), L"Not translated 50%");

  Translator::instance().setLanguage(L"xx");
  ASSERT_EQ(Translator::instance().getLanguageName(), L"Broken");
  EXPECT_EQ(tr(L"Saved %s", L"shot.png"), L"%n%s%s%s");         // %n is never executed
  EXPECT_EQ(tr(L"Count %d", 3), L"%s items");                    // an int is not a string
}

TEST_F(GlobalTranslator, SharedListIsFilledOnlyWhenEmptyAndReplacedByARefill) {
  const std::vector<LanguageInfo> own{{L"Mine", L"mine", false, L"", L""}};
  SetSharedAvailableLanguages(own);
  EXPECT_EQ(SharedAvailableLanguagesFilled(), own);
  EXPECT_EQ(SharedAvailableLanguages(), own);

  const std::vector<LanguageInfo> fresh = RefillSharedAvailableLanguages();
  EXPECT_EQ(fresh, Translator::instance().getAvailableLanguages());
  EXPECT_EQ(SharedAvailableLanguages(), fresh);

  SetSharedAvailableLanguages({});
  EXPECT_EQ(SharedAvailableLanguagesFilled(), fresh);
  EXPECT_EQ(SharedAvailableLanguages(), fresh);
}

}  // namespace
}  // namespace vistrel
