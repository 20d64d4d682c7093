// The settings without Windows: the table against an in-memory store (defaults, reading rules, write
// order) and what the settings dialog shows and stores; the multi-track model, the text of
// multy_tracs.json, and which sources each track type uses in the editor and the recorders.
#include <cstdint>
#include <cwchar>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "config/app_config.h"
#include "config/hotkey_text.h"
#include "log_capture.h"
#include "tracks/track_config.h"
#include "ui/settings_texts.h"
#include "ui/track_dialog_texts.h"

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

// Each key is read into the field it is written from, and into no other: with one value changed in
// a store, reading it and writing it again changes that value alone. ("0" becomes "1", "1" and "2"
// become "0", other numbers and texts are made longer.)
TEST(SettingsTable, EveryKeyIsReadIntoTheFieldItIsWrittenFrom) {
  MapStore defaults;
  WriteSettings(defaults, DefaultAppConfig(kFolders));
  for (const auto& [key, value] : defaults.values) {
    MapStore changed = defaults;
    changed.values[key] = value == L"0" ? L"1" : value == L"1" || value == L"2" ? L"0" : value + L"1";
    MapStore rewritten;
    WriteSettings(rewritten, ReadFrom(changed));
    EXPECT_EQ(rewritten.values, changed.values) << key.first << L"/" << key.second;
  }
}

TEST(SettingsTable, StoredValuesAreReadWithTheReadingRules) {
  MapStore store;
  store.values = {
      // An empty sound value keeps the built-in sound, but an empty path stays empty.
      {{L"SoundEffects", L"CaptureWindow"}, L""},
      {{L"SoundEffects", L"exit_app"}, L"None"},
      {{L"Paths", L"VideoPath"}, L""},
      // Strings are cut to 259 characters.
      {{L"Paths", L"ScreenshotPath"}, std::wstring(300, L's')},
      {{L"SoundEffects", L"RecordingStop"}, std::wstring(400, L'r')},
      {{L"General", L"Language"}, std::wstring(260, L'l')},
      // An output mode that means nothing (a hand-edited file) is the default, file and clipboard.
      {{L"Options", L"OutputMode"}, L"7"},
  };
  AppConfig expected = DefaultAppConfig(kFolders);
  expected.Sounds.exit_app = L"None";
  expected.VideoPath = L"";
  expected.ScreenshotPath = std::wstring(259, L's');
  expected.Sounds.RecordingStop = std::wstring(259, L'r');
  expected.Language = std::wstring(259, L'l');
  // Everything else, the sound left empty included, keeps its default.
  EXPECT_EQ(ReadFrom(store), expected);
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
  // {the rates listed, the stored rate, the item}
  const std::tuple<std::vector<int>, int, int> rows[] = {
      {{30, 60, 90, 120}, 30, 0}, {{30, 60, 90, 120}, 120, 3}, {{30, 60, 90, 120}, 25, 1}, {{30}, 25, 0}, {{}, 25, -1}};
  for (const auto& [rates, stored, item] : rows) EXPECT_EQ(FrameRateItemFor(rates, stored), item) << stored;
  EXPECT_EQ(FrameRateLabel(60, L"Smooth"), L"60 FPS (Smooth)");
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

  for (const SettingsPage& page : kSettingsPages) {
    EXPECT_FALSE(TemplateTexts(page.templateId).empty()) << page.templateId;
  }
}

// Tracks -------------------------------------------------------------------------------------------

const wchar_t kGuid[] = L"{6B29FC40-CA47-1067-B31D-00DD010662DA}";

