// language.ini: the metadata file of a language folder.
#include "i18n/language_ini.h"

#include <gtest/gtest.h>

namespace vistrel {
namespace {

TEST(LanguageIni, ReadsTheLangSection) {
  const LanguageIniValues values = ParseLanguageIni(
      "[lang]\n"
      "language_name = Deutsch\n"
      "language_code=de\n"
      "translator_name =  Anna Beispiel  \n"
      "translator_email= anna@example.org\n"
      "is_rtl = false\n");
  EXPECT_EQ(values, (LanguageIniValues{{L"language_name", L"Deutsch"},
                                       {L"language_code", L"de"},
                                       {L"translator_name", L"Anna Beispiel"},
                                       {L"translator_email", L"anna@example.org"},
                                       {L"is_rtl", L"false"}}));
}

TEST(LanguageIni, CrLfWhiteSpaceCommentsAndBlankLines) {
  const LanguageIniValues values = ParseLanguageIni(
      "; leading comment\r\n"
      "\r\n"
      "  [lang]  \r\n"
      "\t; language_name = commented out\r\n"
      "   \t \r\n"
      "\tlanguage_name\t=\tPortugu\xC3\xAAs\t\r\n"
      "language_code = pt\r");  // no final line break
  EXPECT_EQ(values, (LanguageIniValues{{L"language_name", L"Portugu\u00eas"}, {L"language_code", L"pt"}}));
}

TEST(LanguageIni, OnlyTheExactLangSectionIsRead) {
  const LanguageIniValues values = ParseLanguageIni(
      "language_name = before any section\n"
      "[Lang]\n"
      "language_code = wrong case\n"
      "[lang ]\n"
      "translator_name = space inside\n"
      "[other]\n"
      "is_rtl = yes\n"
      "[lang]\n"
      "language_code = ok\n"
      "[meta]\n"
      "translator_email = after\n");
  EXPECT_EQ(values, (LanguageIniValues{{L"language_code", L"ok"}}));
}

TEST(LanguageIni, SplitsAtTheFirstEqualsAndLaterKeysOverwrite) {
  const LanguageIniValues values = ParseLanguageIni(
      "[lang]\n"
      "language_name = a = b\n"
      "no equals sign here\n"
      "language_code = first\n"
      "language_code = second\n"
      "translator_name =\n"
      "= orphan value\n");
  EXPECT_EQ(values, (LanguageIniValues{{L"language_name", L"a = b"},
                                       {L"language_code", L"second"},
                                       {L"translator_name", L""},
                                       {L"", L"orphan value"}}));
}

TEST(LanguageIni, ByteOrderMarkSpoilsTheFirstLine) {
  // With the mark the first line is not "[lang]", so nothing is read.
  EXPECT_TRUE(ParseLanguageIni("\xEF\xBB\xBF[lang]\nlanguage_code = de\n").empty());
  // A mark in front of a comment line does no harm to what follows.
  EXPECT_EQ(ParseLanguageIni("\xEF\xBB\xBF; comment\n[lang]\nlanguage_code = de\n"),
            (LanguageIniValues{{L"language_code", L"de"}}));
}

TEST(LanguageIni, BracketLineWithoutClosingBracketIsNotASection) {
  // "[lang" is neither a section nor a key line; the [lang] section stays open.
  EXPECT_EQ(ParseLanguageIni("[lang]\n[other\nlanguage_code = de\n"),
            (LanguageIniValues{{L"language_code", L"de"}}));
}

TEST(LanguageIni, RightToLeftValues) {
  for (const wchar_t* yes : {L"true", L"TRUE", L"True", L"1", L"yes", L"YeS"}) {
    EXPECT_TRUE(IsRtlValue(yes)) << yes;
  }
  for (const wchar_t* no : {L"", L"false", L"0", L"no", L"2", L"truth", L"y", L"on", L"yes!"}) {
    EXPECT_FALSE(IsRtlValue(no)) << no;
  }
}

TEST(LanguageInfoFromIni, ActiveLanguageFallsBackToTheCode) {
  EXPECT_EQ(ActiveLanguageInfo(L"xx", std::nullopt), (LanguageInfo{L"xx", L"xx", false, L"", L""}));
  EXPECT_EQ(ActiveLanguageInfo(L"xx", LanguageIniValues{}), (LanguageInfo{L"xx", L"xx", false, L"", L""}));
  EXPECT_EQ(ActiveLanguageInfo(L"ar", LanguageIniValues{{L"language_name", L"\u0627\u0644\u0639\u0631\u0628\u064a\u0629"},
                                                        {L"language_code", L"ar-EG"},
                                                        {L"translator_name", L"T"},
                                                        {L"translator_email", L"t@example.org"},
                                                        {L"is_rtl", L"Yes"}}),
            (LanguageInfo{L"\u0627\u0644\u0639\u0631\u0628\u064a\u0629", L"ar-EG", true, L"T", L"t@example.org"}));
  EXPECT_EQ(ActiveLanguageInfo(L"de", LanguageIniValues{{L"language_name", L""}, {L"language_code", L""}}),
            (LanguageInfo{L"de", L"de", false, L"", L""}));
}

TEST(LanguageInfoFromIni, ListEntryNeedsNameAndCode) {
  EXPECT_EQ(ListedLanguageInfo({{L"language_name", L"Deutsch"}, {L"language_code", L"de"}, {L"is_rtl", L"1"}}),
            (LanguageInfo{L"Deutsch", L"de", true, L"", L""}));
  EXPECT_FALSE(ListedLanguageInfo({{L"language_name", L"Deutsch"}}).has_value());
  EXPECT_FALSE(ListedLanguageInfo({{L"language_code", L"de"}}).has_value());
  EXPECT_FALSE(ListedLanguageInfo({{L"language_name", L""}, {L"language_code", L"de"}}).has_value());
  EXPECT_FALSE(ListedLanguageInfo({{L"language_name", L"Deutsch"}, {L"language_code", L""}}).has_value());
}

}  // namespace
}  // namespace vistrel
