// The translator on languages folders built for each test.
#include "i18n/translator.h"

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "core/text.h"
#include "i18n/language_list.h"
#include "languages_folder.h"
#include "log_capture.h"
#include "mo_builder.h"

namespace vistrel {
namespace {

using testing::BuildMo;
using testing::CapturedLog;
using testing::ClearCapturedLog;
using testing::LanguagesFolder;

const std::wstring kMenuOpen = L"\u00d6ffnen (Men\u00fc)";
const std::wstring kSettings = L"\u041d\u0430\u0441\u0442\u0440\u043e\u0439\u043a\u0438 \u65e5\u672c \U0001F600";

class TranslatorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearCapturedLog();
    folder_.AddIni("de",
                   "[lang]\n"
                   "language_name = Deutsch\n"
                   "language_code = de\n"
                   "translator_name = Anna\n"
                   "translator_email = anna@example.org\n");
    folder_.AddCatalogue("de", testing::TestCatalogueBytes());
  }

  LanguagesFolder folder_;
  Translator translator_{folder_.utf8(), "", ""};
};

TEST_F(TranslatorTest, NothingIsTranslatedBeforeALanguageIsSet) {
  EXPECT_EQ(translator_.translate(L"Open"), L"Open");
  EXPECT_EQ(translator_.getLanguageName(), L"English");
  EXPECT_EQ(translator_.getLanguageCode(), L"en");
}

TEST_F(TranslatorTest, ActiveLanguageTranslatesAndDescribesItself) {
  translator_.setLanguage(L"de");
  EXPECT_EQ(translator_.translate(L"Open"), kMenuOpen);
  EXPECT_EQ(translator_.translate(L"%d file"), L"%d Datei");
  EXPECT_EQ(translator_.translate(L"Gr\u00fc\u00dfe"), L"Greetings");
  EXPECT_EQ(translator_.translate(L"Settings"), kSettings);
  // Absent, untranslated, or differing in case: the English text.
  EXPECT_EQ(translator_.translate(L"Not in the catalogue"), L"Not in the catalogue");
  EXPECT_EQ(translator_.translate(L"Untranslated"), L"Untranslated");
  EXPECT_EQ(translator_.translate(L"open"), L"open");
  EXPECT_EQ(translator_.translate(L""), L"");
  EXPECT_EQ(translator_.getLanguageName(), L"Deutsch");
  EXPECT_EQ(translator_.getLanguageCode(), L"de");
  EXPECT_FALSE(translator_.isRightToLeft());
  EXPECT_EQ(translator_.getLanguageInfo(), (LanguageInfo{L"Deutsch", L"de", false, L"Anna", L"anna@example.org"}));
  EXPECT_TRUE(CapturedLog().empty());
}

TEST_F(TranslatorTest, EnglishOrEmptyCodeDropsTheCatalogue) {
  for (const wchar_t* english : {L"en", L""}) {
    translator_.setLanguage(L"de");
    ASSERT_EQ(translator_.translate(L"Save"), L"Speichern");
    translator_.setLanguage(english);
    EXPECT_EQ(translator_.translate(L"Save"), L"Save") << english;
    EXPECT_EQ(translator_.getLanguageName(), L"English") << english;
    EXPECT_EQ(translator_.getLanguageCode(), L"en") << english;
    EXPECT_EQ(translator_.getLanguageInfo(), LanguageInfo{}) << english;
  }
  // "en" never looks for a catalogue, so nothing is logged even without an "en" folder.
  EXPECT_TRUE(CapturedLog().empty());
}