// A file as the program writes it for the default track with the GUID above.
const std::string kDefaultFile =
    "{\r\n"
    "    \"multi_track_enabled\": false,\r\n"
    "    \"tracks\": [\r\n"
    "        {\r\n"
    "            \"audio_input_id\": \"Default\",\r\n"
    "            \"audio_output_id\": \"Default\",\r\n"
    "            \"guid\": \"{6B29FC40-CA47-1067-B31D-00DD010662DA}\",\r\n"
    "            \"input_volume\": 100,\r\n"
    "            \"name\": \"Default Track (All sources)\",\r\n"
    "            \"output_volume\": 100,\r\n"
    "            \"type\": 0,\r\n"
    "            \"video_source_id\": \"Default\"\r\n"
    "        }\r\n"
    "    ],\r\n"
    "    \"use_same_sources_in_single_mode\": false\r\n"
    "}";

// One complete track object, keys unsorted, with some keys given other raw JSON values; an empty
// value leaves the key out.
std::string TrackText(const std::map<std::string, std::string>& changes = {}) {
  std::string text;
  for (auto [key, value] : std::vector<std::pair<std::string, std::string>>{
           {"name", "\"Mic\""}, {"guid", "\"{6B29FC40-CA47-1067-B31D-00DD010662DA}\""}, {"type", "2"},
           {"video_source_id", "\"\""}, {"audio_input_id", "\"Default\""}, {"audio_output_id", "\"\""},
           {"input_volume", "80"}, {"output_volume", "100"}}) {
    if (changes.contains(key)) value = changes.at(key);
    if (!value.empty()) text += (text.empty() ? "{\"" : ",\"") + key + "\":" + value;
  }
  return text + "}";
}

std::string FileWithTracks(const std::string& tracks) {
  return "{\"multi_track_enabled\":true,\"use_same_sources_in_single_mode\":true,\"tracks\":[" + tracks + "]}";
}

bool IsBracedGuid(const std::wstring& guid) {
  static const std::wregex form(L"\\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\}");
  return std::regex_match(guid, form);
}

void ExpectDefaultTrackAlone(const MultiTrackConfig& config) {
  ASSERT_EQ(config.Tracks().size(), 1u);
  const TrackConfig& track = config.Tracks()[0];
  EXPECT_TRUE(IsBracedGuid(track.guid)) << track.guid;
  EXPECT_EQ(track, (TrackConfig{L"Default Track (All sources)", track.guid, kTrackMixed, L"Default", L"Default",
                                L"Default", 100, 100}));
}

TEST(TrackFileText, DefaultTrackIsWrittenByteForByteAndReadBackWhateverKeyOrderAndLineEnds) {
  MultiTrackConfig config;
  config.UseDefaultTracks();
  config.Tracks()[0].guid = kGuid;
  EXPECT_EQ(config.ToJson(), kDefaultFile);

  std::string unixLines = kDefaultFile;
  std::erase(unixLines, '\r');
  const std::string shuffled =
      "{\"use_same_sources_in_single_mode\":false,\"tracks\":[{\"video_source_id\":\"Default\","
      "\"type\":0,\"output_volume\":100,\"name\":\"Default Track (All sources)\",\"input_volume\":100,"
      "\"guid\":\"{6B29FC40-CA47-1067-B31D-00DD010662DA}\",\"audio_output_id\":\"Default\","
      "\"audio_input_id\":\"Default\"}],\"multi_track_enabled\":false}";
  for (const std::string& file : {kDefaultFile, unixLines, shuffled}) {
    SCOPED_TRACE(file);
    MultiTrackConfig read;
    ASSERT_TRUE(read.LoadJson(file));
    EXPECT_EQ(read, config);
    EXPECT_EQ(read.ToJson(), kDefaultFile);
  }
}

TEST(TrackFileText, EveryFieldTheTrackOrderEscapesAndWholeNumbersWithin32BitsAreRead) {
  MultiTrackConfig config;
  ASSERT_TRUE(config.LoadJson(FileWithTracks(
      TrackText() + "," + TrackText({{"name", "\"Cam \\u00e9\\ud83c\\udfa4\""}, {"type", "1"}}) + "," +
      TrackText({{"type", "7"}, {"input_volume", "-2147483648"}, {"output_volume", "2147483647"}}))));
  EXPECT_TRUE(config.IsMultiTrackEnabled());
  EXPECT_TRUE(config.UseSameSourcesInSingleMode());
  // A type the program does not know is kept as the file has it.
  EXPECT_EQ(config.Tracks(), (std::vector<TrackConfig>{
                                 {L"Mic", kGuid, kTrackAudioInput, L"", L"Default", L"", 80, 100},
                                 {L"Cam \u00e9\U0001F3A4", kGuid, kTrackVideoOnly, L"", L"Default", L"", 80, 100},
                                 {L"Mic", kGuid, 7, L"", L"Default", L"", INT32_MIN, INT32_MAX}}));
}

