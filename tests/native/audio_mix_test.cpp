// Mixing, gain, pacing and format rules of the recorders.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "audio/audio_mix.h"

namespace vistrel {
namespace {

TEST(CaptureFormat, EveryMixFormatMapsAsDocumented) {
  using F = CaptureSampleFormat;
  EXPECT_EQ(CaptureFormatOf(kWaveFormatPcm, 16, false, false), F::S16);
  EXPECT_EQ(CaptureFormatOf(kWaveFormatPcm, 32, false, false), F::S32);
  EXPECT_EQ(CaptureFormatOf(kWaveFormatPcm, 24, false, false), F::Unsupported);
  EXPECT_EQ(CaptureFormatOf(kWaveFormatPcm, 8, false, false), F::Unsupported);
  EXPECT_EQ(CaptureFormatOf(kWaveFormatIeeeFloat, 32, false, false), F::Float);
  EXPECT_EQ(CaptureFormatOf(kWaveFormatIeeeFloat, 64, false, false), F::Double);
  EXPECT_EQ(CaptureFormatOf(kWaveFormatIeeeFloat, 16, false, false), F::Unsupported);
  EXPECT_EQ(CaptureFormatOf(kWaveFormatExtensible, 32, true, false), F::Float);
  EXPECT_EQ(CaptureFormatOf(kWaveFormatExtensible, 64, true, false), F::Unsupported);
  EXPECT_EQ(CaptureFormatOf(kWaveFormatExtensible, 16, false, true), F::S16);
  EXPECT_EQ(CaptureFormatOf(kWaveFormatExtensible, 32, false, true), F::S32) << "24 valid bits in 32";
  EXPECT_EQ(CaptureFormatOf(kWaveFormatExtensible, 24, false, true), F::Unsupported);
  EXPECT_EQ(CaptureFormatOf(kWaveFormatExtensible, 32, false, false), F::Unsupported) << "unknown sub-format";
  EXPECT_EQ(CaptureFormatOf(2, 16, false, false), F::Unsupported) << "ADPCM";
}

TEST(Pacing, DueSamplesFollowElapsedTime) {
  const std::int64_t qpf = 10'000'000;
  EXPECT_EQ(DueSamples(0, qpf), 0);
  EXPECT_EQ(DueSamples(-5, qpf), 0);
  EXPECT_EQ(DueSamples(qpf, qpf), 48000);
  EXPECT_EQ(DueSamples(qpf / 2, qpf), 24000);
  EXPECT_EQ(DueSamples(1459, qpf), 7);  // 7 samples take 1458.3 ticks
  EXPECT_EQ(DueSamples(1458, qpf), 6) << "rounded down, never ahead of time";
  // Ten hours on a 3 GHz counter do not overflow.
  const std::int64_t fast = 3'000'000'000;
  EXPECT_EQ(DueSamples(fast * 36000, fast), 48000LL * 36000);
  EXPECT_EQ(DueSamples(100, 0), 0);
}

TEST(Pacing, ConvertedCountsRoundUp) {
  EXPECT_EQ(ConvertedSampleCount(441, 44100), 480);
  EXPECT_EQ(ConvertedSampleCount(1, 44100), 2);
  EXPECT_EQ(ConvertedSampleCount(480, 48000), 480);
  EXPECT_EQ(ConvertedSampleCount(0, 48000), 0);
  EXPECT_EQ(ConvertedSampleCount(100, 0), 0);
}

TEST(Mixing, SumWithGainThenClamp) {
  std::vector<float> mix = {0.0f, 0.5f, -0.5f, 0.9f};
  const std::vector<float> mic = {0.2f, 0.2f, -0.8f, 0.9f};
  AddWithGain(mix.data(), mic.data(), 4, 1.0f);
  const std::vector<float> system = {1.0f, 1.0f, 1.0f, 1.0f};
  AddWithGain(mix.data(), system.data(), 4, 0.25f);
  EXPECT_FLOAT_EQ(mix[0], 0.45f);
  EXPECT_FLOAT_EQ(mix[1], 0.95f);
  EXPECT_FLOAT_EQ(mix[2], -1.05f);
  EXPECT_FLOAT_EQ(mix[3], 2.05f);
  ClampSamples(mix.data(), 4);
  EXPECT_FLOAT_EQ(mix[1], 0.95f);
  EXPECT_FLOAT_EQ(mix[2], -1.0f);
  EXPECT_FLOAT_EQ(mix[3], 1.0f);
}

TEST(Mixing, BrokenSamplesDoNotReachTheEncoder) {
  std::vector<float> samples = {std::numeric_limits<float>::quiet_NaN(),
                                std::numeric_limits<float>::infinity(),
                                -std::numeric_limits<float>::infinity()};
  ClampSamples(samples.data(), 3);
  EXPECT_EQ(samples[0], 0.0f);
  EXPECT_EQ(samples[1], 1.0f);
  EXPECT_EQ(samples[2], -1.0f);
}

TEST(Mixing, TrackVolumeScalesWithoutClamping) {
  std::vector<float> samples = {0.8f, -0.4f};
  ScaleSamples(samples.data(), 2, 0.5f);
  EXPECT_FLOAT_EQ(samples[0], 0.4f);
  EXPECT_FLOAT_EQ(samples[1], -0.2f);
  ScaleSamples(samples.data(), 2, 3.0f);
  EXPECT_FLOAT_EQ(samples[0], 1.2f) << "track volumes above 100 are not clamped";
}

TEST(Gain, SystemAudioFollowsSettingAndEndpointVolume) {
  EXPECT_FLOAT_EQ(SystemAudioGain(50, 0.5f), 0.25f);
  EXPECT_FLOAT_EQ(SystemAudioGain(100, -1.0f), 1.0f) << "no endpoint volume known";
  EXPECT_FLOAT_EQ(SystemAudioGain(150, 1.0f), 1.5f);
  EXPECT_FLOAT_EQ(SystemAudioGain(0, 1.0f), 0.0f);
}

TEST(OutputFormat, QualityAndFormatTables) {
  EXPECT_EQ(AudioBitRate(0), 96000);
  EXPECT_EQ(AudioBitRate(1), 128000);
  EXPECT_EQ(AudioBitRate(2), 192000);
  EXPECT_EQ(AudioBitRate(3), 320000);
  EXPECT_EQ(AudioBitRate(-1), 192000);
  EXPECT_EQ(AudioBitRate(9), 192000);
  EXPECT_STREQ(AudioOutputFormatOf(0).encoder, "libmp3lame");
  EXPECT_STREQ(AudioOutputFormatOf(1).muxer, "mp4");
  EXPECT_STREQ(AudioOutputFormatOf(1).extension, L"m4a");
  EXPECT_STREQ(AudioOutputFormatOf(2).encoder, "pcm_s16le");
  EXPECT_EQ(AudioOutputFormatOf(5).encoder, nullptr);
  EXPECT_STREQ(AudioOutputFormatOf(5).extension, L"mp3");
}

}  // namespace
}  // namespace vistrel

