// What the settings dialog shows and stores, without its windows.
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "config/hotkey_text.h"
#include "ui/settings_texts.h"

namespace vistrel {
namespace {

TEST(SoundValueForChosenFile, KeepsThePathInsideTheSoundsFolderOnly) {
  const std::wstring sounds = L"C:\\Program Files\\Vistrel\\sounds";
  EXPECT_EQ(SoundValueForChosenFile(L"C:\\Program Files\\Vistrel\\sounds\\beep.wav", sounds), L"beep.wav");
  EXPECT_EQ(SoundValueForChosenFile(L"c:\\PROGRAM FILES\\vistrel\\SOUNDS\\Beep.wav", sounds), L"Beep.wav");
  EXPECT_EQ(SoundValueForChosenFile(L"C:\\Program Files\\Vistrel\\sounds\\extra\\beep.wav", sounds + L"\\"),
            L"extra\\beep.wav");
  // A folder whose name only starts like the sounds folder, and files elsewhere, keep full paths.
  for (const wchar_t* elsewhere : {L"C:\\Program Files\\Vistrel\\sounds2\\beep.wav",
                                   L"C:\\Program Files\\Vistrel\\beep.wav", L"D:\\beep.wav",
                                   L"C:\\Program Files\\Vistrel\\sounds\\"}) {
    EXPECT_EQ(SoundValueForChosenFile(elsewhere, sounds), elsewhere);
  }
  EXPECT_EQ(SoundValueForChosenFile(L"D:\\beep.wav", L""), L"D:\\beep.wav");
}

TEST(FrameRateItemFor, PicksTheStoredRateOrTheSecondItem) {
  const std::vector<int> rates = {30, 60, 90, 120};
  EXPECT_EQ(FrameRateItemFor(rates, 30), 0);
  EXPECT_EQ(FrameRateItemFor(rates, 120), 3);
  EXPECT_EQ(FrameRateItemFor(rates, 25), 1);
  EXPECT_EQ(FrameRateItemFor(std::vector<int>{30}, 25), 0);
  EXPECT_EQ(FrameRateItemFor(std::vector<int>{}, 25), -1);
  EXPECT_EQ(FrameRateLabel(60, L"Smooth"), L"60 FPS (Smooth)");
}

TEST(SettingsTables, EveryHotkeyAndSoundEventHasOneRow) {
  AppConfig config;
  std::set<const HotkeyBinding*> bindings;
  for (int feature = 0; feature < kHotkeyFeatureCount; ++feature) {
    bindings.insert(BindingForHotkey(config, feature + 1));
  }
  EXPECT_EQ(bindings.size(), 13u);
  EXPECT_EQ(bindings.count(nullptr), 0u);

  // Each event edits its own field, and together they cover the whole record.
  SoundEffects sounds;
  for (size_t i = 0; i < kSoundEvents.size(); ++i) sounds.*(kSoundEvents[i].field) = std::to_wstring(i);
  SoundEffects expected;
  expected.CaptureFullscreen = L"0";
  expected.CaptureFreeform = L"1";
  expected.CaptureWindow = L"2";
  expected.CaptureKeyboard = L"3";
  expected.CaptureMouse = L"4";
  expected.RecordingStart = L"5";
  expected.RecordingStop = L"6";
  expected.RecordingPause = L"7";
  expected.RecordingResume = L"8";
  expected.MouseLeftClick = L"9";
  expected.MouseRightClick = L"10";
  expected.KeyboardMenu = L"11";
  expected.KeyboardEnter = L"12";
  expected.exit_app = L"13";
  EXPECT_EQ(sounds, expected);
}

TEST(SettingsTables, PagesUseTheirTemplatesOnce) {
  std::set<int> templates;
  for (const SettingsPage& page : kSettingsPages) {
    templates.insert(page.templateId);
    EXPECT_FALSE(TemplateTexts(page.templateId).empty()) << page.templateId;
  }
  EXPECT_EQ(templates, (std::set<int>{202, 203, 204, 205, 207, 208, 209, 210}));
  EXPECT_EQ(kSettingsPages[kPageHotkeys].templateId, 205);
  EXPECT_EQ(kSettingsPages[kPageSoundEffects].templateId, 209);
  EXPECT_TRUE(TemplateTexts(999).empty());
}

}  // namespace
}  // namespace vistrel
