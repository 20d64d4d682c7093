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

#include "audio/audio_mix.h"
#include "audio/audio_source.h"

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

// One source written to a stream of its own (multi-track recordings): every frame due by `due`
// samples, at `volumePercent`, silence where the source lags (its samples are used later); at the
// stop (`finishing`) also the last, partial frame padded with silence. `encode` gets each frame.
// Then, while recording, a standing backlog beyond what is due is dropped; the samples dropped
// are returned. The FIFO is only touched under `fifoLock`.
std::int64_t WriteDueTrackAudio(AVFrame* frame, AudioSource& source, std::mutex& fifoLock, BacklogBound& backlog,
                                std::int64_t& samplesWritten, std::int64_t due, bool finishing, int volumePercent,
                                const std::function<void(AVFrame*)>& encode);

}  // namespace vistrel
