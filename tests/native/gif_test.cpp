// GIF recording without Windows: the block structure (frame timing and loop given to a file that
// lacks them), quantising frames to a palette, and the frame clock with its delays.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "gif/gif_blocks.h"
#include "gif/gif_palette.h"
#include "gif/gif_timing.h"

namespace vistrel {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

// Signature and logical screen descriptor, with a global colour table of four entries whose bytes
// look like block introducers, so that a parser that forgets the table goes wrong.
Bytes Header(const char* version = "GIF89a", bool globalTable = true) {
  return Join({Bytes(version, version + 6), {0x2C, 0x01, 0xC8, 0x00, std::uint8_t(globalTable ? 0x81 : 0), 0, 0},
               globalTable ? Bytes{0x21, 0x2C, 0x3B, 0xF9, 0xFF, 0x21, 0, 0, 0, 1, 2, 3} : Bytes{}});
}

// An image: descriptor, optional local colour table of two entries, and image data in two
// sub-blocks (not real LZW: the blocks are never decoded).
Bytes Image(std::uint8_t seed, bool localTable) {
  return Join({{0x2C, 0, 0, 0, 0, 0x2C, 0x01, 0xC8, 0x00, std::uint8_t(localTable ? 0x80 : 0)},
               localTable ? Bytes{seed, 0x3B, 0x21, 0, seed, 0} : Bytes{}, {2, 3, seed, 0x21, 0x3B, 1, seed, 0}});
}

Bytes Control(std::uint8_t packed, std::uint16_t delay, std::uint8_t transparent) {
  return {0x21, 0xF9, 4, packed, std::uint8_t(delay & 0xFF), std::uint8_t(delay >> 8), transparent, 0};
}

Bytes Loop(std::uint16_t count, const char* id = "NETSCAPE2.0") {
  return Join({{0x21, 0xFF, 11}, Bytes(id, id + 11), {3, 1, std::uint8_t(count & 0xFF), std::uint8_t(count >> 8), 0}});
}

Bytes Comment(const std::string& text) {
  return Join({{0x21, 0xFE, std::uint8_t(text.size())}, Bytes(text.begin(), text.end()), {0}});
}

const Bytes kTrailer{0x3B};

// What an encoder without timing support writes: images only.
Bytes UntimedGif(int frames) {
  Bytes gif = Header();
  for (int i = 0; i < frames; ++i) gif = Join({gif, Image(std::uint8_t(i), i % 2 == 0)});
  return Join({gif, kTrailer});
}

// What ReadGifSummary finds: the screen size, the delays (one per frame), the loop count and
// whether the loop block follows the header; nothing when the file is refused.
using Summary = std::tuple<int, int, std::vector<int>, std::optional<int>, bool>;
std::optional<Summary> SummaryOf(const Bytes& gif) {
  const auto summary = ReadGifSummary(gif);
  if (!summary) return std::nullopt;
  EXPECT_EQ(summary->frames, static_cast<int>(summary->delays.size()));
  return Summary{summary->width, summary->height, summary->delays, summary->loopCount, summary->loopAfterHeader};
}

TEST(GifBlocks, UntimedFramesGetTheirDelaysAndTheLoopFollowsTheHeader) {
  const Bytes gif = UntimedGif(3);
  EXPECT_EQ(SummaryOf(gif), Summary(300, 200, {-1, -1, -1}, std::nullopt, false));

  // The header and colour table, the loop block, and every image intact behind its own control.
  const Bytes out = RewriteGifTiming(gif, std::vector<std::uint16_t>{10, 25, 10}, 0);
  EXPECT_EQ(out, Join({Header(), Loop(0), Control(0, 10, 0), Image(0, true), Control(0, 25, 0), Image(1, false),
                       Control(0, 10, 0), Image(2, true), kTrailer}));
  EXPECT_EQ(SummaryOf(out), Summary(300, 200, {10, 25, 10}, 0, true));
  EXPECT_EQ(RewriteGifTiming(out, std::vector<std::uint16_t>{10, 25, 10}, 0), out) << "a second rewrite";
}

TEST(GifBlocks, ExistingControlsKeepTheirFlagsAndOldLoopBlocksGo) {
  const Bytes gif = Join({Header("GIF87a", false), Comment("made elsewhere"),
                          Control(0x09, 7, 5),  // disposal 2 (restore background), transparent index 5
                          Image(1, false),
                          Loop(3, "ANIMEXTS1.0"),  // in the middle, with another count
                          Control(0x04, 0, 0),     // superseded by the next one
                          Control(0xE5, 9, 7),     // reserved bits set: they are cleared
                          Image(2, true),
                          Control(0, 3, 0),  // no image follows: dropped
                          kTrailer});
  EXPECT_EQ(SummaryOf(gif), Summary(300, 200, {7, 9}, 3, false));

  // Extensions need version 89a.
  const Bytes out = RewriteGifTiming(gif, std::vector<std::uint16_t>{12, 300}, 2);
  EXPECT_EQ(out, Join({Header("GIF89a", false), Loop(2), Comment("made elsewhere"), Control(0x09, 12, 5),
                       Image(1, false), Control(0x05, 300, 7), Image(2, true), kTrailer}));
  EXPECT_EQ(RewriteGifTiming(out, std::vector<std::uint16_t>{12, 300}, 2), out) << "a second rewrite";
  EXPECT_EQ(SummaryOf(out), Summary(300, 200, {12, 300}, 2, true));
}

TEST(GifBlocks, AFrameCountOtherThanTheDelaysIsRefused) {
  const Bytes gif = UntimedGif(3);
  EXPECT_TRUE(RewriteGifTiming(gif, std::vector<std::uint16_t>{10, 10}, 0).empty());
  EXPECT_TRUE(RewriteGifTiming(gif, std::vector<std::uint16_t>{10, 10, 10, 10}, 0).empty());
  EXPECT_TRUE(RewriteGifTiming(UntimedGif(0), std::vector<std::uint16_t>{10}, 0).empty());
  EXPECT_EQ(RewriteGifTiming(UntimedGif(0), {}, 0), Join({Header(), Loop(0), kTrailer}));
  EXPECT_EQ(SummaryOf(Join({Header(), Loop(0), kTrailer})), Summary(300, 200, {}, 0, true));
}

TEST(GifBlocks, DamagedFilesAreRefused) {
  const Bytes gif = UntimedGif(2);
  const std::vector<std::uint16_t> delays{10, 10};
  // Every truncation loses the trailer or cuts a block.
  for (std::size_t size = 0; size < gif.size(); ++size) {
    const Bytes cut(gif.begin(), gif.begin() + static_cast<std::ptrdiff_t>(size));
    EXPECT_FALSE(ReadGifSummary(cut)) << size;
    EXPECT_TRUE(RewriteGifTiming(cut, delays, 0).empty()) << size;
  }
  Bytes badSignature = gif;
  badSignature[4] = '8';
  EXPECT_FALSE(ReadGifSummary(badSignature));
  EXPECT_FALSE(ReadGifSummary(Join({Header(), {0x42, 0x3B}}))) << "an unknown block";
  EXPECT_FALSE(ReadGifSummary(Join({Header(), {0x21, 0xFE, 200, 'x', 0, 0x3B}}))) << "a sub-block past the end";
  // Bytes after the trailer are not part of the image and are left out of a rewrite.
  EXPECT_EQ(RewriteGifTiming(Join({gif, {1, 2, 3}}), delays, 0),
            Join({Header(), Loop(0), Control(0, 10, 0), Image(0, true), Control(0, 10, 0), Image(1, false), kTrailer}));
}

// A frame of top-down BGRA rows, and the colour of each pixel as 0xRRGGBB.
struct Frame {
  int width, height;
  std::vector<std::uint8_t> bgra;
  std::vector<std::uint32_t> rgb;
};

template <typename ColourOf>
Frame MakeFrame(int width, int height, ColourOf colourOf) {
  Frame frame{width, height, {}, {}};
  for (int i = 0; i < width * height; ++i) {
    const std::uint32_t rgb = colourOf(i % width, i / width) & 0xFFFFFF;
    frame.rgb.push_back(rgb);
    // The alpha byte varies and plays no part.
    frame.bgra.insert(frame.bgra.end(),
                      {std::uint8_t(rgb), std::uint8_t(rgb >> 8), std::uint8_t(rgb >> 16), std::uint8_t(i)});
  }
  return frame;
}

// Quantises into `out` (whose buffers are reused), checking what holds for every frame, and
// returns the worst channel error of a pixel and the mean of those errors.
std::pair<int, double> Quantize(const Frame& frame, IndexedFrame& out) {
  QuantizeFrame(frame.bgra.data(), frame.width, frame.height, out);
  EXPECT_EQ(out.indices.size(), frame.rgb.size());
  EXPECT_GE(out.palette.size(), 1u);
  EXPECT_LE(out.palette.size(), 256u);
  int worst = 0;
  double total = 0;
  for (std::size_t i = 0; i < std::min(out.indices.size(), frame.rgb.size()); ++i) {
    if (out.indices[i] >= out.palette.size()) {
      ADD_FAILURE() << "index " << int(out.indices[i]) << " of pixel " << i << " is outside the palette";
      break;
    }
    int error = 0;
    for (int shift : {0, 8, 16}) {
      const int shown = (out.palette[out.indices[i]] >> shift) & 0xFF, wanted = (frame.rgb[i] >> shift) & 0xFF;
      error = std::max(error, std::abs(shown - wanted));
    }
    worst = std::max(worst, error);
    total += error;
  }
  return {worst, frame.rgb.empty() ? 0.0 : total / static_cast<double>(frame.rgb.size())};
}

// One output frame takes every frame in turn, so that its buffers are reused whatever the sizes.
TEST(GifPalette, UpTo256ColoursAreKeptExactlyAndMoreAreApproximatedClosely) {
  IndexedFrame out;
  // 256 colours that differ only in their low bits, so that 5-bit binning would merge them.
  EXPECT_EQ(Quantize(MakeFrame(64, 40, [](int x, int y) {
              const std::uint32_t n = static_cast<std::uint32_t>((x + y * 64) % 256);
              return ((n & 7) << 16) | (((n >> 3) & 7) << 8) | (n >> 6) | 0x808080;
            }), out).first, 0);
  // A smooth gradient of 64 x 64 x 4 colours, and then a frame of noise.
  const auto [worst, mean] = Quantize(MakeFrame(256, 64, [](int x, int y) {
    return static_cast<std::uint32_t>((x << 16) | ((y * 4) << 8) | ((x + y) & 0xFF));
  }), out);
  EXPECT_EQ(out.palette.size(), 256u);
  EXPECT_LE(worst, 48);
  EXPECT_LT(mean, 16.0);
  std::uint32_t seed = 1;
  Quantize(MakeFrame(97, 61, [&](int, int) { return (seed = seed * 1664525u + 1013904223u) >> 8; }), out);
  EXPECT_EQ(out.palette.size(), 256u);
  // Odd sizes, a flat frame, a single pixel and no pixels at all.
  Quantize(MakeFrame(33, 17, [](int x, int y) { return std::uint32_t(x * 7919 + y * 104729); }), out);
  EXPECT_EQ(Quantize(MakeFrame(300, 200, [](int, int) { return 0x336699u; }), out).first, 0);
  EXPECT_EQ(out.palette, std::vector<std::uint32_t>{0x336699});
  Quantize(MakeFrame(1, 1, [](int, int) { return 0xABCDEFu; }), out);
  EXPECT_EQ(out.palette, std::vector<std::uint32_t>{0xABCDEF});
  QuantizeFrame(nullptr, 0, 0, out);
  EXPECT_TRUE(out.indices.empty());
  EXPECT_EQ(out.palette.size(), 1u);
}

// Runs the clock as the recorder does: each frame's work takes work[i] ms, then the clock says how
// long to sleep. Returns the frame times, the last entry being the moment the recording ended.
std::vector<std::int64_t> RunClock(GifFrameClock& clock, std::int64_t start, const std::vector<std::int64_t>& work) {
  clock.Start(start);
  std::vector<std::int64_t> times{clock.FrameTime()};
  for (std::int64_t ms : work) {
    const std::int64_t done = clock.FrameTime() + ms;
    const std::int64_t sleep = clock.Advance(done);
    EXPECT_EQ(clock.FrameTime(), done + sleep) << "the next frame is taken when the sleep ends";
    times.push_back(clock.FrameTime());
  }
  return times;
}

std::vector<int> Delays(const GifFrameClock& clock, const std::vector<std::int64_t>& times) {
  std::vector<int> delays;
  for (std::size_t i = 0; i + 1 < times.size(); ++i) delays.push_back(clock.DelayCentiseconds(times[i], times[i + 1]));
  return delays;
}

TEST(GifFrameClock, FramesWithinTheirIntervalSleepTheRemainderAndLastTenHundredths) {
  GifFrameClock clock;
  const auto times = RunClock(clock, 123457, {30, 99, 0, 45, 1});
  EXPECT_EQ(times, (std::vector<std::int64_t>{123457, 123557, 123657, 123757, 123857, 123957}));
  EXPECT_EQ(Delays(clock, times), (std::vector<int>{10, 10, 10, 10, 10}));
  EXPECT_EQ(clock.Elapsed(), 500);
}

TEST(GifFrameClock, AnOverrunningFrameLastsAsLongAsItReallyDidAndTheGridMoves) {
  GifFrameClock clock;
  clock.Start(1000);
  EXPECT_EQ(clock.Advance(1040), 60);
  EXPECT_EQ(clock.Advance(1100 + 257), 0) << "late: the next frame is taken at once";
  EXPECT_EQ(clock.FrameTime(), 1357);
  EXPECT_EQ(clock.Advance(1357 + 20), 80) << "the grid continues from the late frame";
  EXPECT_EQ(clock.FrameTime(), 1457);
  EXPECT_EQ(clock.DelayCentiseconds(1100, 1357), 26);
  EXPECT_EQ(clock.DelayCentiseconds(1357, 1457), 10);
  EXPECT_EQ(clock.Advance(1557), 0) << "exactly on time is not early";
  EXPECT_EQ(clock.FrameTime(), 1557);
  // Delays stay within the field's range and round half up.
  EXPECT_EQ(clock.DelayCentiseconds(1000, 701000), 0xFFFF);
  EXPECT_EQ(clock.DelayCentiseconds(1500, 1400), 0);
  EXPECT_EQ(clock.DelayCentiseconds(1000, 1004), 0);
  EXPECT_EQ(clock.DelayCentiseconds(1000, 1005), 1);
}

TEST(GifFrameClock, DelaysAddUpToTheRecordingWhateverTheRounding) {
  GifFrameClock clock;
  // Frames of about a second each, as a full-screen frame takes with a slow encoder.
  const auto times = RunClock(clock, 5, {733, 1004, 866, 912, 1095, 704, 999, 1001});
  const auto delays = Delays(clock, times);
  int sum = 0;
  for (std::size_t i = 0; i < delays.size(); ++i) {
    EXPECT_NEAR(delays[i], static_cast<double>(times[i + 1] - times[i]) / 10.0, 1.0) << i;
    sum += delays[i];
  }
  EXPECT_NEAR(sum * 10, times.back() - times.front(), 5);
}

}  // namespace
}  // namespace vistrel
