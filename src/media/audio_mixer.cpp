#include "media/audio_mixer.h"

#include <algorithm>

#include "media/ffmpeg_util.h"
#include "core/log.h"

namespace vistrel {

void AudioMixer::Add(std::unique_ptr<AudioSource> source, float gain, bool followsSystemVolume) {
  MixInput input;
  input.source = std::move(source);
  input.gain = gain;
  input.followsSystemVolume = followsSystemVolume;
  inputs_.push_back(std::move(input));
}

HRESULT AudioMixer::PrepareInputs(const wchar_t* prefix, bool fromTracks) {
  for (MixInput& input : inputs_) {
    if (FAILED(InitAudioResampler(prefix, *input.source))) return E_FAIL;
    if (!CreateSourceFifo(*input.source)) {
      LogMessage(fromTracks ? L"InitAudioEncoder: [ERROR] av_audio_fifo_alloc for multi-source single track failed."
                 : input.source->isInput ? L"InitAudioEncoder: [ERROR] av_audio_fifo_alloc for Mic failed."
                                         : L"InitAudioEncoder: [ERROR] av_audio_fifo_alloc for System Audio failed.");
      return E_OUTOFMEMORY;
    }
  }
  return S_OK;
}

void AudioMixer::StartClients() {
  for (MixInput& input : inputs_) input.source->Start();
}

void AudioMixer::StopClients() {
  for (MixInput& input : inputs_) input.source->Stop();
}

void AudioMixer::DrainClients(const wchar_t* prefix) {
  for (MixInput& input : inputs_) DrainCaptureClient(prefix, *input.source);
}

void AudioMixer::DrainAndWatch(const wchar_t* prefix,
                               const std::function<void(const AudioSource&, SourceChange)>& onChange) {
  for (MixInput& input : inputs_) {
    const HRESULT drained = DrainCaptureClient(prefix, *input.source);
    const SourceChange change = WatchAudioSource(prefix, *input.source, drained);
    if (change != SourceChange::kNone) onChange(*input.source, change);
  }
}

void AudioMixer::ResetFifos() {
  for (MixInput& input : inputs_) {
    if (input.source->fifo) av_audio_fifo_reset(input.source->fifo.get());
  }
}

float AudioMixer::GainOf(const MixInput& input) const {
  if (!input.followsSystemVolume || !endpointVolume_) return input.gain;
  float scalar = 0.0f;
  if (FAILED(endpointVolume_->GetMasterVolumeLevelScalar(&scalar))) return input.gain;
  return input.gain * scalar;
}

void AudioMixer::MixInto(AVFrame* frame, int available) {
  const int frameSamples = frame->nb_samples;
  av_samples_set_silence(frame->data, 0, frameSamples, kMixChannels, AV_SAMPLE_FMT_FLTP);
  SampleBufferPtr scratch = AllocateMixSamples(frameSamples);
  if (!scratch) return;
  for (const MixInput& input : inputs_) {
    AVAudioFifo* fifo = input.source->fifo.get();
    if (!fifo) continue;
    const int queued = av_audio_fifo_size(fifo);
    const int take = available < frameSamples ? std::min(available, queued) : (queued >= frameSamples ? frameSamples : 0);
    if (take <= 0) continue;  // a source that lags contributes later, nothing is dropped
    av_audio_fifo_read(fifo, reinterpret_cast<void**>(scratch.get()), take);
    const float gain = GainOf(input);
    for (int channel = 0; channel < kMixChannels; ++channel) {
      AddWithGain(reinterpret_cast<float*>(frame->data[channel]),
                  reinterpret_cast<const float*>(scratch.get()[channel]), take, gain);
    }
  }
  for (int channel = 0; channel < kMixChannels; ++channel) {
    ClampSamples(reinterpret_cast<float*>(frame->data[channel]), frameSamples);
  }
}

void AudioMixer::BoundBacklogs(std::int64_t position,
                               const std::function<void(const std::wstring&, std::int64_t)>& onDrop) {
  for (MixInput& input : inputs_) {
    AVAudioFifo* fifo = input.source->fifo.get();
    if (!fifo) continue;
    const std::int64_t excess = input.backlog.Excess(av_audio_fifo_size(fifo), position);
    if (excess <= 0) continue;
    av_audio_fifo_drain(fifo, static_cast<int>(excess));
    onDrop(input.source->isInput ? L"Microphone" : L"System Audio", excess);
  }
}

void AudioMixer::Release() {
  inputs_.clear();  // each source stops its client and frees itself in order
  endpointVolume_.Reset();
}

void AddSettingsSources(AudioMixer& mixer, const wchar_t* prefix, const SettingsSources& sources) {
  const std::wstring who = prefix;
  if (sources.microphone) {
    auto mic = std::make_unique<AudioSource>();
    if (SUCCEEDED(InitAudioDevice(prefix, true, sources.microphoneId, *mic, nullptr))) {
      mixer.Add(std::move(mic), 1.0f, false);
    } else {
      LogMessage(who + L"Mic init failed. Continuing without it.");
    }
  }
  if (sources.system) {
    auto system = std::make_unique<AudioSource>();
    if (SUCCEEDED(InitAudioDevice(prefix, false, sources.systemId, *system, mixer.endpointVolume()))) {
      mixer.Add(std::move(system), sources.systemGain, sources.systemFollowsVolume);
    } else {
      LogMessage(who + L"System audio init failed. Continuing without it.");
    }
  }
}

void AddTrackSources(AudioMixer& mixer, const wchar_t* prefix, const std::vector<TrackConfig>& tracks) {
  for (const TrackConfig& track : tracks) {
    for (const bool input : {true, false}) {
      if (input ? !TrackRecordsAudioInput(track) : !TrackRecordsAudioOutput(track)) continue;
      auto source = std::make_unique<AudioSource>();
      if (FAILED(InitAudioDevice(prefix, input, input ? track.audio_input_id : track.audio_output_id, *source,
                                 nullptr))) {
        LogMessage(L"InitSingleAudioSource: [ERROR] Could not initialize audio source for track " + track.name);
        continue;
      }
      mixer.Add(std::move(source), TrackGain(input ? track.input_volume : track.output_volume), false);
    }
  }
}

}  // namespace vistrel
