// The tray menu as the program builds it, read back through the menu API.
#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/messages.h"
#include "app/tray.h"
#include "core/sound.h"
#include "core/text.h"
#include "i18n/translator.h"

namespace vistrel {
namespace {

struct Item {
  UINT id = 0;  // 0 for separators and sub-menus
  std::wstring label;
  bool separator = false;
  std::vector<Item> children;
};

std::vector<Item> ReadMenu(HMENU menu) {
  std::vector<Item> items;
  const int count = GetMenuItemCount(menu);
  for (int i = 0; i < count; ++i) {
    wchar_t text[256] = {};
    MENUITEMINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STRING | MIIM_SUBMENU;
    info.dwTypeData = text;
    info.cch = 255;
    EXPECT_TRUE(GetMenuItemInfoW(menu, i, TRUE, &info));
    Item item;
    item.separator = (info.fType & MFT_SEPARATOR) != 0;
    item.label = text;
    if (info.hSubMenu) {
      item.children = ReadMenu(info.hSubMenu);
    } else if (!item.separator) {
      item.id = info.wID;
    }
    items.push_back(item);
  }
  return items;
}

std::vector<Item> Menu(const TrayMenuState& state) {
  UniqueMenu menu = BuildTrayMenu(state);
  EXPECT_TRUE(menu);
  return ReadMenu(menu.get());
}

// "id:label", "-" for a separator, "label>" for a sub-menu: a compact picture of one level.
std::vector<std::wstring> Shape(const std::vector<Item>& items) {
  std::vector<std::wstring> shape;
  for (const Item& item : items) {
    if (item.separator) shape.push_back(L"-");
    else if (!item.children.empty()) shape.push_back(item.label + L">");
    else shape.push_back(std::to_wstring(item.id) + L":" + item.label);
  }
  return shape;
}

const std::vector<std::wstring> kTail = {
    L"-", L"40004:Configure...", L"40026:Manage multy tracks...", L"40005:Pause Hotkeys", L"-",
    L"Connect with us>", L"40013:Help file...", L"40014:Check for Update...",
    L"40006:Orvanta Website", L"40012:About Vistrel...", L"40007:Exit"};

std::vector<std::wstring> WithTail(std::vector<std::wstring> head) {
  head.insert(head.end(), kTail.begin(), kTail.end());
  return head;
}

const std::vector<std::wstring> kCaptures = {L"40001:Capture Full Screen", L"40002:Capture Free Form",
                                             L"40003:Capture Active Window", L"-"};

std::vector<std::wstring> Captures(std::vector<std::wstring> then) {
  std::vector<std::wstring> all = kCaptures;
  all.insert(all.end(), then.begin(), then.end());
  return WithTail(all);
}

TEST(TrayMenu, IdleOffersTheThreeStartItems) {
  EXPECT_EQ(Shape(Menu({})), Captures({L"40008:Start Video Recording", L"40009:Start Audio Recording",
                                       L"40015:Record Animated GIF"}));
}

TEST(TrayMenu, VideoRecordingShowsItsSubmenuAtTheFifthPosition) {
  for (int state : {1, 2, 4, 5}) {
    const auto items = Menu({state, 0, false, false});
    EXPECT_EQ(Shape(items), Captures({L"Video Recording>"})) << "state " << state;
    EXPECT_EQ(Shape(items[4].children),
              (std::vector<std::wstring>{L"40010:Pause Video", L"40011:Stop Video Recording"}));
  }
  const auto paused = Menu({3, 0, false, false});
  EXPECT_EQ(Shape(paused[4].children),
            (std::vector<std::wstring>{L"40010:Resume Video", L"40011:Stop Video Recording"}));
}

TEST(TrayMenu, VideoComesBeforeAudioAndGif) {
  const auto items = Menu({1, 1, true, false});
  EXPECT_EQ(items[4].label, L"Video Recording");
  EXPECT_EQ(Shape(items).size(), Captures({L"x"}).size());
}

TEST(TrayMenu, AudioRecordingShowsItsSubmenu) {
  const auto recording = Menu({0, 1, false, false});
  EXPECT_EQ(Shape(recording), Captures({L"Audio Recording>"}));
  EXPECT_EQ(Shape(recording[4].children),
            (std::vector<std::wstring>{L"40010:Pause Audio", L"40011:Stop Audio Recording"}));
  const auto paused = Menu({0, 3, true, false});
  EXPECT_EQ(Shape(paused[4].children),
            (std::vector<std::wstring>{L"40010:Resume Audio", L"40011:Stop Audio Recording"}));
}

TEST(TrayMenu, GifRecordingOffersOnlyItsStopItem) {
  EXPECT_EQ(Shape(Menu({0, 0, true, false})), Captures({L"40015:Stop Recording GIF"}));
}

TEST(TrayMenu, PausedHotkeysOfferResume) {
  const auto items = Menu({0, 0, false, true});
  EXPECT_EQ(Shape(items)[10], L"40005:Resume Hotkeys");
}

TEST(TrayMenu, ConnectSubmenuListsTheMakersPages) {
  const auto items = Menu({});
  const auto& connect = items[12];
  EXPECT_EQ(Shape(connect.children),
            (std::vector<std::wstring>{L"40020:Telegram Channel", L"40021:Facebook",
                                       L"40022:X (Twitter)", L"40023:YouTube", L"-",
                                       L"40024:GitHub", L"-", L"40025:Contact us"}));
}

// The shipped catalogues beside the test program.
class TranslatedTrayMenu : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    Translator::init(WideToUtf8(ProgramFolder() + L"\\languages"), "LC_MESSAGES", "messages");
  }
  void TearDown() override { Translator::instance().setLanguage(L"en"); }
};

TEST_F(TranslatedTrayMenu, FollowsALanguageSwitchWithoutRestart) {
  Translator::instance().setLanguage(L"de");
  ASSERT_EQ(Translator::instance().getLanguageCode(), L"de");
  auto items = Menu({});
  EXPECT_EQ(items[0].label, L"Vollbild aufnehmen");
  EXPECT_EQ(items[17].label, L"Beenden");
  EXPECT_EQ(items[12].label, L"Folgen Sie uns");
  Translator::instance().setLanguage(L"pt-BR");
  items = Menu({1, 0, false, false});
  EXPECT_EQ(items[4].label, L"Gravação de vídeo");
  EXPECT_EQ(items[4].children[1].label, L"Parar gravação de vídeo");
  Translator::instance().setLanguage(L"en");
  EXPECT_EQ(Menu({})[0].label, L"Capture Full Screen");
}

TEST_F(TranslatedTrayMenu, EveryShippedLanguageTranslatesEveryLabel) {
  const auto english = Menu({});
  for (const wchar_t* code : {L"de", L"pt-BR", L"ar"}) {
    Translator::instance().setLanguage(code);
    ASSERT_EQ(Translator::instance().getLanguageCode(), code);
    const auto translated = Menu({});
    ASSERT_EQ(translated.size(), english.size());
    int differing = 0;
    for (size_t i = 0; i < english.size(); ++i) {
      EXPECT_FALSE(!english[i].separator && translated[i].label.empty()) << code << " item " << i;
      if (translated[i].label != english[i].label) ++differing;
    }
    EXPECT_GE(differing, 12) << code;
  }
}

}  // namespace
}  // namespace vistrel
