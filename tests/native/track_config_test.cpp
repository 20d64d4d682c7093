// The multi-track model and the text of multy_tracs.json.
#include "tracks/track_config.h"

#include <cwctype>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "log_capture.h"

namespace vistrel {
namespace {

// A file as the program writes it for the default track (the GUID is an example).
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

// One complete track object, with some keys given other raw JSON values; an empty value leaves the
// key out.
std::string TrackText(const std::map<std::string, std::string>& changes = {}) {
  const std::vector<std::pair<std::string, std::string>> fields = {
      {"name", "\"Mic\""},           {"guid", "\"{6B29FC40-CA47-1067-B31D-00DD010662DA}\""},
      {"type", "2"},                 {"video_source_id", "\"\""},
      {"audio_input_id", "\"Default\""}, {"audio_output_id", "\"\""},
      {"input_volume", "80"},        {"output_volume", "100"},
  };
  std::string text = "{";
  for (const auto& [key, raw] : fields) {
    const auto change = changes.find(key);
    const std::string value = change == changes.end() ? raw : change->second;
    if (value.empty()) continue;
    if (text.size() > 1) text += ",";
    text += "\"" + key + "\":" + value;
  }
  return text + "}";
}

std::string FileWithTracks(const std::string& tracks) {
  return "{\"multi_track_enabled\":true,\"use_same_sources_in_single_mode\":true,\"tracks\":[" + tracks + "]}";
}

bool IsBracedGuid(const std::wstring& guid) {
  if (guid.size() != 38 || guid.front() != L'{' || guid.back() != L'}') return false;
  for (std::size_t i = 1; i < 37; ++i) {
    const bool hyphen = i == 9 || i == 14 || i == 19 || i == 24;
    const wchar_t c = guid[i];
    if (hyphen ? c != L'-' : !(std::iswdigit(c) || (c >= L'A' && c <= L'F'))) return false;
  }
  return true;
}

void ExpectDefaultTrackAlone(const MultiTrackConfig& config) {
  ASSERT_EQ(config.Tracks().size(), 1u);
  const TrackConfig& track = config.Tracks()[0];
  EXPECT_EQ(track.name, L"Default Track (All sources)");
  EXPECT_TRUE(IsBracedGuid(track.guid)) << track.guid;
  EXPECT_EQ(track.type, kTrackMixed);
  EXPECT_EQ(track.video_source_id, L"Default");
  EXPECT_EQ(track.audio_input_id, L"Default");
  EXPECT_EQ(track.audio_output_id, L"Default");
  EXPECT_EQ(track.input_volume, 100);
  EXPECT_EQ(track.output_volume, 100);
}

TEST(TrackFileText, DefaultTrackIsWrittenByteForByte) {
  MultiTrackConfig config;
  config.UseDefaultTracks();
  config.Tracks()[0].guid = L"{6B29FC40-CA47-1067-B31D-00DD010662DA}";
  EXPECT_EQ(config.ToJson(), kDefaultFile);
}

TEST(TrackFileText, WrittenFileReadsBackUnchangedWhateverItsLineEnds) {
  MultiTrackConfig config;
  ASSERT_TRUE(config.LoadJson(kDefaultFile));
  EXPECT_EQ(config.ToJson(), kDefaultFile);

  std::string unixLines = kDefaultFile;
  std::erase(unixLines, '\r');
  MultiTrackConfig fromUnix;
  ASSERT_TRUE(fromUnix.LoadJson(unixLines));
  EXPECT_EQ(fromUnix, config);
}

TEST(TrackFileText, KeysAreSortedWhateverTheFileOrder) {
  MultiTrackConfig config;
  ASSERT_TRUE(config.LoadJson(
      "{\"use_same_sources_in_single_mode\":false,\"tracks\":[{\"video_source_id\":\"Default\","
      "\"type\":0,\"output_volume\":100,\"name\":\"Default Track (All sources)\",\"input_volume\":100,"
      "\"guid\":\"{6B29FC40-CA47-1067-B31D-00DD010662DA}\",\"audio_output_id\":\"Default\","
      "\"audio_input_id\":\"Default\"}],\"multi_track_enabled\":false}"));
  EXPECT_EQ(config.ToJson(), kDefaultFile);
}

TEST(TrackFileText, EveryFieldAndTheTrackOrderAreRead) {
  MultiTrackConfig config;
  ASSERT_TRUE(config.LoadJson(FileWithTracks(
      TrackText() + "," + TrackText({{"name", "\"Cam\""}, {"type", "1"}}))));
  EXPECT_TRUE(config.IsMultiTrackEnabled());
  EXPECT_TRUE(config.UseSameSourcesInSingleMode());
  ASSERT_EQ(config.Tracks().size(), 2u);
  const TrackConfig& mic = config.Tracks()[0];
  EXPECT_EQ(mic, (TrackConfig{L"Mic", L"{6B29FC40-CA47-1067-B31D-00DD010662DA}", kTrackAudioInput, L"",
                              L"Default", L"", 80, 100}));
  EXPECT_EQ(config.Tracks()[1].name, L"Cam");
  EXPECT_EQ(config.Tracks()[1].type, kTrackVideoOnly);
}

TEST(TrackFileText, AnEmptyTrackListIsKeptEmpty) {
  MultiTrackConfig config;
  EXPECT_TRUE(config.LoadJson("{\"tracks\": []}"));
  EXPECT_TRUE(config.Tracks().empty());
  EXPECT_EQ(config.ToJson(),
            "{\r\n    \"multi_track_enabled\": false,\r\n    \"tracks\": [],\r\n"
            "    \"use_same_sources_in_single_mode\": false\r\n}");
}

TEST(TrackFileText, VolumesAndTypeAreWholeNumbersWithin32Bits) {
  MultiTrackConfig config;
  ASSERT_TRUE(config.LoadJson(FileWithTracks(TrackText({{"input_volume", "-2147483648"}}))));
  EXPECT_EQ(config.Tracks()[0].input_volume, INT32_MIN);
  ASSERT_TRUE(config.LoadJson(FileWithTracks(TrackText({{"output_volume", "2147483647"}}))));
  EXPECT_EQ(config.Tracks()[0].output_volume, INT32_MAX);
  ASSERT_TRUE(config.LoadJson(FileWithTracks(TrackText({{"type", "7"}}))));
  EXPECT_EQ(config.Tracks()[0].type, 7) << "an unknown type is kept as the file has it";

  for (const char* bad : {"2147483648", "-2147483649", "18446744073709551615", "1e3", "80.0", "true"}) {
    MultiTrackConfig rejected;
    EXPECT_FALSE(rejected.LoadJson(FileWithTracks(TrackText({{"input_volume", bad}})))) << bad;
    ExpectDefaultTrackAlone(rejected);
  }
}

TEST(TrackFileText, UnusableFilesGiveTheDefaultTrackSilently) {
  std::vector<std::string> files = {
      "",
      "{",
      "not json",
      "[]",
      "null",
      "{}",
      "{\"multi_track_enabled\": true}",
      "{\"tracks\": {}}",
      "{\"tracks\": null}",
      "{\"tracks\": [1]}",
      "{\"tracks\": [" + TrackText() + "],}",
      FileWithTracks(TrackText({{"input_volume", "\"80\""}})),
      FileWithTracks(TrackText({{"type", "\"0\""}})),
      FileWithTracks(TrackText({{"name", "42"}})),
      FileWithTracks(TrackText({{"guid", "null"}})),
      FileWithTracks(TrackText() + "," + TrackText({{"audio_output_id", "[]"}})),
      "{\"tracks\": [" + TrackText() + "]} trailing",
  };
  for (const char* key : {"name", "guid", "type", "video_source_id", "audio_input_id", "audio_output_id",
                          "input_volume", "output_volume"}) {
    files.push_back(FileWithTracks(TrackText() + "," + TrackText({{key, ""}})));  // the second track lacks it
  }
  testing::ClearCapturedLog();
  for (const std::string& file : files) {
    MultiTrackConfig config;
    config.Tracks().push_back(TrackConfig{L"earlier"});
    EXPECT_FALSE(config.LoadJson(file)) << file;
    ExpectDefaultTrackAlone(config);
  }
  EXPECT_TRUE(testing::CapturedLog().empty()) << "an unusable file is not logged";
}

TEST(TrackFileText, SwitchesReadBeforeAFaultKeepTheirNewValues) {
  MultiTrackConfig config;
  ASSERT_TRUE(config.LoadJson(FileWithTracks(TrackText())));  // both switches on

  EXPECT_FALSE(config.LoadJson("{\"multi_track_enabled\": true}"));
  EXPECT_TRUE(config.IsMultiTrackEnabled());
  EXPECT_FALSE(config.UseSameSourcesInSingleMode()) << "an absent switch reads as false";
  ExpectDefaultTrackAlone(config);

  ASSERT_TRUE(config.LoadJson(FileWithTracks(TrackText())));
  EXPECT_FALSE(config.LoadJson("{\"multi_track_enabled\": false, \"use_same_sources_in_single_mode\": 1,"
                               " \"tracks\": []}"));
  EXPECT_FALSE(config.IsMultiTrackEnabled()) << "read before the fault";
  EXPECT_TRUE(config.UseSameSourcesInSingleMode()) << "the faulty switch keeps its earlier value";

  ASSERT_TRUE(config.LoadJson(FileWithTracks(TrackText())));
  EXPECT_FALSE(config.LoadJson("{\"multi_track_enabled\": \"yes\", \"use_same_sources_in_single_mode\": false}"));
  EXPECT_TRUE(config.IsMultiTrackEnabled());
  EXPECT_TRUE(config.UseSameSourcesInSingleMode()) << "not read after the fault";

  EXPECT_FALSE(config.LoadJson("[true]"));
  EXPECT_TRUE(config.IsMultiTrackEnabled()) << "a file that is not an object changes no switch";
}

TEST(TrackFileText, NonAsciiAndEscapedTextSurvivesAsUtf8) {
  MultiTrackConfig config;
  TrackConfig track;
  track.name = L"Micr\u00f3fono \u0417\u0432\u0443\u043a \u65e5\u672c \U0001F3A4";
  track.guid = NewTrackGuid();
  track.audio_input_id = L"{0.0.1.00000000}.{1c5a2c5e}";
  track.video_source_id = L"\\\\?\\USB#VID_046D \"cam\"\nline\ttab";
  config.Tracks().push_back(track);

  const std::string text = config.ToJson();
  EXPECT_NE(text.find("\"name\": \"Micr\xC3\xB3" "fono \xD0\x97\xD0\xB2\xD1\x83\xD0\xBA \xE6\x97\xA5\xE6\x9C\xAC "
                      "\xF0\x9F\x8E\xA4\""),
            std::string::npos)
      << text;
  EXPECT_EQ(text.find("\\u"), std::string::npos) << "nothing is written as an escape sequence";
  EXPECT_NE(text.find("\"\\\\\\\\?\\\\USB#VID_046D \\\"cam\\\"\\nline\\ttab\""), std::string::npos) << text;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n') EXPECT_TRUE(i > 0 && text[i - 1] == '\r') << "bare line feed at " << i;
  }

