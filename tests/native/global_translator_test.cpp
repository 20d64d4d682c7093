// The process-wide translator, tr() and the shared language list. Only this file initialises the
// translator; the death tests run in fresh processes where it has not been initialised.
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "i18n/language_list.h"
#include "i18n/tr.h"
#include "i18n/translator.h"
#include "languages_folder.h"
#include "mo_builder.h"

namespace vistrel {
namespace {

using testing::BuildMo;
using testing::LanguagesFolder;

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
        bool ok = !Translator::initialized();
        try {
          Translator::instance();
          ok = false;
        } catch (const std::runtime_error& error) {
          ok = ok && std::string(error.what()) == "Translator not initialized. Call Translator::init() first.";
        }
        ok = ok && tr(L"%d files in %s", 3, L"C:\\") == L"3 files in C:\\";
        ok = ok && tr(L"Done: 100%%") == L"Done: 100%";
        ok = ok && tr(L"Open") == L"Open";
        ok = ok && SharedAvailableLanguagesFilled().empty();
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

TEST_F(GlobalTranslator, TrTranslatesThenFormats) {
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
}

TEST_F(GlobalTranslator, BrokenTranslationsAreShownUnformatted) {
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
