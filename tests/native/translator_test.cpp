// The translator: language.ini files, catalogues in languages folders built for each test, the
// list of languages and the match with the system's language; and the process-wide translator,
// tr() and the shared language list. Only this file initialises the process-wide translator; the
// death test runs in a fresh process where it has not been initialised.
#include "i18n/translator.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "core/text.h"
#include "i18n/language_ini.h"
#include "i18n/language_list.h"
#include "i18n/tr.h"
#include "languages_folder.h"
#include "log_capture.h"
#include "mo_builder.h"

namespace vistrel {
namespace {

using testing::BuildMo;
using testing::CapturedLog;
using testing::ClearCapturedLog;
using testing::LanguagesFolder;

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
  EXPECT_EQ(languages.front(), BuiltInEnglish());
  languages.erase(languages.begin());
  std::sort(languages.begin(), languages.end(),
            [](const LanguageInfo& a, const LanguageInfo& b) { return a.code < b.code; });
  // No catalogue is needed to be listed: none of them has one.
  EXPECT_EQ(languages, (std::vector<LanguageInfo>{
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
      AddLanguage("de", "Deutsch");
      // Broken or hostile translations, as a careless or malicious catalogue could hold them.
      AddIni("xx", "[lang]\nlanguage_name = Broken\nlanguage_code = xx\n");
      AddCatalogue("xx", BuildMo({{"Saved %s", "%n%s%s%s"}, {"Count %d", "%s items"}, {"Name %s", "%s"},
                                  {"Percent", "100%"},
                                  {"Many %s", "%s %s %s %s %s %s %s %s %s %s %s %s %s %s %s %s"},
                                  {"Wide %d", "%99999999999d"}}));
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
  Translator::instance().setLanguage(L"en");
  EXPECT_EQ(tr(L"%d file", 2), L"2 file");
  EXPECT_EQ(tr(L"Done: 100%%"), L"Done: 100%");

  Translator::instance().setLanguage(L"xx");
  ASSERT_EQ(Translator::instance().getLanguageName(), L"Broken");
  EXPECT_EQ(tr(L"Saved %s", L"shot.png"), L"%n%s%s%s");         // %n is never executed
  EXPECT_EQ(tr(L"Count %d", 3), L"%s items");                    // an int is not a string
  EXPECT_EQ(tr(L"Name %s", L""), L"%s");                         // nothing would be shown
  EXPECT_EQ(tr(L"Percent"), L"100%");                            // a lone % at the end
  EXPECT_EQ(tr(L"Many %s", L"one"), L"%s %s %s %s %s %s %s %s %s %s %s %s %s %s %s %s");
  EXPECT_EQ(tr(L"Wide %d", 1), L"%99999999999d");                // no giant allocation
}

TEST_F(GlobalTranslator, SharedListIsFilledOnlyWhenEmptyAndReplacedByARefill) {
  const std::vector<LanguageInfo> own{{L"Mine", L"mine", false, L"", L""}};
  SetSharedAvailableLanguages(own);
  EXPECT_EQ(SharedAvailableLanguagesFilled(), own);
  EXPECT_EQ(SharedAvailableLanguages(), own);

  const std::vector<LanguageInfo> fresh = RefillSharedAvailableLanguages();
  EXPECT_EQ(fresh, Translator::instance().getAvailableLanguages());
  EXPECT_EQ(fresh.front(), BuiltInEnglish());
  EXPECT_EQ(MatchSystemLanguage(L"de-AT", fresh), L"de") << "the folder's languages are listed";
  EXPECT_EQ(SharedAvailableLanguages(), fresh);

  SetSharedAvailableLanguages({});
  EXPECT_EQ(SharedAvailableLanguagesFilled(), fresh);
  EXPECT_EQ(SharedAvailableLanguages(), fresh);
}

}  // namespace
}  // namespace vistrel