TEST(TrackFileText, AnEmptyTrackListIsKeptEmpty) {
  MultiTrackConfig config;
  EXPECT_TRUE(config.LoadJson("{\"tracks\": []}"));
  EXPECT_TRUE(config.Tracks().empty());
  EXPECT_EQ(config.ToJson(), "{\r\n    \"multi_track_enabled\": false,\r\n    \"tracks\": [],\r\n"
                             "    \"use_same_sources_in_single_mode\": false\r\n}");
}

TEST(TrackFileText, UnusableFilesGiveTheDefaultTrackSilently) {
  std::vector<std::string> files = {
      "", "{", "not json", "[]", "null", "{}", "{\"multi_track_enabled\": true}", "{\"tracks\": {}}",
      "{\"tracks\": null}", "{\"tracks\": [1]}", "{\"tracks\": [" + TrackText() + "],}",
      "{\"tracks\": [" + TrackText() + "]} trailing",
      FileWithTracks(TrackText({{"type", "\"0\""}})),
      FileWithTracks(TrackText({{"name", "42"}})),
      FileWithTracks(TrackText({{"guid", "null"}})),
      FileWithTracks(TrackText() + "," + TrackText({{"audio_output_id", "[]"}})),
  };
  for (const char* bad : {"\"80\"", "2147483648", "-2147483649", "18446744073709551615", "1e3", "80.0", "true"}) {
    files.push_back(FileWithTracks(TrackText({{"input_volume", bad}})));
  }
  for (const char* key : {"name", "guid", "type", "video_source_id", "audio_input_id", "audio_output_id",
                          "input_volume", "output_volume"}) {
    files.push_back(FileWithTracks(TrackText() + "," + TrackText({{key, ""}})));  // the second track lacks it
  }
  testing::ClearCapturedLog();
  for (const std::string& file : files) {
    SCOPED_TRACE(file);
    MultiTrackConfig config;
    config.Tracks().push_back(TrackConfig{L"earlier"});
    EXPECT_FALSE(config.LoadJson(file));
    ExpectDefaultTrackAlone(config);
  }
  EXPECT_TRUE(testing::CapturedLog().empty()) << "an unusable file is not logged";
}

TEST(TrackFileText, SwitchesReadBeforeAFaultKeepTheirNewValues) {
  // {file, multi-track switch, same-sources switch}, read after both were on.
  const std::tuple<const char*, bool, bool> rows[] = {
      {"{\"multi_track_enabled\": true}", true, false},  // an absent switch reads as false
      // Read before the fault, and the faulty switch keeps its earlier value.
      {"{\"multi_track_enabled\": false, \"use_same_sources_in_single_mode\": 1, \"tracks\": []}", false, true},
      {"{\"multi_track_enabled\": \"yes\", \"use_same_sources_in_single_mode\": false}", true, true},  // not read
      {"[true]", true, true},  // a file that is not an object changes no switch
  };
  for (const auto& [file, multiTrack, sameSources] : rows) {
    SCOPED_TRACE(file);
    MultiTrackConfig config;
    ASSERT_TRUE(config.LoadJson(FileWithTracks(TrackText())));
    EXPECT_FALSE(config.LoadJson(file));
    EXPECT_EQ(std::pair(config.IsMultiTrackEnabled(), config.UseSameSourcesInSingleMode()),
              std::pair(multiTrack, sameSources));
    ExpectDefaultTrackAlone(config);
  }
}

