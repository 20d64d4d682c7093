// The frames of recordings, without Windows: output sizes, bit rates, file base names and frame
// times of video; the boxes of an MP4 that was or was not finished; and for GIFs the palette and
// the pixels' indices, what changed between frames, the queue between capture and encoder, and the
// frame clock with its stamps.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "gif/gif_frames.h"
#include "gif/gif_palette.h"
#include "gif/gif_timing.h"
#include "media/mp4_layout.h"
#include "video/video_layout.h"

namespace vistrel {
namespace {

TEST(VideoOutputSize, FollowsTheQualityTableWithoutUpscalingAndScalesTheBitRate) {
  // {source width, height, quality, frame rate, output width, height, target height, limited by the
  // source, bit rate}
  const std::tuple<int, int, int, int, int, int, int, bool, std::int32_t> cases[] = {
      {1366, 768, 2, 60, 1366, 768, 768, true, 8000000},  // the source is below 1080 lines
      {2560, 1440, 1, 60, 1280, 720, 720, false, 4000000},
      {1280, 1024, 0, 60, 600, 480, 480, false, 1500000},  // 480 x 1.25
      {1920, 1080, 2, 30, 1920, 1080, 1080, false, 4000000},
      {1920, 1080, 2, 120, 1920, 1080, 1080, false, 16000000},
      {3840, 2160, 4, 90, 3840, 2160, 2160, false, 52500000},
      {1280, 720, 7, 60, 1280, 720, 720, false, 8000000},  // unknown index: the source's height
      {853, 480, 0, 60, 852, 480, 480, false, 1500000},    // odd widths are made even
      {301, 201, 2, 60, 300, 200, 201, true, 8000000},     // the target is reported before evening
      {100, 0, 2, 60, 0, 0, 0, true, 8000000},             // no size rather than a division by zero
      {3840, 2160, 4, 4000, 3840, 2160, 2160, false, 2147483647},  // a huge rate from the file: no overflow
  };
  for (const auto& [width, height, quality, framerate, outWidth, outHeight, target, limited, bitRate] : cases) {
    const VideoOutputSize size = VideoOutputSizeFor(width, height, quality, framerate);
    EXPECT_EQ(std::tuple(size.width, size.height, size.targetHeight, size.sourceLimited, size.bitRate),
              std::tuple(outWidth, outHeight, target, limited, bitRate))
        << width << "x" << height << " q" << quality << " " << framerate;
  }
  for (const auto& [stored, used] : {std::pair(0, 60), {-5, 60}, {25, 25}, {4000, 240}}) {
    EXPECT_EQ(UsableFramerate(stored), used) << stored;
  }
}

TEST(VideoBaseName, WindowTitlesBecomeSafeNames) {
  EXPECT_EQ(VideoBaseName(false, L"ignored", false), L"Recording");
  EXPECT_EQ(VideoBaseName(false, L"", true), L"MultiTrack_Recording");
  EXPECT_EQ(VideoBaseName(true, L"a/b:c\\d*e?f<g>h|i\"j\"", false), L"a-b-c-d-e-f-g-h-i'j'");
  EXPECT_EQ(VideoBaseName(true, L"", false), L"WindowCapture");
  EXPECT_EQ(VideoBaseName(true, L"", true), L"WindowCapture_MultiTrack");
  EXPECT_EQ(VideoBaseName(true, L"Notes", true), L"Notes_MultiTrack");
  EXPECT_EQ(VideoBaseName(true, L"tab\there", false), L"tab-here");
  const std::wstring long_title(150, L'x');
  EXPECT_EQ(VideoBaseName(true, long_title, false), std::wstring(100, L'x'));
  EXPECT_EQ(VideoBaseName(true, L"Ωμέγα 録音", false), L"Ωμέγα 録音");
}

// An MP4 of boxes of the given types and sizes (a moov holds an mvex when `fragments`).
std::string Mp4(const std::vector<std::pair<std::string, std::uint32_t>>& boxes, bool fragments) {
  std::string file;
  for (const auto& [type, size] : boxes) {
    std::string box(size, '\0');
    for (int i = 0; i < 4; ++i) box[i] = static_cast<char>(size >> (24 - 8 * i));
    box.replace(4, 4, type);
    if (type == "moov") box.replace(8, 8, fragments ? std::string("\0\0\0\x08mvex", 8) : std::string("\0\0\0\x08trak", 8));
    file += box;
  }
  return file;
}

Mp4Layout LayoutOf(const std::string& file) {
  return ReadMp4Layout(file.size(), [&](std::uint64_t offset, std::uint8_t* buffer, std::size_t count) {
    const std::size_t got = offset < file.size() ? std::min(count, file.size() - static_cast<std::size_t>(offset)) : 0;
    std::copy_n(file.data() + offset, got, buffer);
    return got;
  });
}

TEST(Mp4Layout, FragmentsAreToldAndAFileCutShortIsWholeUpToItsLastCompleteFragment) {
  const std::vector<std::pair<std::string, std::uint32_t>> boxes = {
      {"ftyp", 24}, {"moov", 40}, {"moof", 30}, {"mdat", 100}, {"moof", 30}, {"mdat", 100}};
  const std::string fragmented = Mp4(boxes, true);
  EXPECT_TRUE(LayoutOf(fragmented).fragmented);
  EXPECT_EQ(LayoutOf(fragmented).intact, fragmented.size());
  EXPECT_FALSE(LayoutOf(Mp4({{"ftyp", 24}, {"moov", 40}, {"mdat", 100}}, false)).fragmented);
  // Cut in the last fragment's samples, or in its header: whole up to the fragment before.
  for (const std::size_t cut : {fragmented.size() - 1, fragmented.size() - 100, fragmented.size() - 120}) {
    EXPECT_EQ(LayoutOf(fragmented.substr(0, cut)).intact, 24u + 40 + 130) << cut;
  }
  EXPECT_EQ(LayoutOf(fragmented.substr(0, 30)).intact, 24u);
  EXPECT_EQ(LayoutOf("RIFF" + fragmented).intact, 0u) << "not an MP4";
  std::string garbage = fragmented;
  garbage[24 + 40 + 4] = '\x01';  // a box type that is no text: nothing after it counts
  EXPECT_EQ(LayoutOf(garbage).intact, 24u + 40);
}

TEST(FrameClock, OnTimeTicksNumberEveryInterval) {
  FrameClock clock(1000);
  for (int n = 0; n < 50; ++n) {
    ASSERT_EQ(clock.nextDue(), n * 1000);
    EXPECT_EQ(clock.Take(n * 1000 + 3), n);  // woken a little late, as Sleep does
  }
  EXPECT_EQ(clock.skipped(), 0);
  EXPECT_EQ(clock.FinalPts(49999), -1);  // the stop falls in the last frame's interval
  EXPECT_EQ(clock.FinalPts(50200), 50);
}

TEST(FrameClock, ASlowMachineSkipsIntervalsAndStaysInStep) {
  // Each tick takes 1.7 intervals: frames carry the time they were taken at, so the video's
  // length stays the recording time instead of stretching 1.7 times.
  FrameClock clock(1000);
  std::int64_t now = 0;
  std::int64_t last = -1;
  while (now < 60000) {
    if (now < clock.nextDue()) now = clock.nextDue();
    const std::int64_t pts = clock.Take(now);
    EXPECT_GT(pts, last);
    EXPECT_LE(pts * 1000, now);
    EXPECT_GT((pts + 1) * 1000, now);  // the interval it was written in
    last = pts;
    now += 1700;
  }
  EXPECT_GT(clock.skipped(), 0);
  EXPECT_EQ(clock.skipped() + clock.written(), last + 1);
  // The end is within one frame of the recording time.
  EXPECT_LE(now - (last + 1) * 1000, 1700);
}

TEST(FrameClock, AnUnchangedPictureWaitsForTheNextIntervalAndTimesNeverRepeat) {
  FrameClock clock(1000);
  EXPECT_EQ(clock.Take(0), 0);
  clock.Idle(1200);  // the desktop had not changed
  EXPECT_EQ(clock.nextDue(), 2000);
  EXPECT_EQ(clock.Take(2100), 2);  // interval 1 has no frame: the previous picture lasts
  EXPECT_EQ(clock.nextDue(), 3000);
  // After a pause the recording time resumes where it stopped, inside the last frame's interval.
  EXPECT_EQ(clock.Take(5500), 5);
  EXPECT_EQ(clock.Take(5600), 6);
  EXPECT_EQ(clock.Take(5600), 7);
  FrameClock zero(0);  // a nonsensical interval is not a division by zero
  EXPECT_EQ(zero.Take(10), 10);
}

TEST(TickStatistics, MeanAndPercentiles) {
  TickStatistics ticks;
  EXPECT_EQ(ticks.Percentile(0.95), 0.0);
  for (int i = 1; i <= 100; ++i) ticks.Add(i);  // 1 .. 100 ms
  EXPECT_EQ(ticks.count(), 100);
  EXPECT_NEAR(ticks.Mean(), 50.5, 1e-9);
  EXPECT_NEAR(ticks.Percentile(0.95), 95.0, 1e-9);
  EXPECT_NEAR(ticks.Percentile(1.0), 100.0, 1e-9);
  ticks.Add(5000);  // beyond the histogram: counted as one second
  ticks.Add(-3);
  EXPECT_NEAR(ticks.Percentile(1.0), 1000.0, 1e-9);
  EXPECT_EQ(ticks.count(), 102);
}

// GIF ----------------------------------------------------------------------------------------------

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

void SetPixel(Frame& frame, int x, int y, std::uint32_t rgb) {
  std::uint8_t* p = &frame.bgra[static_cast<std::size_t>((y * frame.width + x) * 4)];
  p[0] = std::uint8_t(rgb), p[1] = std::uint8_t(rgb >> 8), p[2] = std::uint8_t(rgb >> 16);
  frame.rgb[static_cast<std::size_t>(y * frame.width + x)] = rgb;
}

// Indices with rows `stride` bytes apart; the byte after each row must stay untouched.
struct Indices {
  explicit Indices(const Frame& frame) : stride(frame.width + 3), bytes(static_cast<std::size_t>(stride * frame.height), 0xEE) {}
  std::uint8_t* data() { return bytes.data(); }
  std::ptrdiff_t stride;
  std::vector<std::uint8_t> bytes;
};

// The worst channel error of a pixel shown through the palette, and the mean of those errors,
// checking what holds for every frame.
std::pair<int, double> Errors(const Frame& frame, const GifPalette& palette, const Indices& indices) {
  EXPECT_GE(palette.colours().size(), 1u);
  EXPECT_LE(palette.colours().size(), 255u);
  const auto argb = palette.Argb();
  for (std::size_t i = 0; i < 256; ++i) {
    EXPECT_EQ(argb[i], i < palette.colours().size() ? 0xFF000000u | palette.colours()[i] : 0u) << i;
  }
  int worst = 0;
  double total = 0;
  for (int y = 0; y < frame.height; ++y) {
    for (int x = 0; x < frame.width; ++x) {
      const std::uint8_t index = indices.bytes[static_cast<std::size_t>(y * indices.stride + x)];
      if (index >= palette.colours().size()) {
        ADD_FAILURE() << "index " << int(index) << " at " << x << "," << y << " is outside the palette";
        return {999, 999};
      }
      int error = 0;
      for (int shift : {0, 8, 16}) {
        const int shown = (palette.colours()[index] >> shift) & 0xFF;
        const int wanted = (frame.rgb[static_cast<std::size_t>(y * frame.width + x)] >> shift) & 0xFF;
        error = std::max(error, std::abs(shown - wanted));
      }
      worst = std::max(worst, error);
      total += error;
    }
    EXPECT_EQ(indices.bytes[static_cast<std::size_t>(y * indices.stride + frame.width)], 0xEE) << "past row " << y;
  }
  return {worst, total / static_cast<double>(frame.rgb.size())};
}

std::pair<int, double> Build(GifPalette& palette, const Frame& frame) {
  Indices indices(frame);
  palette.Build(frame.bgra.data(), frame.width, frame.height, indices.data(), indices.stride);
  return Errors(frame, palette, indices);
}

TEST(GifPalette, UpTo255ColoursAreKeptExactlyAndMoreAreApproximatedClosely) {
  GifPalette palette;
  // 255 colours that differ only in their low bits, so that 5-bit binning would merge them.
  const auto lowBits = [](int x, int y) {
    const std::uint32_t n = static_cast<std::uint32_t>((x + y * 64) % 255);
    return ((n & 7) << 16) | (((n >> 3) & 7) << 8) | (n >> 6) | 0x808080;
  };
  EXPECT_EQ(Build(palette, MakeFrame(64, 40, lowBits)).first, 0);
  EXPECT_EQ(palette.colours().size(), 255u);
  // One more colour: the 256th entry is never used.
  const auto [worst, mean] = Build(palette, MakeFrame(256, 64, [](int x, int y) {
    return static_cast<std::uint32_t>((x << 16) | ((y * 4) << 8) | ((x + y) & 0xFF));
  }));
  EXPECT_EQ(palette.colours().size(), 255u);
  EXPECT_LE(worst, 48);
  EXPECT_LT(mean, 16.0);
  std::uint32_t seed = 1;
  Build(palette, MakeFrame(97, 61, [&](int, int) { return (seed = seed * 1664525u + 1013904223u) >> 8; }));
  // A flat frame and a single pixel.
  EXPECT_EQ(Build(palette, MakeFrame(300, 200, [](int, int) { return 0x336699u; })).first, 0);
  EXPECT_EQ(palette.colours(), std::vector<std::uint32_t>{0x336699});
  Build(palette, MakeFrame(1, 1, [](int, int) { return 0xABCDEFu; }));
  EXPECT_EQ(palette.colours(), std::vector<std::uint32_t>{0xABCDEF});
}

TEST(GifPalette, ARegionMapsOntoThePaletteOnlyWhileItsColoursHaveTheirPlace) {
  GifPalette palette;
  Frame frame = MakeFrame(40, 30, [](int x, int) { return x < 20 ? 0xFF0000u : 0x0000FFu; });
  Indices indices(frame);
  palette.Build(frame.bgra.data(), frame.width, frame.height, indices.data(), indices.stride);
  const GifRect region{5, 3, 25, 9};
  SetPixel(frame, 6, 4, 0x0000FF);  // a known colour moves in
  ASSERT_TRUE(palette.Map(frame.bgra.data(), frame.width, region, indices.data(), indices.stride));
  EXPECT_EQ(Errors(frame, palette, indices).first, 0);
  SetPixel(frame, 24, 8, 0xFF0001);  // a colour the palette does not hold
  EXPECT_FALSE(palette.Map(frame.bgra.data(), frame.width, region, indices.data(), indices.stride));
  // Taken in, after the colours it had, whose indices stay.
  ASSERT_TRUE(palette.Extend(frame.bgra.data(), frame.width, region, indices.data(), indices.stride));
  EXPECT_EQ(palette.colours(), (std::vector<std::uint32_t>{0xFF0000, 0x0000FF, 0xFF0001}));
  EXPECT_EQ(Errors(frame, palette, indices).first, 0);
  SetPixel(frame, 30, 20, 0x00FF00);  // outside the region: not looked at
  EXPECT_TRUE(palette.Map(frame.bgra.data(), frame.width, region, indices.data(), indices.stride));
  // A full palette has no room.
  Frame full = MakeFrame(255, 1, [](int x, int) { return static_cast<std::uint32_t>(x); });
  Indices fullIndices(full);
  palette.Build(full.bgra.data(), 255, 1, fullIndices.data(), fullIndices.stride);
  SetPixel(full, 3, 0, 0xABCDEF);
  EXPECT_FALSE(palette.Extend(full.bgra.data(), 255, {0, 0, 255, 1}, fullIndices.data(), fullIndices.stride));

  // A binned palette holds every colour of the bins it was built from, and no other.
  Frame gradient = MakeFrame(256, 64, [](int x, int y) { return static_cast<std::uint32_t>((x << 16) | ((y * 4) << 8)); });
  Indices binned(gradient);
  palette.Build(gradient.bgra.data(), gradient.width, gradient.height, binned.data(), binned.stride);
  const auto before = Errors(gradient, palette, binned);
  SetPixel(gradient, 10, 10, 0x0C2805);  // bin of (8, 40, 0)
  ASSERT_TRUE(palette.Map(gradient.bgra.data(), gradient.width, {0, 0, 256, 64}, binned.data(), binned.stride));
  EXPECT_EQ(Errors(gradient, palette, binned).first, before.first);
  SetPixel(gradient, 10, 10, 0x0C28FF);
  EXPECT_FALSE(palette.Map(gradient.bgra.data(), gradient.width, {10, 10, 11, 11}, binned.data(), binned.stride));
  EXPECT_FALSE(palette.Extend(gradient.bgra.data(), gradient.width, {10, 10, 11, 11}, binned.data(), binned.stride));
  EXPECT_FALSE(GifPalette().Map(frame.bgra.data(), frame.width, region, indices.data(), indices.stride)) << "no palette yet";
}

TEST(GifFrames, TheChangedRegionBoundsEveryChangedPixelAndIgnoresAlpha) {
  const auto base = [](int x, int y) { return static_cast<std::uint32_t>(x * 3 + y * 1000); };
  const Frame before = MakeFrame(50, 40, base);
  Frame after = before;
  EXPECT_TRUE(ChangedRegion(before.bgra.data(), after.bgra.data(), 50, 40).empty());
  for (std::size_t i = 3; i < after.bgra.size(); i += 4) after.bgra[i] ^= 0xFF;
  EXPECT_TRUE(ChangedRegion(before.bgra.data(), after.bgra.data(), 50, 40).empty()) << "alpha only";
  SetPixel(after, 7, 9, 0x123456);
  EXPECT_EQ(ChangedRegion(before.bgra.data(), after.bgra.data(), 50, 40), (GifRect{7, 9, 8, 10}));
  SetPixel(after, 30, 2, 0x123456);
  SetPixel(after, 12, 20, 0x123456);
  EXPECT_EQ(ChangedRegion(before.bgra.data(), after.bgra.data(), 50, 40), (GifRect{7, 2, 31, 21}));
  SetPixel(after, 0, 39, 0);
  SetPixel(after, 49, 0, 0);
  EXPECT_EQ(ChangedRegion(before.bgra.data(), after.bgra.data(), 50, 40), (GifRect{0, 0, 50, 40}));
  EXPECT_TRUE(ChangedRegion(nullptr, nullptr, 0, 0).empty());
}

TEST(GifFrames, TheQueueDropsTheOldestWaitingFrameAndDrainsAfterClosing) {
  GifFrameQueue queue(2);
  for (std::int64_t stamp : {10, 20, 30}) EXPECT_EQ(queue.Push({queue.TakeBuffer(16), stamp}), stamp == 30) << stamp;
  EXPECT_EQ(queue.dropped(), 1u);
  auto first = queue.Pop();
  ASSERT_TRUE(first);
  EXPECT_EQ(first->stamp, 20);
  queue.GiveBack(std::move(first->pixels));
  queue.Close();
  EXPECT_FALSE(queue.Push({queue.TakeBuffer(16), 40})) << "ignored once closed";
  ASSERT_TRUE(queue.Pop());
  EXPECT_FALSE(queue.Pop());

  // Across threads: every frame is either encoded or counted as dropped, in order.
  GifFrameQueue shared(3);
  std::vector<std::int64_t> popped;
  std::thread encoder([&] {
    while (auto frame = shared.Pop()) {
      popped.push_back(frame->stamp);
      shared.GiveBack(std::move(frame->pixels));
    }
  });
  for (std::int64_t stamp = 1; stamp <= 2000; ++stamp) shared.Push({shared.TakeBuffer(64), stamp});
  shared.Close();
  encoder.join();
  EXPECT_EQ(popped.size() + shared.dropped(), 2000u);
  EXPECT_TRUE(std::is_sorted(popped.begin(), popped.end()) && std::adjacent_find(popped.begin(), popped.end()) == popped.end());
  EXPECT_EQ(popped.back(), 2000) << "the newest frame is never the one dropped";

  GifFrameQueue pool(1);
  auto buffer = pool.TakeBuffer(16);
  const std::uint8_t* at = buffer.data();
  pool.GiveBack(std::move(buffer));
  EXPECT_EQ(pool.TakeBuffer(8).data(), at) << "a buffer given back is used again";
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

// Each frame's delay: from its stamp to the next one's.
std::vector<int> Delays(const GifFrameClock& clock, const std::vector<std::int64_t>& times) {
  std::vector<int> delays;
  for (std::size_t i = 0; i + 1 < times.size(); ++i) {
    delays.push_back(static_cast<int>(clock.Stamp(times[i + 1]) - clock.Stamp(times[i])));
  }
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
  EXPECT_EQ(clock.Stamp(1357) - clock.Stamp(1100), 26);
  EXPECT_EQ(clock.Stamp(1457) - clock.Stamp(1357), 10);
  EXPECT_EQ(clock.Advance(1557), 0) << "exactly on time is not early";
  EXPECT_EQ(clock.FrameTime(), 1557);
  // Stamps round half up and start at 0.
  for (const auto& [time, stamp] : {std::pair(900, 0), {1004, 0}, {1005, 1}, {701000, 70000}}) {
    EXPECT_EQ(clock.Stamp(time), stamp) << time;
  }
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