TEST_F(TranslatorTest, MissingCatalogueIsLoggedAndEnglishIsUsed) {
  folder_.AddIni("fr", "[lang]\nlanguage_name = Fran\xC3\xA7" "ais\nlanguage_code = fr\n");
  translator_.setLanguage(L"de");
  translator_.setLanguage(L"fr");
  const std::wstring expectedPath =
      Utf8ToWide(folder_.utf8()) + L"/fr/LC_MESSAGES/messages.mo";
  EXPECT_EQ(CapturedLog(), std::vector<std::wstring>{L"Translator ERROR: .mo file NOT FOUND at: " + expectedPath});
  EXPECT_EQ(translator_.translate(L"Save"), L"Save");
  EXPECT_EQ(translator_.getLanguageName(), L"English");
  EXPECT_EQ(translator_.getLanguageCode(), L"en");
}

TEST_F(TranslatorTest, CodeIsCaseSensitiveAsAFolderName) {
  // The folder is "de"; on a case-sensitive file system "DE" is another folder.
  translator_.setLanguage(L"DE");
  EXPECT_EQ(CapturedLog().size(), 1u);
  EXPECT_EQ(translator_.getLanguageCode(), L"en");
}

TEST_F(TranslatorTest, MissingLanguageIniUsesTheCodeAsName) {
  folder_.AddCatalogue("xx", testing::TestCatalogueBytes());
  translator_.setLanguage(L"xx");
  EXPECT_EQ(translator_.translate(L"Save"), L"Speichern");
  EXPECT_EQ(translator_.getLanguageName(), L"xx");
  EXPECT_EQ(translator_.getLanguageCode(), L"xx");
}

TEST_F(TranslatorTest, IniWithoutNameOrCodeFallsBackToTheCode) {
  folder_.AddCatalogue("he", BuildMo({{"Save", "\xD7\xA9\xD7\x9E\xD7\x95\xD7\xA8"}}));
  folder_.AddIni("he", "[lang]\nis_rtl = TRUE\ntranslator_name = T\n");
  translator_.setLanguage(L"he");
  EXPECT_EQ(translator_.translate(L"Save"), L"\u05e9\u05de\u05d5\u05e8");
  EXPECT_EQ(translator_.getLanguageName(), L"he");
  EXPECT_EQ(translator_.getLanguageCode(), L"he");
  EXPECT_TRUE(translator_.isRightToLeft());
  EXPECT_EQ(translator_.getLanguageInfo().translatorName, L"T");
}

TEST_F(TranslatorTest, LanguageCodeFromIniIsReportedAsWritten) {
  folder_.AddCatalogue("pt-BR", testing::TestCatalogueBytes());
  folder_.AddIni("pt-BR", "[lang]\nlanguage_name = Portugu\xC3\xAAs (Brasil)\nlanguage_code = pt_BR\n");
  translator_.setLanguage(L"pt-BR");
  EXPECT_EQ(translator_.getLanguageName(), L"Portugu\u00eas (Brasil)");
  EXPECT_EQ(translator_.getLanguageCode(), L"pt_BR");
}

TEST_F(TranslatorTest, EmptyCatalogueStillActivatesTheLanguage) {
  folder_.AddCatalogue("eo", "");
  folder_.AddIni("eo", "[lang]\nlanguage_name = Esperanto\nlanguage_code = eo\n");
  translator_.setLanguage(L"eo");
  EXPECT_EQ(translator_.translate(L"Save"), L"Save");
  EXPECT_EQ(translator_.getLanguageName(), L"Esperanto");
  EXPECT_TRUE(CapturedLog().empty());
}

TEST_F(TranslatorTest, CategoryAndDomainCanBeGivenPerCall) {
  folder_.AddCatalogue("de", BuildMo({{"Save", "Sichern"}}), "custom", "other");
  translator_.setLanguage(L"de", "custom", "other");
  EXPECT_EQ(translator_.translate(L"Save"), L"Sichern");
  translator_.setLanguage(L"de");
  EXPECT_EQ(translator_.translate(L"Save"), L"Speichern");
  translator_.setLanguage(L"de", "custom");  // custom/messages.mo does not exist
  EXPECT_EQ(translator_.translate(L"Save"), L"Save");
  EXPECT_EQ(CapturedLog(), std::vector<std::wstring>{L"Translator ERROR: .mo file NOT FOUND at: " +
                                                     Utf8ToWide(folder_.utf8()) + L"/de/custom/messages.mo"});
}

