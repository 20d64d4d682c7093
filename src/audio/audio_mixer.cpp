#include "audio/audio_mixer.h"

#include <algorithm>

#include "audio/ffmpeg_util.h"
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

std::int64_t WriteDueTrackAudio(AVFrame* frame, AudioSource& source, std::mutex& fifoLock, BacklogBound& backlog,
                                std::int64_t& samplesWritten, std::int64_t due, bool finishing, int volumePercent,
                                const std::function<void(AVFrame*)>& encode) {
  const int frameSamples = frame->nb_samples;
  const auto gain = static_cast<float>(volumePercent) / 100.0f;
  while (samplesWritten + frameSamples <= due || (finishing && samplesWritten < due)) {
    const bool partial = samplesWritten + frameSamples > due;
    const int wanted = partial ? static_cast<int>(due - samplesWritten) : frameSamples;
    if (av_frame_make_writable(frame) < 0) break;
    av_samples_set_silence(frame->data, 0, frameSamples, kMixChannels, AV_SAMPLE_FMT_FLTP);
    {
      std::lock_guard guard(fifoLock);
      AVAudioFifo* samples = source.fifo.get();
      const int available = av_audio_fifo_size(samples);
      const int take = partial ? std::min(wanted, available) : (available >= frameSamples ? frameSamples : 0);
      if (take > 0) av_audio_fifo_read(samples, reinterpret_cast<void**>(frame->data), take);
    }
    if (volumePercent != 100) {
      for (int channel = 0; channel < kMixChannels; ++channel) {
        ScaleSamples(reinterpret_cast<float*>(frame->data[channel]), frameSamples, gain);
      }
    }
    frame->pts = samplesWritten;
    encode(frame);
    samplesWritten += frameSamples;
  }
  if (finishing) return 0;
  std::lock_guard guard(fifoLock);
  AVAudioFifo* samples = source.fifo.get();
  const std::int64_t excess = backlog.Excess(av_audio_fifo_size(samples), samplesWritten);
  if (excess > 0) av_audio_fifo_drain(samples, static_cast<int>(excess));
  return excess;
}

}  // namespace vistrel
