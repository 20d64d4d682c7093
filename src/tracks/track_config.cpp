#include "tracks/track_config.h"

#include <algorithm>

#include <array>
#include <chrono>
#include <limits>
#include <mutex>
#include <optional>
#include <random>
#include <thread>

#include <nlohmann/json.hpp>

#include "core/text.h"
#include "i18n/tr.h"

namespace vistrel {
namespace {

using Json = nlohmann::json;

constexpr wchar_t kMultiTrackFileName[] = L"multy_tracs.json";

// Reading: each helper stores into `out` and tells whether the value had the right type.

bool ReadSwitch(const Json& root, const char* key, bool& out) {
  const auto it = root.find(key);
  if (it == root.end()) {
    out = false;
    return true;
  }
  if (!it->is_boolean()) return false;
  out = it->get<bool>();
  return true;
}

bool ReadText(const Json& track, const char* key, std::wstring& out) {
  const auto it = track.find(key);
  if (it == track.end() || !it->is_string()) return false;
  out = Utf8ToWide(it->get_ref<const std::string&>());
  return true;
}

// A JSON integer that fits in 32 bits; fractions and larger numbers are faults, not truncated.
bool ReadInt32(const Json& track, const char* key, std::int32_t& out) {
  const auto it = track.find(key);
  if (it == track.end()) return false;
  constexpr auto kMin = std::numeric_limits<std::int32_t>::min();
  constexpr auto kMax = std::numeric_limits<std::int32_t>::max();
  if (it->is_number_unsigned()) {
    const auto value = it->get<std::uint64_t>();
    if (value > static_cast<std::uint64_t>(kMax)) return false;
    out = static_cast<std::int32_t>(value);
    return true;
  }
  if (it->is_number_integer()) {
    const auto value = it->get<std::int64_t>();
    if (value < kMin || value > kMax) return false;
    out = static_cast<std::int32_t>(value);
    return true;
  }
  return false;
}

std::optional<TrackConfig> ReadTrack(const Json& element) {
  if (!element.is_object()) return std::nullopt;
  TrackConfig track;
  const bool complete = ReadText(element, "name", track.name) &&
                        ReadText(element, "guid", track.guid) &&
                        ReadInt32(element, "type", track.type) &&
                        ReadText(element, "video_source_id", track.video_source_id) &&
                        ReadText(element, "audio_input_id", track.audio_input_id) &&
                        ReadText(element, "audio_output_id", track.audio_output_id) &&
                        ReadInt32(element, "input_volume", track.input_volume) &&
                        ReadInt32(element, "output_volume", track.output_volume);
  if (!complete) return std::nullopt;
  return track;
}

std::optional<std::vector<TrackConfig>> ReadTracks(const Json& root) {
  const auto it = root.find("tracks");
  if (it == root.end() || !it->is_array()) return std::nullopt;
  std::vector<TrackConfig> tracks;
  tracks.reserve(it->size());
  for (const Json& element : *it) {
    std::optional<TrackConfig> track = ReadTrack(element);
    if (!track) return std::nullopt;
    tracks.push_back(std::move(*track));
  }
  return tracks;
}

Json TrackJson(const TrackConfig& track) {
  Json json = Json::object();
  json["name"] = WideToUtf8(track.name);
  json["guid"] = WideToUtf8(track.guid);
  json["type"] = track.type;
  json["video_source_id"] = WideToUtf8(track.video_source_id);
  json["audio_input_id"] = WideToUtf8(track.audio_input_id);
  json["audio_output_id"] = WideToUtf8(track.audio_output_id);
  json["input_volume"] = track.input_volume;
  json["output_volume"] = track.output_volume;
  return json;
}

// The file was written through a text-mode stream on Windows: every line end is CR LF. Line
// breaks inside strings are escaped by the serialiser, so every '\n' here ends a line.
std::string WithCrLf(const std::string& text) {
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  for (const char c : text) {
    if (c == '\n') out.push_back('\r');
    out.push_back(c);
  }
  return out;
}

// Seeded from the system's entropy source and, should that be weak, the time and the thread.
std::mt19937_64 SeededEngine() {
  std::random_device device;
  const auto now = static_cast<std::uint64_t>(
      std::chrono::high_resolution_clock::now().time_since_epoch().count());
  const auto thread = static_cast<std::uint64_t>(std::hash<std::thread::id>{}(std::this_thread::get_id()));
  std::seed_seq seed{device(), device(), device(), device(),
                     static_cast<std::uint32_t>(now), static_cast<std::uint32_t>(now >> 32),
                     static_cast<std::uint32_t>(thread), static_cast<std::uint32_t>(thread >> 32)};
  return std::mt19937_64(seed);
}

}  // namespace

bool TrackRecordsVideo(const TrackConfig& track) {
  return track.type == kTrackMixed || track.type == kTrackVideoOnly;
}

bool TrackRecordsAudioInput(const TrackConfig& track) {
  return (track.type == kTrackMixed || track.type == kTrackAudioInput) && !track.audio_input_id.empty();
}

bool TrackRecordsAudioOutput(const TrackConfig& track) {
  return (track.type == kTrackMixed || track.type == kTrackAudioOutput) && !track.audio_output_id.empty();
}

std::wstring NewTrackGuid() {
  static std::mutex lock;
  static std::mt19937_64 engine = SeededEngine();
  std::array<std::uint8_t, 16> bytes{};
  {
    std::lock_guard guard(lock);
    const std::uint64_t high = engine();
    const std::uint64_t low = engine();
    for (int i = 0; i < 8; ++i) {
      bytes[i] = static_cast<std::uint8_t>(high >> (8 * i));
      bytes[8 + i] = static_cast<std::uint8_t>(low >> (8 * i));
    }
  }
  bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0F) | 0x40);  // version 4: random
  bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
  std::wstring guid = L"{";
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) guid.push_back(L'-');
    constexpr wchar_t kHex[] = L"0123456789ABCDEF";
    guid.push_back(kHex[bytes[i] >> 4]);
    guid.push_back(kHex[bytes[i] & 0x0F]);
  }
  guid.push_back(L'}');
  return guid;
}

