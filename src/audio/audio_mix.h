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
