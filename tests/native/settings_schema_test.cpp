// The settings table against an in-memory store: defaults, reading rules and write order.
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "config/app_config.h"

namespace vistrel {
namespace {

class MapStore : public SettingsStore {
 public:
  using Key = std::pair<std::wstring, std::wstring>;

  int ReadInt(const wchar_t* section, const wchar_t* key, int fallback) override {
    auto it = values.find({section, key});
    if (it == values.end()) return fallback;
    try {
      return std::stoi(it->second);
    } catch (...) {
      return 0;
    }
  }
  std::wstring ReadString(const wchar_t* section, const wchar_t* key,
                          const std::wstring& fallback) override {
    auto it = values.find({section, key});
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

TEST(SettingsTable, NothingStoredGivesTheDefaults) {
  MapStore store;
  AppConfig config = DefaultAppConfig(kFolders);
  ReadSettings(store, config);
  EXPECT_EQ(config, DefaultAppConfig(kFolders));
  EXPECT_EQ(config.FullScreen, (HotkeyBinding{6, 116, false}));
  EXPECT_EQ(config.ExitApp, (HotkeyBinding{7, 115, false}));
  EXPECT_EQ(config.Mouse.virtualKey, 0u);
  EXPECT_EQ(config.VideoPath, L"V\\Vistrel");
}

TEST(SettingsTable, UnknownKnownFoldersGiveEmptyOutputFolders) {
  const AppConfig config = DefaultAppConfig({});
  EXPECT_EQ(config.ScreenshotPath, L"");
  EXPECT_EQ(config.GifPath, L"");
}

TEST(SettingsTable, SameKeyNameInDifferentSectionsIsADifferentSetting) {
  MapStore store;
  store.values[{L"VideoOptions", L"AudioSource"}] = L"0";
  store.values[{L"AudioOptions", L"AudioSource"}] = L"2";
  store.values[{L"VideoHotkeys", L"StartStopVK"}] = L"65";
  store.values[{L"GifHotkeys", L"StartStopVK"}] = L"66";
  AppConfig config = DefaultAppConfig(kFolders);
  ReadSettings(store, config);
  EXPECT_EQ(config.VideoAudioSource, 0);
  EXPECT_EQ(config.AudioSource, 2);
  EXPECT_EQ(config.VideoStartStop.virtualKey, 65u);
  EXPECT_EQ(config.AudioStartStop.virtualKey, 118u);
  EXPECT_EQ(config.GifStartStop.virtualKey, 66u);
}

TEST(SettingsTable, EmptySoundValueKeepsTheBuiltInSoundButEmptyPathsStayEmpty) {
  MapStore store;
  store.values[{L"SoundEffects", L"CaptureWindow"}] = L"";
  store.values[{L"SoundEffects", L"exit_app"}] = L"None";
  store.values[{L"Paths", L"VideoPath"}] = L"";
  AppConfig config = DefaultAppConfig(kFolders);
  ReadSettings(store, config);
  EXPECT_EQ(config.Sounds.CaptureWindow, L"window.wav");
  EXPECT_EQ(config.Sounds.exit_app, L"None");
  EXPECT_EQ(config.VideoPath, L"");
}

TEST(SettingsTable, LongStringsAreCutTo259) {
  MapStore store;
  store.values[{L"Paths", L"ScreenshotPath"}] = std::wstring(300, L's');
  store.values[{L"SoundEffects", L"RecordingStop"}] = std::wstring(400, L'r');
  store.values[{L"General", L"Language"}] = std::wstring(260, L'l');
  AppConfig config = DefaultAppConfig(kFolders);
  ReadSettings(store, config);
  EXPECT_EQ(config.ScreenshotPath.size(), 259u);
  EXPECT_EQ(config.Sounds.RecordingStop.size(), 259u);
  EXPECT_EQ(config.Language.size(), 259u);
}

TEST(SettingsTable, WritesEveryKeyOnceInFileOrder) {
  MapStore store;
  WriteSettings(store, DefaultAppConfig(kFolders));
  ASSERT_EQ(store.order.size(), 81u);  // 13 bindings of 3 keys, 42 single keys
  std::vector<std::wstring> sections;
  for (const auto& [section, key] : store.order) {
    if (sections.empty() || sections.back() != section) sections.push_back(section);
  }
  const std::vector<std::wstring> expected = {
      L"General", L"Hotkeys", L"Options", L"VideoHotkeys", L"VideoOptions", L"AudioHotkeys",
      L"AudioOptions", L"GifHotkeys", L"GifOptions", L"AppHotkeys", L"Paths", L"SoundEffects",
      L"Devices"};
  EXPECT_EQ(sections, expected) << "each section is written in one run, in file order";
  EXPECT_EQ(store.values.size(), store.order.size()) << "no key is written twice";
  EXPECT_EQ(store.order.front(), (MapStore::Key{L"General", L"Language"}));
  EXPECT_EQ(store.order.back(), (MapStore::Key{L"Devices", L"ScreenID"}));
}

TEST(SettingsTable, WrittenValuesReadBackToTheSameRecord) {
  AppConfig config = DefaultAppConfig(kFolders);
  config.Language = L"de";
  config.PlayStartupSound = false;
  config.FreeForm = {kModAlt | kModShift, 0x41, true};
  config.VideoQuality = 0;
  config.SystemAudioRecVolume = 35;
  config.GifMode = 0;
  config.Sounds.MouseLeftClick = L"None";
  config.ScreenID = L"\\\\.\\DISPLAY2";
  MapStore store;
  WriteSettings(store, config);
  EXPECT_EQ(store.values[(MapStore::Key{L"Hotkeys", L"FreeFormWinKey"})], L"1");
  EXPECT_EQ(store.values[(MapStore::Key{L"General", L"PlayStartupSound"})], L"0");
  AppConfig loaded = DefaultAppConfig(kFolders);
  ReadSettings(store, loaded);
  EXPECT_EQ(loaded, config);
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
  const AppConfig snapshot = ConfigSnapshot();
  EXPECT_EQ(snapshot.VideoPath, L"second");
  EXPECT_EQ(snapshot.VideoFramerate, 30);
  EXPECT_EQ(&LiveConfig(), &LiveConfig());
  EXPECT_EQ(LiveConfig(), second);
}

}  // namespace
}  // namespace vistrel
