#include "media/audio_mix.h"

namespace vistrel {

CaptureSampleFormat CaptureFormatOf(std::uint16_t tag, std::uint16_t bits, bool subFormatIsFloat,
                                    bool subFormatIsPcm) {
  switch (tag) {
    case kWaveFormatPcm:
      if (bits == 16) return CaptureSampleFormat::S16;
      if (bits == 32) return CaptureSampleFormat::S32;
      break;
    case kWaveFormatIeeeFloat:
      if (bits == 32) return CaptureSampleFormat::Float;
      if (bits == 64) return CaptureSampleFormat::Double;
      break;
    case kWaveFormatExtensible:
      if (subFormatIsFloat && bits == 32) return CaptureSampleFormat::Float;
      if (subFormatIsPcm && bits == 16) return CaptureSampleFormat::S16;
      if (subFormatIsPcm && bits == 32) return CaptureSampleFormat::S32;
      break;
    default:
      break;
  }
  return CaptureSampleFormat::Unsupported;
}

std::int64_t DueSamples(std::int64_t elapsedTicks, std::int64_t frequency) {
  if (elapsedTicks <= 0 || frequency <= 0) return 0;
  // Split to avoid overflow for long recordings on fast counters.
  const std::int64_t seconds = elapsedTicks / frequency;
  const std::int64_t rest = elapsedTicks % frequency;
  return seconds * kMixSampleRate + rest * kMixSampleRate / frequency;
}

std::int64_t BacklogBound::Excess(std::int64_t left, std::int64_t position) {
  if (lowest_ < 0 || left < lowest_) lowest_ = left;
  if (position - windowStart_ < kWindow) return 0;
  const std::int64_t excess = lowest_ > kLimit ? lowest_ - kReserve : 0;
  windowStart_ = position;
  lowest_ = -1;
  return excess;
}

std::int64_t ConvertedSampleCount(std::int64_t frames, int inputRate) {
  if (frames <= 0 || inputRate <= 0) return 0;
  return (frames * kMixSampleRate + inputRate - 1) / inputRate;
}

void AddWithGain(float* mix, const float* source, int count, float gain) {
  for (int i = 0; i < count; ++i) mix[i] += source[i] * gain;
}

void ScaleSamples(float* samples, int count, float gain) {
  for (int i = 0; i < count; ++i) samples[i] *= gain;
}

void ClampSamples(float* samples, int count) {
  for (int i = 0; i < count; ++i) {
    if (samples[i] > 1.0f) samples[i] = 1.0f;
    else if (samples[i] < -1.0f) samples[i] = -1.0f;
    else if (samples[i] != samples[i]) samples[i] = 0.0f;  // NaN from a broken source
  }
}

float SystemAudioGain(int volumePercent, float endpointScalar) {
  float gain = static_cast<float>(volumePercent) / 100.0f;
  if (endpointScalar >= 0.0f) gain *= endpointScalar;
  return gain;
}

int AudioBitRate(int quality) {
  switch (quality) {
    case 0: return 96000;
    case 1: return 128000;
    case 3: return 320000;
    default: return 192000;
  }
}

AudioOutputFormat AudioOutputFormatOf(int audioFormat) {
  switch (audioFormat) {
    case 0: return {"mp3", "libmp3lame", L"mp3"};
    case 1: return {"mp4", "aac", L"m4a"};
    case 2: return {"wav", "pcm_s16le", L"wav"};
    default: return {"mp3", nullptr, L"mp3"};
  }
}

}  // namespace vistrel
