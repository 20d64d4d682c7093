// Translations on Windows: non-ASCII folders through the wide file API, UTF-16 text with
// surrogate pairs (which only a 16-bit wchar_t exercises), backslash paths in the log, and the
// user's locale.
#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "../native_support/mo_builder.h"
#include "core/log.h"
#include "core/text.h"
#include "i18n/language_list.h"
#include "i18n/system_language.h"
#include "i18n/text_format.h"
#include "i18n/translator.h"
#include "test_support.h"

namespace vistrel {
namespace {

using testing::WriteBytes;

TEST(WindowsTranslator, ReadsFromANonAsciiFolderAndLogsAMissingCatalogueWithAWindowsPath) {
  testing::TempFolder folder;
  const std::wstring languages = folder / L"\u044f\u0437\u044b\u043a\u0438 \u65e5\u672c";
  for (const wchar_t* sub : {L"", L"\\de", L"\\de\\LC_MESSAGES"}) CreateDirectoryW((languages + sub).c_str(), nullptr);
  WriteBytes(languages + L"\\de\\language.ini", "[lang]\r\nlanguage_name = Deutsch\r\nlanguage_code = de\r\n");
  WriteBytes(languages + L"\\de\\LC_MESSAGES\\messages.mo",
             testing::BuildMo({{"Settings", "Einstellungen \xF0\x9F\x98\x80"}}));
  UseLogFile(folder / L"log.txt");
  Translator translator(WideToUtf8(languages), "", "");
  translator.setLanguage(L"de");
  EXPECT_EQ(translator.translate(L"Settings"), std::wstring(L"Einstellungen \xD83D\xDE00"));
  EXPECT_EQ(translator.getLanguageName(), L"Deutsch");
  const std::vector<LanguageInfo> listed = translator.getAvailableLanguages();
  ASSERT_EQ(listed.size(), 2u);
  EXPECT_EQ(listed[1].code, L"de");

  translator.setLanguage(L"fr");
  const std::string expected = "Translator ERROR: .mo file NOT FOUND at: " +
                               WideToUtf8(languages + L"\\fr\\LC_MESSAGES\\messages.mo") + "\r\n";
  const std::string log = testing::ReadBytes(folder / L"log.txt");
  UseLogFile(L"");
  ASSERT_GE(log.size(), expected.size());
  EXPECT_EQ(log.substr(log.size() - expected.size()), expected);
  EXPECT_EQ(translator.getLanguageCode(), L"en");
}

TEST(WindowsTextFormat, PrecisionNeverSplitsASurrogatePair) {
  const FormatArg args[] = {FormatArg(L"\U0001F600x")};
  EXPECT_EQ(TryFormatText(L"[%.1s]", args), L"[]");
  EXPECT_EQ(TryFormatText(L"[%.2s]", args), std::wstring(L"[\xD83D\xDE00]"));
}

TEST(Utf16Text, PairsAndLoneSurrogatesConvert) {
  EXPECT_EQ(WideToUtf8(L"\U0001F600"), "\xF0\x9F\x98\x80");
  EXPECT_EQ(Utf8ToWide("\xF0\x9F\x98\x80"), std::wstring(L"\xD83D\xDE00"));
  EXPECT_EQ(WideToUtf8(std::wstring(1, static_cast<wchar_t>(0xD83D))), "\xEF\xBF\xBD");
  EXPECT_EQ(WideToUtf8(std::wstring(L"\xDE00x")), "\xEF\xBF\xBDx");
}

}  // namespace
}  // namespace vistrel