TEST(TrackFileText, NonAsciiAndEscapedTextIsWrittenAsUtf8AndReadBack) {
  MultiTrackConfig config;
  config.Tracks().push_back({L"Micr\u00f3fono \u0417\u0432\u0443\u043a \u65e5\u672c \U0001F3A4", NewTrackGuid(),
                             kTrackMixed, L"\\\\?\\USB#VID_046D \"cam\"\nline\ttab", L"{0.0.1.00000000}.{1c5a2c5e}"});
  const std::string text = config.ToJson();
  EXPECT_NE(text.find("\"name\": \"Micr\xC3\xB3" "fono \xD0\x97\xD0\xB2\xD1\x83\xD0\xBA \xE6\x97\xA5\xE6\x9C\xAC "
                      "\xF0\x9F\x8E\xA4\""),
            std::string::npos) << text;
  EXPECT_EQ(text.find("\\u"), std::string::npos) << "nothing is written as an escape sequence";
  EXPECT_NE(text.find("\"\\\\\\\\?\\\\USB#VID_046D \\\"cam\\\"\\nline\\ttab\""), std::string::npos) << text;
  EXPECT_FALSE(std::regex_search(text, std::regex("(^|[^\r])\n"))) << "a bare line feed";
  MultiTrackConfig reloaded;
  ASSERT_TRUE(reloaded.LoadJson(text));
  EXPECT_EQ(reloaded, config);
}

TEST(TrackGuid, BracedUpperCaseHexAndFreshEveryTime) {
  std::set<std::wstring> seen;
  for (int i = 0; i < 1000; ++i) {
    const std::wstring guid = NewTrackGuid();
    ASSERT_TRUE(IsBracedGuid(guid)) << guid;
    seen.insert(guid);
  }
  EXPECT_EQ(seen.size(), 1000u);
  EXPECT_NE(DefaultTrack().guid, DefaultTrack().guid);
}

// Beside config.ini (the end-to-end tests find it there); no settings path, no track file.
TEST(TrackFilePath, NoneWithoutASettingsPath) { EXPECT_EQ(MultiTrackFilePathFor(L""), L""); }

// The editor's controls and what a recorder takes from a track follow the same rule.
TEST(TrackSources, EachTypeUsesItsOwnSourcesInTheEditorAndTheRecordersAtAVolumeWithinRange) {
  // {type, video, audio input, audio output}: a type the program does not know uses none.
  const std::tuple<std::int32_t, bool, bool, bool> rows[] = {
      {kTrackMixed, true, true, true},         {kTrackVideoOnly, true, false, false},
      {kTrackAudioInput, false, true, false},  {kTrackAudioOutput, false, false, true},
      {7, false, false, false},                {-1, false, false, false}};
  for (const auto& [type, video, input, output] : rows) {
    SCOPED_TRACE(type);
    const TrackSourceControls on = SourceControlsFor(type);
    EXPECT_EQ(std::tuple(on.video, on.input, on.output), std::tuple(video, input, output));
    TrackConfig track{L"t", L"", type, L"Default", L"Default", L"Default"};
    const auto recorded = [&track] {
      return std::tuple(TrackRecordsVideo(track), TrackRecordsAudioInput(track), TrackRecordsAudioOutput(track));
    };
    EXPECT_EQ(recorded(), std::tuple(video, input, output));
    // Empty audio ids are unused; an empty video id is left for the video recorder to judge.
    track.video_source_id = track.audio_input_id = track.audio_output_id = L"";
    EXPECT_EQ(recorded(), std::tuple(video, false, false));
  }
  // A track's volume is applied within the editor's range, whatever the file says.
  for (const auto& [volume, gain] : {std::pair(50, 0.5f), {100, 1.0f}, {20000000, 1.0f}, {-5, 0.0f}}) {
    EXPECT_FLOAT_EQ(TrackGain(volume), gain) << volume;
  }
}

}  // namespace
}  // namespace vistrel