  MultiTrackConfig reloaded;
  ASSERT_TRUE(reloaded.LoadJson(text));
  EXPECT_EQ(reloaded, config);
}

TEST(TrackFileText, EscapedNonAsciiInAFileIsDecoded) {
  MultiTrackConfig config;
  ASSERT_TRUE(config.LoadJson(FileWithTracks(TrackText({{"name", "\"\\u00e9\\ud83c\\udfa4\""}}))));
  EXPECT_EQ(config.Tracks()[0].name, L"\u00e9\U0001F3A4");
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

TEST(TrackSources, TypeDecidesWhichSourcesATrackContributes) {
  TrackConfig track{L"t", L"", kTrackMixed, L"Default", L"Default", L"Default", 100, 100};
  auto sources = [&track](std::int32_t type) {
    track.type = type;
    return std::vector<bool>{TrackRecordsVideo(track), TrackRecordsAudioInput(track),
                             TrackRecordsAudioOutput(track)};
  };
  EXPECT_EQ(sources(kTrackMixed), (std::vector<bool>{true, true, true}));
  EXPECT_EQ(sources(kTrackVideoOnly), (std::vector<bool>{true, false, false}));
  EXPECT_EQ(sources(kTrackAudioInput), (std::vector<bool>{false, true, false}));
  EXPECT_EQ(sources(kTrackAudioOutput), (std::vector<bool>{false, false, true}));
  EXPECT_EQ(sources(7), (std::vector<bool>{false, false, false}));
  EXPECT_EQ(sources(-1), (std::vector<bool>{false, false, false}));

  track.audio_input_id.clear();
  track.audio_output_id.clear();
  EXPECT_EQ(sources(kTrackMixed), (std::vector<bool>{true, false, false})) << "empty audio ids are unused";
}

TEST(TrackFilePath, BesideConfigIni) {
  EXPECT_EQ(MultiTrackFilePathFor(L"C:\\Users\\a\\AppData\\Roaming\\Orvanta\\vistrel\\config.ini"),
            L"C:\\Users\\a\\AppData\\Roaming\\Orvanta\\vistrel\\multy_tracs.json");
  EXPECT_EQ(MultiTrackFilePathFor(L""), L"");
}

}  // namespace
}  // namespace vistrel
