// language.ini: the metadata file of a language folder.
#include "i18n/language_ini.h"

#include <string>

#include <gtest/gtest.h>

namespace vistrel {
namespace {

TEST(LanguageIni, ReadsTheKeysOfTheLangSectionOnly) {
  struct Row {
    std::string text;
    LanguageIniValues expected;
  };
  const Row rows[] = {
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
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(ParseLanguageIni(row.text), row.expected);
  }
}

TEST(LanguageIni, RightToLeftValues) {
  for (const wchar_t* yes : {L"true", L"TRUE", L"True", L"1", L"yes", L"YeS"}) EXPECT_TRUE(IsRtlValue(yes)) << yes;
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
