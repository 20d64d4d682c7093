// The sources that a recorder mixes into one stereo stream: each with its WASAPI client, resampler,
// FIFO and gain. Used by the audio recorder and by the video recorder's single audio stream.
#pragma once

#include <windows.h>
#include <endpointvolume.h>
#include <wrl/client.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "media/audio_mix.h"
#include "media/audio_source.h"
#include "tracks/track_config.h"

struct AVFrame;

namespace vistrel {

struct MixInput {
  std::unique_ptr<AudioSource> source;
  float gain = 1.0f;
  bool followsSystemVolume = false;  // also scaled by the endpoint's master volume
  BacklogBound backlog;
};

class AudioMixer {
 public:
  void Add(std::unique_ptr<AudioSource> source, float gain, bool followsSystemVolume);
  bool empty() const { return inputs_.empty(); }
  std::vector<MixInput>& inputs() { return inputs_; }
  // Where InitAudioDevice puts the system endpoint's volume control.
  Microsoft::WRL::ComPtr<IAudioEndpointVolume>* endpointVolume() { return std::addressof(endpointVolume_); }

  // Resampler and FIFO of every source. `fromTracks`: the sources came from the track list (only
  // the log line of a failed FIFO differs).
  HRESULT PrepareInputs(const wchar_t* prefix, bool fromTracks);
  void StartClients();
  void StopClients();
  void DrainClients(const wchar_t* prefix);
  // Drains every source and watches it (WatchAudioSource), handing on what changed.
  void DrainAndWatch(const wchar_t* prefix, const std::function<void(const AudioSource&, SourceChange)>& onChange);
  // Forgets what was captured before a resume.
  void ResetFifos();

  // Fills `frame` (planar float stereo, nb_samples long) with the mix: each source that holds a
  // full frame contributes it with its gain, one that holds less keeps its samples for the next
  // frame. With `available` below the frame's length (the last, partial frame of a recording)
  // each source gives what it has up to `available`. The rest is silence; the sum is clamped.
  void MixInto(AVFrame* frame, int available);

  // Drops the standing backlog of sources ahead of the recording clock; `onDrop` hears the
  // source's name and the samples dropped.
  void BoundBacklogs(std::int64_t position,
                     const std::function<void(const std::wstring&, std::int64_t)>& onDrop);

  // Stops and frees every source.
  void Release();

 private:
  float GainOf(const MixInput& input) const;

  std::vector<MixInput> inputs_;
  Microsoft::WRL::ComPtr<IAudioEndpointVolume> endpointVolume_;
};

// The sources a recording takes from the settings: the microphone and/or the system audio.
struct SettingsSources {
  bool microphone = false;
  bool system = false;
  std::wstring microphoneId;
  std::wstring systemId;
  float systemGain = 1.0f;
  bool systemFollowsVolume = false;  // also scaled by the endpoint's master volume
};

// Opens the sources of the settings into the mixer; one that cannot be opened is logged and left
// out ("<prefix>Mic init failed. Continuing without it.").
void AddSettingsSources(AudioMixer& mixer, const wchar_t* prefix, const SettingsSources& sources);

// Opens the microphones and outputs of the configured tracks into the mixer, each at its track's
// volume; one that cannot be opened is logged and left out.
void AddTrackSources(AudioMixer& mixer, const wchar_t* prefix, const std::vector<TrackConfig>& tracks);

}  // namespace vistrel