TEST(TranslatorPaths, DefaultsForCategoryAndDomain) {
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
  std::vector<std::thread> workers;
  for (int i = 0; i < 3; ++i) {
    workers.emplace_back([&] {
      while (!stop) {
        const std::wstring text = translator_.translate(L"Settings");
        if (text != L"Settings" && text != kSettings) ++bad;
        const std::wstring name = translator_.getLanguageName();
        if (name != L"English" && name != L"Deutsch") ++bad;
      }
    });
  }
  for (int i = 0; i < 200; ++i) translator_.setLanguage(i % 2 ? L"en" : L"de");
  stop = true;
  for (std::thread& worker : workers) worker.join();
  EXPECT_EQ(bad, 0);
}

// The available languages.

std::vector<std::wstring> Codes(const std::vector<LanguageInfo>& languages) {
  std::vector<std::wstring> codes;
  for (const LanguageInfo& language : languages) codes.push_back(language.code);
  return codes;
}

TEST(AvailableLanguages, WithoutAFolderOnlyEnglish) {
  const LanguagesFolder folder;
  const Translator missing(folder.utf8() + "/absent", "", "");
  EXPECT_EQ(missing.getAvailableLanguages(), std::vector<LanguageInfo>{BuiltInEnglish()});
  testing::WriteFile(folder.path() / "file", "[lang]\n");
  const Translator notAFolder(folder.utf8() + "/file", "", "");
  EXPECT_EQ(notAFolder.getAvailableLanguages(), std::vector<LanguageInfo>{BuiltInEnglish()});
  EXPECT_EQ(BuiltInEnglish(), (LanguageInfo{L"English (Default)", L"en", false, L"Orvanta", L""}));
}

TEST(AvailableLanguages, UsableFoldersAfterTheBuiltInEnglish) {
  const LanguagesFolder folder;
  folder.AddIni("de", "[lang]\nlanguage_name = Deutsch\nlanguage_code = de\ntranslator_name = Anna\n"
                      "translator_email = a@example.org\n");
  folder.AddIni("ar", "[lang]\nlanguage_name = \xD8\xB9\xD8\xB1\xD8\xA8\xD9\x8A\nlanguage_code = ar\nis_rtl = yes\n");
  folder.AddIni("nocode", "[lang]\nlanguage_name = No code\n");
  folder.AddIni("noname", "[lang]\nlanguage_name =\nlanguage_code = noname\n");
  folder.AddIni("bom", "\xEF\xBB\xBF[lang]\nlanguage_name = Bom\nlanguage_code = bom\n");
  folder.AddCatalogue("noini", testing::TestCatalogueBytes());
  testing::WriteFile(folder.path() / "language.ini", "[lang]\nlanguage_name = Top\nlanguage_code = top\n");
  std::filesystem::create_directories(folder.path() / "ini-is-folder" / "language.ini");
  folder.AddIni("deep/nested", "[lang]\nlanguage_name = Nested\nlanguage_code = nested\n");

  const Translator translator(folder.utf8(), "", "");
  std::vector<LanguageInfo> languages = translator.getAvailableLanguages();
  ASSERT_FALSE(languages.empty());
  EXPECT_EQ(languages.front(), BuiltInEnglish());
  languages.erase(languages.begin());
  std::sort(languages.begin(), languages.end(),
            [](const LanguageInfo& a, const LanguageInfo& b) { return a.code < b.code; });
  // No catalogue is needed to be listed: "de" and "ar" have none.
  EXPECT_EQ(languages, (std::vector<LanguageInfo>{
                           {L"\u0639\u0631\u0628\u064a", L"ar", true, L"", L""},
                           {L"Deutsch", L"de", false, L"Anna", L"a@example.org"},
                       }));
}

