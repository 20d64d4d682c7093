// Audio without Windows: the recorders' mixing, gain, pacing and format rules, and sound files read
// whole (chunks that lie about their sizes, and the silence after a sound).
#include <algorithm>
#include <array>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "core/wave_data.h"
#include "media/audio_mix.h"
#include "mo_builder.h"

namespace vistrel {
namespace {

TEST(CaptureFormat, EveryTagAndContainerSizeMapsAsDocumented) {
  using F = CaptureSampleFormat;
  constexpr F U = F::Unsupported;
  const std::array<std::uint16_t, 5> sizes = {8, 16, 24, 32, 64};
  // {tag, sub-format is float, sub-format is PCM, format by container size}
  const std::tuple<std::uint16_t, bool, bool, std::array<F, 5>> rows[] = {
      {kWaveFormatPcm, false, false, {U, F::S16, U, F::S32, U}},
      {kWaveFormatIeeeFloat, false, false, {U, U, U, F::Float, F::Double}},
      {kWaveFormatExtensible, true, false, {U, U, U, F::Float, U}},
      {kWaveFormatExtensible, false, true, {U, F::S16, U, F::S32, U}},  // 24 valid bits come in 32
      {kWaveFormatExtensible, false, false, {U, U, U, U, U}},           // unknown sub-format
      {2, false, false, {U, U, U, U, U}},                               // ADPCM
  };
  for (const auto& [tag, isFloat, isPcm, bySize] : rows) {
    for (std::size_t i = 0; i < sizes.size(); ++i) {
      SCOPED_TRACE(::testing::Message() << tag << " float " << isFloat << " pcm " << isPcm << " bits " << sizes[i]);
      EXPECT_EQ(CaptureFormatOf(tag, sizes[i], isFloat, isPcm), bySize[i]);
    }
  }
}

TEST(Pacing, DueSamplesFollowElapsedTimeAndConvertedCountsRoundUp) {
  const std::int64_t qpf = 10'000'000, fast = 3'000'000'000;
  // {ticks, frequency, samples}, rounded down, never ahead of time: 7 samples take 1458.3 ticks.
  // Ten hours on a 3 GHz counter do not overflow.
  const std::int64_t due[][3] = {{0, qpf, 0}, {-5, qpf, 0}, {qpf, qpf, 48000}, {qpf / 2, qpf, 24000}, {1459, qpf, 7},
                                 {1458, qpf, 6}, {100, 0, 0}, {fast * 36000, fast, 48000LL * 36000}};
  for (const auto& [ticks, frequency, samples] : due) {
    EXPECT_EQ(DueSamples(ticks, frequency), samples) << ticks << " ticks at " << frequency;
  }
  // {input frames, input rate, samples at 48 kHz}, rounded up.
  const std::int64_t converted[][3] = {{441, 44100, 480}, {1, 44100, 2}, {480, 48000, 480}, {0, 48000, 0}, {100, 0, 0}};
  for (const auto& [frames, rate, samples] : converted) {
    EXPECT_EQ(ConvertedSampleCount(frames, static_cast<int>(rate)), samples) << frames << " at " << rate;
  }
}

void ExpectSamples(const std::vector<float>& actual, const std::vector<float>& expected) {
  ASSERT_EQ(actual.size(), expected.size());
  for (std::size_t i = 0; i < actual.size(); ++i) EXPECT_FLOAT_EQ(actual[i], expected[i]) << "sample " << i;
}

TEST(Mixing, SumWithGainThenClampAndScaleTracksUnclamped) {
  std::vector<float> mix = {0.0f, 0.5f, -0.5f, 0.9f};
  AddWithGain(mix.data(), std::vector<float>{0.2f, 0.2f, -0.8f, 0.9f}.data(), 4, 1.0f);
  AddWithGain(mix.data(), std::vector<float>(4, 1.0f).data(), 4, 0.25f);
  ExpectSamples(mix, {0.45f, 0.95f, -1.05f, 2.05f});
  // Broken samples from a source do not reach the encoder either.
  constexpr float kInfinity = std::numeric_limits<float>::infinity();
  mix.insert(mix.end(), {std::numeric_limits<float>::quiet_NaN(), kInfinity, -kInfinity});
  ClampSamples(mix.data(), 7);
  ExpectSamples(mix, {0.45f, 0.95f, -1.0f, 1.0f, 0.0f, 1.0f, -1.0f});

  std::vector<float> track = {0.8f, -0.4f};
  ScaleSamples(track.data(), 2, 0.5f);
  ExpectSamples(track, {0.4f, -0.2f});
  ScaleSamples(track.data(), 2, 3.0f);
  ExpectSamples(track, {1.2f, -0.6f});  // track volumes above 100 are not clamped
}

TEST(AudioSettings, GainBitRateAndOutputFormatFollowTheSettings) {
  EXPECT_FLOAT_EQ(SystemAudioGain(50, 0.5f), 0.25f);
  EXPECT_FLOAT_EQ(SystemAudioGain(100, -1.0f), 1.0f) << "no endpoint volume known";
  EXPECT_FLOAT_EQ(SystemAudioGain(150, 1.0f), 1.5f);
  EXPECT_FLOAT_EQ(SystemAudioGain(0, 1.0f), 0.0f);
  // Qualities -1 .. 4; an unknown one gets the default rate.
  const int rates[] = {192000, 96000, 128000, 192000, 320000, 192000};
  for (int quality = -1; quality <= 4; ++quality) EXPECT_EQ(AudioBitRate(quality), rates[quality + 1]) << quality;
  // Each known format is recorded and probed end to end; a value no version wrote has no encoder.
  EXPECT_EQ(AudioOutputFormatOf(5).encoder, nullptr);
  EXPECT_STREQ(AudioOutputFormatOf(5).extension, L"mp3");
}

// A source feeding a FIFO against a recording that writes 1024-sample frames as they fall due,
// every 10 ms of recording time: the drops, the samples dropped and the highest level left after a
// round of writes in the last ten seconds.
struct BacklogRun {
  int drops = 0;
  std::int64_t dropped = 0;
  std::int64_t highestLate = 0;
};

BacklogRun SimulateSource(double deviceRateFactor, std::int64_t startBacklog, int burstMs, int seconds) {
  BacklogRun run;
  BacklogBound bound;
  std::int64_t fifo = startBacklog, delivered = 0, written = 0;
  for (int ms = 10; ms <= seconds * 1000; ms += 10) {
    // The device hands over everything it produced since its last burst.
    if (ms % burstMs == 0) {
      const auto produced = static_cast<std::int64_t>(ms * 48.0 * deviceRateFactor);
      fifo += produced - delivered;
      delivered = produced;
    }
    for (; written + 1024 <= std::int64_t{ms} * 48; written += 1024) fifo -= std::min<std::int64_t>(fifo, 1024);
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

TEST(Backlog, OnlyALevelThatStaysHighIsCutAndOnlyDownToTheReserve) {
  // A source on time is never cut, even in large bursts; a slow clock leaves the FIFO short,
  // which is silence, never a drop.
  for (const int burst : {10, 100, 300}) EXPECT_EQ(SimulateSource(1.0, 0, burst, 120).drops, 0) << burst;
  EXPECT_EQ(SimulateSource(0.99, 0, 100, 120).drops, 0);

  // 2 % fast: 58 s of recording would leave 1.2 s behind without the bound. The level stays at
  // most the limit, what the clock gains in two windows, one burst and one frame; what is dropped
  // is what the fast clock added beyond the reserve, not more.
  const BacklogRun fast = SimulateSource(1.02, 0, 100, 60);
  EXPECT_GT(fast.drops, 0);
  EXPECT_LE(fast.highestLate, BacklogBound::kLimit + 2 * BacklogBound::kWindow / 50 + 4800 + 1024);
  EXPECT_LT(fast.dropped, static_cast<std::int64_t>(60 * 48000 * 0.02));

  // Old audio at the start goes within the first window. The level dips by one burst (4800) and
  // one frame before the next burst; the reserve stays.
  const BacklogRun old = SimulateSource(1.0, 48000, 100, 30);
  EXPECT_EQ(old.drops, 1);
  EXPECT_GE(old.dropped, 48000 - 4800 - 1024 - BacklogBound::kReserve);
  EXPECT_LE(old.highestLate, BacklogBound::kReserve + 4800 + 1024);
}

// Sound files --------------------------------------------------------------------------------------

using testing::PutWord;

// A RIFF WAVE file from its chunks, each given as tag and body; `declared` overrides a size.
std::vector<std::uint8_t> Riff(std::initializer_list<std::pair<std::string, std::string>> chunks,
                               std::uint32_t declared = 0) {
  std::string body = "WAVE";
  for (const auto& [tag, data] : chunks) {
    std::string size(4, '\0');
    PutWord(size, 0, declared && tag == "data" ? declared : static_cast<std::uint32_t>(data.size()));
    body += tag + size + data + (data.size() % 2 ? std::string(1, '\0') : "");
  }
  std::string size(4, '\0');
  PutWord(size, 0, static_cast<std::uint32_t>(body.size()));
  const std::string file = "RIFF" + size + body;
  return {file.begin(), file.end()};
}

std::string Format(std::uint16_t tag, std::uint16_t channels, std::uint16_t bits, std::size_t size = 16) {
  std::string f(size, '\0');
  const std::uint16_t align = static_cast<std::uint16_t>(channels * bits / 8);
  f[0] = static_cast<char>(tag & 0xFF), f[1] = static_cast<char>(tag >> 8), f[2] = static_cast<char>(channels);
  PutWord(f, 4, 8000);
  PutWord(f, 8, 8000u * align);
  f[12] = static_cast<char>(align), f[14] = static_cast<char>(bits);
  return f;
}

TEST(WaveFiles, ChunksAreFoundAndCheckedWhateverTheirSizesSay) {
  // An odd-sized chunk before the format is skipped with its pad byte.
  auto wave = ParseWave(Riff({{"LIST", "abc"}, {"fmt ", Format(1, 2, 16)}, {"data", "0123456"}}));
  ASSERT_TRUE(wave);
  EXPECT_EQ(wave->format.size(), 18u) << "the short form grows to a WAVEFORMATEX";
  EXPECT_EQ(wave->samples, std::vector<std::uint8_t>({'0', '1', '2', '3'})) << "whole frames only";
  // A data chunk that claims more than the file holds gives what is there.
  wave = ParseWave(Riff({{"fmt ", Format(1, 1, 16)}, {"data", "abcd"}}, 0x7FFFFFF0));
  ASSERT_TRUE(wave);
  EXPECT_EQ(wave->samples.size(), 4u);
  EXPECT_FALSE(ParseWave(Riff({{"data", "abcd"}}))) << "no format";
  EXPECT_FALSE(ParseWave(Riff({{"fmt ", Format(1, 0, 16)}, {"data", "abcd"}}))) << "no channels";
  EXPECT_FALSE(ParseWave(Riff({{"fmt ", Format(1, 1, 16).substr(0, 12)}, {"data", "ab"}}))) << "format cut short";

  // Silence is appended to linear formats only, in the format's own zero.
  wave = ParseWave(Riff({{"fmt ", Format(1, 1, 8)}, {"data", "xy"}}));
  AppendSilence(*wave, 100);
  EXPECT_EQ(wave->samples.size(), 2u + 800u);
  EXPECT_EQ(wave->samples.back(), 0x80);
  std::string extensible = Format(0xFFFE, 2, 32, 40);
  extensible[24] = 3;  // float samples
  wave = ParseWave(Riff({{"fmt ", extensible}, {"data", std::string(8, 'z')}}));
  AppendSilence(*wave, 10);
  EXPECT_EQ(wave->samples.size(), 8u + 640u);
  EXPECT_EQ(wave->samples.back(), 0);
  wave = ParseWave(Riff({{"fmt ", Format(2, 1, 8)}, {"data", "ad"}}));  // ADPCM: its silence is not zeros
  ASSERT_TRUE(wave);
  AppendSilence(*wave, 100);
  EXPECT_EQ(wave->samples.size(), 2u);
}

}  // namespace
}  // namespace vistrel
