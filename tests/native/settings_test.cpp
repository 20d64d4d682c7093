// The settings: the table against an in-memory store (defaults, reading rules, write order), and
// what the settings dialog shows and stores, without its windows.
#include <cwchar>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "config/app_config.h"
#include "config/hotkey_text.h"
#include "ui/settings_texts.h"

namespace vistrel {
namespace {

// An INI file in memory that also keeps the order of the writes.
class MapStore : public SettingsStore {
 public:
  using Key = std::pair<std::wstring, std::wstring>;

  int ReadInt(const wchar_t* section, const wchar_t* key, int fallback) override {
    const auto it = values.find({section, key});
    return it == values.end() ? fallback : static_cast<int>(std::wcstol(it->second.c_str(), nullptr, 10));
  }
  std::wstring ReadString(const wchar_t* section, const wchar_t* key, const std::wstring& fallback) override {
    const auto it = values.find({section, key});
    return it == values.end() ? fallback : it->second;
  }
  void Write(const wchar_t* section, const wchar_t* key, const std::wstring& value) override {
    values[{section, key}] = value;
    order.emplace_back(section, key);
  }

  std::map<Key, std::wstring> values;
  std::vector<Key> order;
};

const KnownFolders kFolders{L"P", L"V", L"M"};

AppConfig ReadFrom(MapStore& store) {
  AppConfig config = DefaultAppConfig(kFolders);
  ReadSettings(store, config);
  return config;
}

TEST(SettingsTable, NothingStoredGivesTheDefaultsAndUnknownFoldersNoPaths) {
  MapStore store;
  EXPECT_EQ(ReadFrom(store), DefaultAppConfig(kFolders));
  const AppConfig none = DefaultAppConfig({});
  EXPECT_EQ(none.ScreenshotPath + none.VideoPath + none.AudioPath + none.GifPath, L"");
}

// What a new config.ini holds: every key once, each section in one run, in the file's order, with its default.
TEST(SettingsTable, WritesEveryKeyOnceInFileOrderWithItsDefault) {
  MapStore store;
  WriteSettings(store, DefaultAppConfig(kFolders));
  EXPECT_EQ(store.values.size(), store.order.size()) << "no key is written twice";
  std::vector<std::wstring> lines;
  std::wstring section;
  for (const MapStore::Key& key : store.order) {
    if (key.first != section) lines.push_back(L"[" + (section = key.first) + L"]");
    lines.push_back(key.second + L"=" + store.values[key]);
  }
  const std::vector<std::wstring> expected = {
      L"[General]", L"Language=Default", L"IncludeCursor=1", L"AutoCheckUpdates=1",
      L"PlayStartupSound=1", L"AutoOpenedConf=0", L"ScreenReaderNotifications=1",
      L"[Hotkeys]", L"FullScreenModifiers=6", L"FullScreenVK=116", L"FullScreenWinKey=0",
      L"FreeFormModifiers=6", L"FreeFormVK=117", L"FreeFormWinKey=0",
      L"WindowModifiers=6", L"WindowVK=118", L"WindowWinKey=0",
      L"KeyboardModifiers=6", L"KeyboardVK=119", L"KeyboardWinKey=0",
      L"MouseModifiers=0", L"MouseVK=0", L"MouseWinKey=0",
      L"[Options]", L"OutputMode=2", L"PlaySound=1",
      L"[VideoHotkeys]", L"StartStopModifiers=7", L"StartStopVK=116", L"StartStopWinKey=0",
      L"PauseResumeModifiers=7", L"PauseResumeVK=117", L"PauseResumeWinKey=0",
      L"[VideoOptions]", L"VideoMode=0", L"AudioSource=1", L"VideoQuality=2", L"VideoFramerate=60",
      L"SystemAudioVolume=100", L"PlayVideoEventSounds=1",
      L"[AudioHotkeys]", L"StartStopModifiers=7", L"StartStopVK=118", L"StartStopWinKey=0",
      L"PauseResumeModifiers=7", L"PauseResumeVK=119", L"PauseResumeWinKey=0",
      L"[AudioOptions]", L"AudioSource=3", L"AudioQuality=2", L"PlayAudioEventSounds=1",
      L"AudioFormat=0", L"SystemAudioRecVolume=100",
      L"[GifHotkeys]", L"StartStopModifiers=6", L"StartStopVK=121", L"StartStopWinKey=0",
      L"[GifOptions]", L"GifMode=1", L"GifDuration=0", L"PlayGifEventSounds=1",
      L"[AppHotkeys]", L"OpenConfigModifiers=7", L"OpenConfigVK=121", L"OpenConfigWinKey=0",
      L"OpenTracsConfigModifiers=7", L"OpenTracsConfigVK=122", L"OpenTracsConfigWinKey=0",
      L"ExitAppModifiers=7", L"ExitAppVK=115", L"ExitAppWinKey=0",
      L"[Paths]", L"ScreenshotPath=P\\Vistrel", L"VideoPath=V\\Vistrel",
      L"AudioPath=M\\Vistrel", L"GifPath=P\\Vistrel",
      L"[SoundEffects]", L"MouseLeftClick=mouse_click.wav", L"MouseRightClick=mouse_click.wav",
      L"KeyboardMenu=None", L"KeyboardEnter=None", L"CaptureFullscreen=full.wav",
      L"CaptureFreeform=capture.wav", L"CaptureWindow=window.wav", L"CaptureKeyboard=control.wav",
      L"CaptureMouse=mouse.wav", L"RecordingStart=rec_start.wav", L"RecordingStop=rec_stop.wav",
      L"RecordingPause=rec_pause.wav", L"RecordingResume=rec_resume.wav", L"exit_app=exit.wav",
      L"[Devices]", L"MicrophoneID=Default", L"SystemAudioID=Default", L"ScreenID=Default",
  };
  EXPECT_EQ(lines, expected);
}

TEST(SettingsTable, StoredValuesAreReadBySectionAndKeyWithTheReadingRules) {
  MapStore store;
  store.values = {
      // The same key name in different sections is a different setting.
      {{L"VideoOptions", L"AudioSource"}, L"0"},
      {{L"AudioOptions", L"AudioSource"}, L"2"},
      {{L"VideoHotkeys", L"StartStopVK"}, L"65"},
      {{L"GifHotkeys", L"StartStopVK"}, L"66"},
      // An empty sound value keeps the built-in sound, but an empty path stays empty.
      {{L"SoundEffects", L"CaptureWindow"}, L""},
      {{L"SoundEffects", L"exit_app"}, L"None"},
      {{L"Paths", L"VideoPath"}, L""},
      // Strings are cut to 259 characters.
      {{L"Paths", L"ScreenshotPath"}, std::wstring(300, L's')},
      {{L"SoundEffects", L"RecordingStop"}, std::wstring(400, L'r')},
      {{L"General", L"Language"}, std::wstring(260, L'l')},
  };
  AppConfig expected = DefaultAppConfig(kFolders);
  expected.VideoAudioSource = 0;
  expected.AudioSource = 2;
  expected.VideoStartStop.virtualKey = 65;
  expected.GifStartStop.virtualKey = 66;
  expected.Sounds.exit_app = L"None";
  expected.VideoPath = L"";
  expected.ScreenshotPath = std::wstring(259, L's');
  expected.Sounds.RecordingStop = std::wstring(259, L'r');
  expected.Language = std::wstring(259, L'l');
  // Everything else, the sound left empty and the hotkey of the audio section included, keeps its default.
  EXPECT_EQ(ReadFrom(store), expected);
}

TEST(SettingsTable, ReadsBackWhatItWroteToTheSameRecord) {
  AppConfig config = DefaultAppConfig(kFolders);
  config.Language = L"de";
  config.PlayStartupSound = false;
  config.ScreenReaderNotifications = false;
  config.FreeForm = {kModAlt | kModShift, 0x41, true};
  config.VideoQuality = 0;
  config.SystemAudioRecVolume = 35;
  config.GifMode = 0;
  config.Sounds.MouseLeftClick = L"None";
  config.ScreenID = L"\\\\.\\DISPLAY2";
  MapStore store;
  WriteSettings(store, config);
  EXPECT_EQ(ReadFrom(store), config);
}

TEST(LiveConfig, SnapshotSeesAWholeReplacement) {
  AppConfig first = DefaultAppConfig(kFolders);
  first.VideoPath = L"first";
  ReplaceConfig(first);
  EXPECT_EQ(ConfigSnapshot().VideoPath, L"first");
  AppConfig second = first;
  second.VideoPath = L"second";
  second.VideoFramerate = 30;
  ReplaceConfig(second);
  EXPECT_EQ(ConfigSnapshot(), second);
  EXPECT_EQ(&LiveConfig(), &LiveConfig());
  EXPECT_EQ(LiveConfig(), second);
}

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

TEST(HotkeyText, ExtendedKeysAreNamedWithTheExtendedBit) {
  // The Up arrow and keypad 8 share scan code 0x48; only bit 24 tells the key-name call which one.
  EXPECT_EQ(KeyNameRequest(0x26, 0x48), 0x01480000);
  EXPECT_EQ(KeyNameRequest(0x68, 0x48), 0x00480000);
  EXPECT_EQ(KeyNameRequest(0xAD, 0), 0) << "no scan code, no name";
  for (std::uint32_t vk : {0x21u, 0x22u, 0x23u, 0x24u, 0x25u, 0x28u, 0x2Du, 0x2Eu, 0x5Bu, 0x5Du, 0x6Fu, 0x90u, 0xA3u,
                           0xA5u, 0xAFu}) {
    EXPECT_TRUE(IsExtendedKey(vk)) << vk;
  }
  // Keypad digits and operators, the left Ctrl and Alt, letters and function keys are not.
  for (std::uint32_t vk : {0x60u, 0x68u, 0x6Au, 0x6Bu, 0x6Du, 0x6Eu, 0xA2u, 0xA4u, 0x41u, 0x74u, 0x0Du}) {
    EXPECT_FALSE(IsExtendedKey(vk)) << vk;
  }
}

TEST(SettingsTables, EveryHotkeySoundEventAndPageHasOneRow) {
  AppConfig config;
  std::set<const HotkeyBinding*> bindings;
  for (int hotkey = 1; hotkey <= kHotkeyFeatureCount; ++hotkey) bindings.insert(BindingForHotkey(config, hotkey));
  EXPECT_EQ(bindings.size(), 13u);
  EXPECT_EQ(bindings.count(nullptr), 0u);

  // Each event edits its own field, and together they cover the whole record.
  SoundEffects sounds;
  for (size_t i = 0; i < kSoundEvents.size(); ++i) sounds.*(kSoundEvents[i].field) = std::to_wstring(i);
  // In the record's order: the mouse and keyboard events come last in the list.
  const SoundEffects expected{L"9", L"10", L"11", L"12", L"0", L"1", L"2", L"3", L"4", L"5", L"6", L"7", L"8", L"13"};
  EXPECT_EQ(sounds, expected);

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