TEST(AvailableLanguages, AnEnglishFolderReplacesTheBuiltInEntry) {
  for (const char* english : {"en", "en-US", "en_US"}) {
    const LanguagesFolder folder;
    folder.AddIni("de", "[lang]\nlanguage_name = Deutsch\nlanguage_code = de\n");
    folder.AddIni(english, std::string("[lang]\nlanguage_name = English (US)\nlanguage_code = ") + english + "\n");
    const Translator translator(folder.utf8(), "", "");
    std::vector<std::wstring> codes = Codes(translator.getAvailableLanguages());
    std::sort(codes.begin(), codes.end());
    EXPECT_EQ(codes, (std::vector<std::wstring>{L"de", Utf8ToWide(english)})) << english;
  }
}

TEST(AvailableLanguages, OtherEnglishSpellingsKeepTheBuiltInEntry) {
  const LanguagesFolder folder;
  folder.AddIni("en-GB", "[lang]\nlanguage_name = English (UK)\nlanguage_code = en-GB\n");
  folder.AddIni("EN", "[lang]\nlanguage_name = Shouting\nlanguage_code = EN\n");
  const Translator translator(folder.utf8(), "", "");
  const std::vector<LanguageInfo> languages = translator.getAvailableLanguages();
  ASSERT_EQ(languages.size(), 3u);
  EXPECT_EQ(languages.front(), BuiltInEnglish());
}

// Following the system's language.

std::vector<LanguageInfo> WithCodes(std::initializer_list<const wchar_t*> codes) {
  std::vector<LanguageInfo> languages{BuiltInEnglish()};
  for (const wchar_t* code : codes) languages.push_back({code, code, false, L"", L""});
  return languages;
}

TEST(MatchSystemLanguage, FullNameBeforeShortName) {
  EXPECT_EQ(MatchSystemLanguage(L"pt-BR", WithCodes({L"pt", L"pt-BR"})), L"pt-BR");
  EXPECT_EQ(MatchSystemLanguage(L"pt-BR", WithCodes({L"pt-BR", L"pt"})), L"pt-BR");
  EXPECT_EQ(MatchSystemLanguage(L"pt-BR", WithCodes({L"pt"})), L"pt");
  EXPECT_EQ(MatchSystemLanguage(L"pt-PT", WithCodes({L"pt-BR", L"pt"})), L"pt");
}

TEST(MatchSystemLanguage, IgnoresCaseAndReturnsTheCodeAsWritten) {
  EXPECT_EQ(MatchSystemLanguage(L"PT-br", WithCodes({L"pt-BR"})), L"pt-BR");
  EXPECT_EQ(MatchSystemLanguage(L"de-DE", WithCodes({L"DE"})), L"DE");
  EXPECT_EQ(MatchSystemLanguage(L"de", WithCodes({L"De"})), L"De");
}

TEST(MatchSystemLanguage, FirstOfEqualMatchesWins) {
  std::vector<LanguageInfo> languages = WithCodes({L"pt", L"PT"});
  EXPECT_EQ(MatchSystemLanguage(L"pt-AO", languages), L"pt");
  std::swap(languages[1], languages[2]);
  EXPECT_EQ(MatchSystemLanguage(L"pt-AO", languages), L"PT");
}

TEST(MatchSystemLanguage, OtherwiseEnglish) {
  EXPECT_EQ(MatchSystemLanguage(L"ja-JP", WithCodes({L"de", L"pt"})), L"en");
  EXPECT_EQ(MatchSystemLanguage(L"", WithCodes({L"de"})), L"en");
  EXPECT_EQ(MatchSystemLanguage(L"d", WithCodes({L"de"})), L"en");
  EXPECT_EQ(MatchSystemLanguage(L"de-DE", {}), L"en");
  // "en-US" matches an "en-US" folder by its full name.
  EXPECT_EQ(MatchSystemLanguage(L"en-US", WithCodes({L"en-US"})), L"en-US");
}

}  // namespace
}  // namespace vistrel
