// The multi-track configuration: the named tracks that the recorders open when they record one
// stream per source, and the two switches. It lives in multy_tracs.json beside config.ini.
//
// The model and the file's text are Windows-free (track_config.cpp); reading and writing the file
// is in track_file.cpp.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vistrel {

// TrackConfig::type. Other values may come from a file; such a track contributes no source.
inline constexpr std::int32_t kTrackMixed = 0;        // video, audio input and audio output
inline constexpr std::int32_t kTrackVideoOnly = 1;
inline constexpr std::int32_t kTrackAudioInput = 2;   // a microphone
inline constexpr std::int32_t kTrackAudioOutput = 3;  // what an output plays, by loopback

// Source identifiers meaning the primary display or the default audio endpoint.
inline constexpr wchar_t kDefaultSourceId[] = L"Default";

// One track. Field names are the JSON keys.
struct TrackConfig {
  std::wstring name;             // never empty once the edit dialog has saved the track
  std::wstring guid;             // "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", given on first save
  std::int32_t type = kTrackMixed;
  std::wstring video_source_id;  // "Default", a display device name or a camera device path
  std::wstring audio_input_id;   // "Default" or a capture endpoint identifier
  std::wstring audio_output_id;  // "Default" or a render endpoint identifier
  std::int32_t input_volume = 100;   // percent
  std::int32_t output_volume = 100;  // percent

  bool operator==(const TrackConfig&) const = default;
};

// Which sources a track contributes. An audio source also needs a non-empty identifier; an empty
// video identifier is left for the video recorder to judge.
bool TrackRecordsVideo(const TrackConfig& track);
bool TrackRecordsAudioInput(const TrackConfig& track);
bool TrackRecordsAudioOutput(const TrackConfig& track);

// The gain of a track's volume as it is applied: the percentage limited to what the track editor
// offers (0 to 100), whatever the file says; the file's value itself is kept as it was read.
float TrackGain(std::int32_t volumePercent);

// A fresh random identity in the upper-case braced form that StringFromGUID2 writes. Safe from any
// thread.
std::wstring NewTrackGuid();

// The track that stands in for an unusable file: named with the translation of
// "Default Track (All sources)", a new GUID, Mixed, every source "Default", both volumes 100.
TrackConfig DefaultTrack();

// The file beside a given config.ini path; empty for an empty path.
std::wstring MultiTrackFilePathFor(const std::wstring& configPath);

class MultiTrackConfig {
 public:
  // multy_tracs.json beside config.ini (track_file.cpp). Load falls back to the default track
  // when the file is missing or unusable and never writes the file itself. Save replaces the file
  // in one step; when that fails, the file stays as it was, the user is told and Save is false.
  void Load();
  bool Save() const;
  // The same for a given file, without telling a failed save. LoadFile tells whether the file was
  // used; SaveFile whether it was written completely (the last error says why not). A file that
  // exists but cannot be used is first kept beside as "<name>.bak" (the user is told once).
  bool LoadFile(const std::wstring& path);
  bool SaveFile(const std::wstring& path) const;

  // The file's text (UTF-8). LoadJson reads "multi_track_enabled" and
  // "use_same_sources_in_single_mode" (false when absent) and the required "tracks", whose every
  // element needs all eight keys with values of their type (volumes and type: integers within 32
  // bits). Any fault puts the default track in place of the list and returns false; a switch read
  // before the fault keeps its new value.
  bool LoadJson(std::string_view json);
  // Keys sorted at every level, four-space indentation, CR LF line ends, no final line end,
  // non-ASCII characters as UTF-8.
  std::string ToJson() const;

  // Replaces the track list by the default track alone; the switches stay.
  void UseDefaultTracks();

  bool IsMultiTrackEnabled() const { return multiTrackEnabled_; }
  bool UseSameSourcesInSingleMode() const { return useSameSourcesInSingleMode_; }
  void SetMultiTrackEnabled(bool enabled) { multiTrackEnabled_ = enabled; }
  void SetUseSameSourcesInSingleMode(bool use) { useSameSourcesInSingleMode_ = use; }

  // In file order, which is the recording order. Whoever changes the list calls Save.
  std::vector<TrackConfig>& Tracks() { return tracks_; }
  const std::vector<TrackConfig>& Tracks() const { return tracks_; }

  bool operator==(const MultiTrackConfig&) const = default;

 private:
  bool multiTrackEnabled_ = false;
  bool useSameSourcesInSingleMode_ = false;
  std::vector<TrackConfig> tracks_;
};

// Full path of multy_tracs.json (track_file.cpp); creates the settings folder. Empty when the
// roaming application-data folder cannot be resolved: then Load uses the default track and Save
// writes nothing (and does not fail).
std::wstring GetMultiTrackConfigPath();

}  // namespace vistrel
