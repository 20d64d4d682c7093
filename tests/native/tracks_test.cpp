// The multi-track model, the text of multy_tracs.json, and what the multi-track dialogs show
// and which controls each state leaves usable.
#include "tracks/track_config.h"

#include <cstdint>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "log_capture.h"
#include "resource.h"
#include "ui/track_dialog_texts.h"

namespace vistrel {
namespace {

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

TEST(TrackFilePath, BesideConfigIni) {
  EXPECT_EQ(MultiTrackFilePathFor(L"C:\\Users\\a\\AppData\\Roaming\\Orvanta\\vistrel\\config.ini"),
            L"C:\\Users\\a\\AppData\\Roaming\\Orvanta\\vistrel\\multy_tracs.json");
  EXPECT_EQ(MultiTrackFilePathFor(L""), L"");
}

TEST(TrackDialogTexts, EachTemplateNamesEveryControlOnceAndTypeNamesFollowTheStoredNumbers) {
  for (int id : {IDD_TRACKS, IDD_TRACK_EDITOR}) {
    std::set<int> controls;
    for (const ControlText& entry : TrackDialogTexts(id)) {
      EXPECT_TRUE(controls.insert(entry.id).second) << id << ": control " << entry.id << " twice";
      EXPECT_NE(std::wstring(entry.msgid), L"") << id;
    }
  }
  EXPECT_TRUE(TrackDialogTexts(IDD_SETTINGS).empty());
  // Types -1 .. 4, of which the program knows 0 .. 3.
  const wchar_t* names[] = {nullptr, L"Mixed", L"Video Only", L"Audio Input", L"Audio Output", nullptr};
  for (int type = -1; type <= 4; ++type) EXPECT_STREQ(TrackTypeName(type), names[type + 1]) << type;
}

TEST(TracksControlsFor, TheListNeedsASwitchAndSingleModeOnlyWithoutMultiTrack) {
  // {multi-track, same sources} -> {list, same-sources switch}
  const bool rows[][4] = {{false, false, false, true}, {false, true, true, true}, {true, false, true, false},
                          {true, true, true, false}};
  for (const auto& [multiTrack, sameSources, list, sameSwitch] : rows) {
    const TracksDialogState state = TracksControlsFor(multiTrack, sameSources);
    EXPECT_EQ(std::pair(state.listEnabled, state.sameSourcesEnabled), std::pair(list, sameSwitch))
        << multiTrack << sameSources;
  }
}

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
