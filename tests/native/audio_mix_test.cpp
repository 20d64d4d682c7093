// Mixing, gain, pacing and format rules of the recorders.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "media/audio_mix.h"

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


// A source feeding a FIFO against a recording that writes 1024-sample frames as they fall due,
// every 10 ms of recording time. Returns the samples dropped and the highest level left after a
// round of writes in the last ten seconds.
struct BacklogRun {
  std::int64_t dropped = 0;
  std::int64_t highestLate = 0;
  int drops = 0;
};

BacklogRun SimulateSource(double deviceRateFactor, std::int64_t startBacklog, int burstMs, int seconds) {
  BacklogRun run;
  BacklogBound bound;
  std::int64_t fifo = startBacklog;
  std::int64_t delivered = 0;
  std::int64_t written = 0;
  for (int ms = 10; ms <= seconds * 1000; ms += 10) {
    // The device hands over everything it produced since its last burst.
    if (ms % burstMs == 0) {
      const auto produced = static_cast<std::int64_t>(ms * 48.0 * deviceRateFactor);
      fifo += produced - delivered;
      delivered = produced;
    }
    const std::int64_t due = static_cast<std::int64_t>(ms) * 48;
    while (written + 1024 <= due) {
      fifo -= std::min<std::int64_t>(fifo, 1024);
      written += 1024;
    }
    const std::int64_t drop = bound.Excess(fifo, written);
    if (drop > 0) {
      ++run.drops;
      run.dropped += drop;
      fifo -= drop;
    }
    if (ms > (seconds - 10) * 1000) run.highestLate = std::max(run.highestLate, fifo);
  }
  return run;
}

TEST(Backlog, ASourceOnTimeIsNeverCutEvenInLargeBursts) {
  for (const int burst : {10, 100, 300}) {
    const BacklogRun run = SimulateSource(1.0, 0, burst, 120);
    EXPECT_EQ(run.drops, 0) << burst;
  }
  // A slow clock leaves the FIFO short, which is silence, never a drop.
  EXPECT_EQ(SimulateSource(0.99, 0, 100, 120).drops, 0);
}

TEST(Backlog, AFastClockStaysWithinAFractionOfASecond) {
  // 2 % fast: 58 s of recording would leave 1.2 s behind without the bound.
  const BacklogRun run = SimulateSource(1.02, 0, 100, 60);
  EXPECT_GT(run.drops, 0);
  // At most the limit, what the clock gains in two windows, one burst and one frame.
  EXPECT_LE(run.highestLate, BacklogBound::kLimit + 2 * BacklogBound::kWindow / 50 + 4800 + 1024);
  // What was dropped is what the fast clock added beyond the reserve, not more.
  EXPECT_LT(run.dropped, static_cast<std::int64_t>(60 * 48000 * 0.02));
}

TEST(Backlog, OldAudioAtTheStartGoesWithinTheFirstWindow) {
  const BacklogRun run = SimulateSource(1.0, 48000, 100, 30);
  EXPECT_EQ(run.drops, 1);
  // The level dips by one burst (4800) and one frame before the next burst; the reserve stays.
  EXPECT_GE(run.dropped, 48000 - 4800 - 1024 - BacklogBound::kReserve);
  EXPECT_LE(run.highestLate, BacklogBound::kReserve + 4800 + 1024);
}

}  // namespace
}  // namespace vistrel
