// The tray menu as the program builds it, read back through the menu API.
#include <windows.h>

#include <algorithm>
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

// One line an item: "id:label", "-" for a separator, "label>" for a sub-menu, whose items follow
// it with a leading '>'.
void ReadMenu(HMENU menu, std::vector<std::wstring>& lines, const std::wstring& indent = L"") {
  for (int i = 0; i < GetMenuItemCount(menu); ++i) {
    wchar_t text[256] = {};
    MENUITEMINFOW info{sizeof info};
    info.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STRING | MIIM_SUBMENU;
    info.dwTypeData = text;
    info.cch = 255;
    EXPECT_TRUE(GetMenuItemInfoW(menu, i, TRUE, &info));
    if (info.fType & MFT_SEPARATOR) {
      lines.push_back(indent + L"-");
    } else if (info.hSubMenu) {
      lines.push_back(indent + text + L">");
      ReadMenu(info.hSubMenu, lines, indent + L">");
    } else {
      lines.push_back(indent + std::to_wstring(info.wID) + L":" + text);
    }
  }
}

std::vector<std::wstring> Menu(const TrayMenuState& state) {
  UniqueMenu menu = BuildTrayMenu(state);
  EXPECT_TRUE(menu);
  std::vector<std::wstring> lines;
  if (menu) ReadMenu(menu.get(), lines);
  return lines;
}

// The whole menu: the capture items, the recorders' items, then the rest.
std::vector<std::wstring> Expected(const std::vector<std::wstring>& recorders, bool hotkeysPaused = false) {
  std::vector<std::wstring> all = {L"40001:Capture Full Screen", L"40002:Capture Free Form",
                                   L"40003:Capture Active Window", L"-"};
  all.insert(all.end(), recorders.begin(), recorders.end());
  all.insert(all.end(), {L"-", L"40004:Configure...", L"40026:Manage multy tracks...",
                         hotkeysPaused ? L"40005:Resume Hotkeys" : L"40005:Pause Hotkeys", L"-",
                         L"Connect with us>", L">40020:Telegram Channel", L">40021:Facebook", L">40022:X (Twitter)",
                         L">40023:YouTube", L">-", L">40024:GitHub", L">-", L">40025:Contact us",
                         L"40013:Help file...", L"40014:Check for Update...", L"40006:Orvanta Website",
                         L"40012:About Vistrel...", L"40007:Exit"});
  return all;
}

TEST(TrayMenu, EachRecorderStateShowsItsOwnItemsVideoBeforeAudioBeforeGif) {
  const std::vector<std::wstring> video = {L"Video Recording>", L">40010:Pause Video",
                                           L">40011:Stop Video Recording"};
  const std::vector<std::wstring> audio = {L"Audio Recording>", L">40010:Pause Audio",
                                           L">40011:Stop Audio Recording"};
  const std::pair<TrayMenuState, std::vector<std::wstring>> rows[] = {
      {{}, {L"40008:Start Video Recording", L"40009:Start Audio Recording", L"40015:Record Animated GIF"}},
      {{1, 0, false, false}, video}, {{2, 0, false, false}, video}, {{4, 0, false, false}, video},
      {{5, 0, false, false}, video}, {{1, 1, true, false}, video},
      {{3, 0, false, false}, {L"Video Recording>", L">40010:Resume Video", L">40011:Stop Video Recording"}},
      {{0, 1, false, false}, audio},
      {{0, 3, true, false}, {L"Audio Recording>", L">40010:Resume Audio", L">40011:Stop Audio Recording"}},
      {{0, 0, true, false}, {L"40015:Stop Recording GIF"}},
  };
  for (const auto& [state, recorders] : rows) {
    EXPECT_EQ(Menu(state), Expected(recorders))
        << "video " << state.videoState << " audio " << state.audioState << " gif " << state.gifActive;
  }
  EXPECT_EQ(Menu({0, 0, false, true}), Expected(rows[0].second, true));
}

TEST(TrayMenu, EveryShippedLanguageTranslatesTheLabelsWithoutARestart) {
  Translator::init(WideToUtf8(ProgramFolder() + L"\\languages"), "LC_MESSAGES", "messages");
  const auto english = Menu({1, 0, false, false});
  for (const wchar_t* code : {L"de", L"pt-BR", L"ar"}) {
    Translator::instance().setLanguage(code);
    ASSERT_EQ(Translator::instance().getLanguageCode(), code);
    const auto translated = Menu({1, 0, false, false});
    ASSERT_EQ(translated.size(), english.size());
    int differing = 0;
    for (size_t i = 0; i < english.size(); ++i) {
      EXPECT_NE(translated[i].back(), L':') << WideToUtf8(code) << ": no label for " << WideToUtf8(english[i]);
      differing += translated[i] != english[i];
    }
    EXPECT_GE(differing, 17) << WideToUtf8(code) << ": only the four brand names may stay as they are";
    const auto has = [&](const wchar_t* line) { return std::count(translated.begin(), translated.end(), line) == 1; };
    if (code == std::wstring(L"de")) {
      EXPECT_TRUE(has(L"40001:Vollbild aufnehmen") && has(L"40007:Beenden") && has(L"Folgen Sie uns>"));
    }
    if (code == std::wstring(L"pt-BR")) {
      EXPECT_TRUE(has(L"Grava\u00e7\u00e3o de v\u00eddeo>") && has(L">40011:Parar grava\u00e7\u00e3o de v\u00eddeo"));
    }
  }
  Translator::instance().setLanguage(L"en");
  EXPECT_EQ(Menu({1, 0, false, false}), english);
}

}  // namespace
}  // namespace vistrel
