// Translations on Windows: non-ASCII folders through the wide file API, UTF-16 text with
// surrogate pairs, backslash paths in the log, and the user's locale.
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
#include "temp_folder.h"

namespace vistrel {
namespace {

using testing::BuildMo;
using testing::ReadBytes;
using testing::TempFolder;
using testing::WriteBytes;

class WindowsTranslator : public ::testing::Test {
 protected:
  void SetUp() override {
    CreateDirectoryW(languages_.c_str(), nullptr);
    CreateDirectoryW((languages_ + L"\\de").c_str(), nullptr);
    CreateDirectoryW((languages_ + L"\\de\\LC_MESSAGES").c_str(), nullptr);
    WriteBytes(languages_ + L"\\de\\language.ini",
               "[lang]\r\nlanguage_name = Deutsch\r\nlanguage_code = de\r\n");
    WriteBytes(languages_ + L"\\de\\LC_MESSAGES\\messages.mo",
               BuildMo({{"Settings", "Einstellungen \xF0\x9F\x98\x80"}, {"%d files", "%d Dateien"}}));
    UseLogFile(folder_ / L"log.txt");
  }
  void TearDown() override { UseLogFile(L""); }

  TempFolder folder_;
  const std::wstring languages_ = folder_ / L"\u044f\u0437\u044b\u043a\u0438 \u65e5\u672c";
};

TEST_F(WindowsTranslator, ReadsFromANonAsciiFolder) {
  Translator translator(WideToUtf8(languages_), "", "");
  translator.setLanguage(L"de");
  EXPECT_EQ(translator.translate(L"Settings"), std::wstring(L"Einstellungen \xD83D\xDE00"));
  EXPECT_EQ(translator.getLanguageName(), L"Deutsch");
  const std::vector<LanguageInfo> languages = translator.getAvailableLanguages();
  ASSERT_EQ(languages.size(), 2u);
  EXPECT_EQ(languages[1].code, L"de");
}

TEST_F(WindowsTranslator, MissingCatalogueIsLoggedWithAWindowsPath) {
  Translator translator(WideToUtf8(languages_), "", "");
  translator.setLanguage(L"fr");
  const std::string expected = "Translator ERROR: .mo file NOT FOUND at: " +
                               WideToUtf8(languages_ + L"\\fr\\LC_MESSAGES\\messages.mo") + "\r\n";
  const std::string log = ReadBytes(folder_ / L"log.txt");
  ASSERT_GE(log.size(), expected.size());
  EXPECT_EQ(log.substr(log.size() - expected.size()), expected);
  EXPECT_EQ(translator.getLanguageCode(), L"en");
}

TEST(WindowsSystemLanguage, FollowsTheUserLocale) {
  wchar_t buffer[LOCALE_NAME_MAX_LENGTH] = {};
  ASSERT_GT(GetUserDefaultLocaleName(buffer, LOCALE_NAME_MAX_LENGTH), 1);
  const std::wstring locale = buffer;
  const std::wstring language = locale.substr(0, 2);

  SetSharedAvailableLanguages({{L"Other", L"zz", false, L"", L""}, {L"Language", language, false, L"", L""}});
  EXPECT_EQ(DetectSystemLanguage(), language) << WideToUtf8(locale);
  SetSharedAvailableLanguages({{L"Other", L"zz", false, L"", L""}, {L"Language", language, false, L"", L""},
                               {L"Full", locale, false, L"", L""}});
  EXPECT_EQ(DetectSystemLanguage(), locale);
  SetSharedAvailableLanguages({{L"Other", L"zz", false, L"", L""}});
  EXPECT_EQ(DetectSystemLanguage(), L"en");
  SetSharedAvailableLanguages({});
}

TEST(WindowsTextFormat, PrecisionNeverSplitsASurrogatePair) {
  const FormatArg args[] = {FormatArg(L"\U0001F600x")};
  EXPECT_EQ(TryFormatText(L"[%.1s]", args), L"[]");
  EXPECT_EQ(TryFormatText(L"[%.2s]", args), std::wstring(L"[\xD83D\xDE00]"));
}

}  // namespace
}  // namespace vistrel