TrackConfig DefaultTrack() {
  TrackConfig track;
  track.name = tr(L"Default Track (All sources)");
  track.guid = NewTrackGuid();
  track.type = kTrackMixed;
  track.video_source_id = kDefaultSourceId;
  track.audio_input_id = kDefaultSourceId;
  track.audio_output_id = kDefaultSourceId;
  track.input_volume = 100;
  track.output_volume = 100;
  return track;
}

float TrackGain(std::int32_t volumePercent) {
  return static_cast<float>(std::clamp<std::int32_t>(volumePercent, 0, 100)) / 100.0f;
}

std::wstring MultiTrackFilePathFor(const std::wstring& configPath) {
  if (configPath.empty()) return {};
  const std::size_t slash = configPath.find_last_of(L"\\/");
  const std::wstring folder = slash == std::wstring::npos ? std::wstring() : configPath.substr(0, slash + 1);
  return folder + kMultiTrackFileName;
}

bool MultiTrackConfig::LoadJson(std::string_view json) {
  const Json root = Json::parse(json.begin(), json.end(), nullptr, /*allow_exceptions=*/false);
  // Each switch is stored as soon as it is read, so one read before a fault keeps its new value.
  const bool switchesRead = root.is_object() && ReadSwitch(root, "multi_track_enabled", multiTrackEnabled_) &&
                            ReadSwitch(root, "use_same_sources_in_single_mode", useSameSourcesInSingleMode_);
  std::optional<std::vector<TrackConfig>> tracks;
  if (switchesRead) tracks = ReadTracks(root);
  if (!tracks) {
    UseDefaultTracks();
    return false;
  }
  tracks_ = std::move(*tracks);
  return true;
}

std::string MultiTrackConfig::ToJson() const {
  Json tracks = Json::array();
  for (const TrackConfig& track : tracks_) tracks.push_back(TrackJson(track));
  Json root = Json::object();  // its keys are kept sorted, as the file wants them
  root["multi_track_enabled"] = multiTrackEnabled_;
  root["use_same_sources_in_single_mode"] = useSameSourcesInSingleMode_;
  root["tracks"] = std::move(tracks);
  // The strings come from WideToUtf8, so they are valid UTF-8 and nothing is replaced.
  return WithCrLf(root.dump(4, ' ', /*ensure_ascii=*/false, Json::error_handler_t::replace));
}

void MultiTrackConfig::UseDefaultTracks() {
  tracks_.clear();
  tracks_.push_back(DefaultTrack());
}

}  // namespace vistrel
