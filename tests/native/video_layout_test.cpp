// Output sizes, bit rates, file base names and frame times of video recordings.
#include <gtest/gtest.h>

#include <string>
#include <tuple>

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
  EXPECT_EQ(UsableFramerate(0), 60);
  EXPECT_EQ(UsableFramerate(-5), 60);
  EXPECT_EQ(UsableFramerate(25), 25);
  EXPECT_EQ(UsableFramerate(4000), 240);
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

}  // namespace
}  // namespace vistrel
