// Audio arithmetic shared by the recorders: the capture format table, frame pacing, mixing with
// gain, and the output formats. Windows-free.
#pragma once

#include <cstdint>
#include <string>

namespace vistrel {

// Every mix, FIFO and encoder input: 48 kHz stereo planar float.
inline constexpr int kMixSampleRate = 48000;
inline constexpr int kMixChannels = 2;

// Sample formats a capture endpoint may deliver (always interleaved).
enum class CaptureSampleFormat { Unsupported, S16, S32, Float, Double };

inline constexpr std::uint16_t kWaveFormatPcm = 1;
inline constexpr std::uint16_t kWaveFormatIeeeFloat = 3;
inline constexpr std::uint16_t kWaveFormatExtensible = 0xFFFE;

// The format of a mix format: the tag, the container size in bits and, for the extensible tag,
// whether the sub-format is IEEE float or PCM. The container size decides, not the valid bits.
CaptureSampleFormat CaptureFormatOf(std::uint16_t formatTag, std::uint16_t bitsPerSample,
                                    bool subFormatIsFloat, bool subFormatIsPcm);

// Samples due after `elapsedTicks` of a counter running at `frequency` (rounded down).
std::int64_t DueSamples(std::int64_t elapsedTicks, std::int64_t frequency);

// Samples the resampler can produce from `frames` input frames at `inputRate`, rounded up.
std::int64_t ConvertedSampleCount(std::int64_t frames, int inputRate);

// Keeps a source that delivers more than the recording clock asks for (a device clock running
// fast, or old audio handed over at stream start) from holding the recording ever further behind.
// A burst that is written out soon after is not a backlog: only a level that stays above the limit
// for a whole observation window is, and then the oldest samples beyond a small reserve go.
class BacklogBound {
 public:
  static constexpr std::int64_t kWindow = 2 * kMixSampleRate;   // observation window
  static constexpr std::int64_t kLimit = kMixSampleRate / 2;    // standing level that is too much
  static constexpr std::int64_t kReserve = kMixSampleRate / 10; // what is left after a drop

  // Called after each round of writes with the samples left in the source's FIFO and the
  // recording position in samples. Returns how many of the oldest samples to drop now (0 mostly).
  std::int64_t Excess(std::int64_t left, std::int64_t position);

 private:
  std::int64_t windowStart_ = 0;
  std::int64_t lowest_ = -1;  // lowest level seen in the current window; -1: none yet
};

// mix[i] += source[i] * gain for `count` samples.
void AddWithGain(float* mix, const float* source, int count, float gain);

// samples[i] *= gain for `count` samples.
void ScaleSamples(float* samples, int count, float gain);

// Limits every sample to -1.0 .. 1.0.
void ClampSamples(float* samples, int count);

// Gain of the system audio: the volume setting in percent, times the endpoint's master volume
// when it is known (negative: unknown).
float SystemAudioGain(int volumePercent, float endpointScalar);

// Encoder bit rate of an AudioQuality setting.
int AudioBitRate(int quality);

struct AudioOutputFormat {
  const char* muxer;    // FFmpeg muxer name
  const char* encoder;  // FFmpeg encoder name; null when the setting names no format
  const wchar_t* extension;
};

// The output format of an AudioFormat setting (0 MP3, 1 M4A, 2 WAV).
AudioOutputFormat AudioOutputFormatOf(int audioFormat);

}  // namespace vistrel
