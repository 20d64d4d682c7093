// The GIF recorder's frame clock and frame delays.
#include <gtest/gtest.h>

#include <vector>

#include "gif/gif_timing.h"

namespace vistrel {
namespace {

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
}

TEST(GifFrameClock, DelaysAddUpToTheRecordingWhateverTheRounding) {
  GifFrameClock clock;
  // Frames of about a second each, as a full-screen frame takes with a slow encoder.
  const auto times = RunClock(clock, 5, {733, 1004, 866, 912, 1095, 704, 999, 1001});
  const auto delays = Delays(clock, times);
  int sum = 0;
  for (std::size_t i = 0; i < delays.size(); ++i) {
    const double real = static_cast<double>(times[i + 1] - times[i]) / 10.0;
    EXPECT_NEAR(delays[i], real, 1.0) << i;
    sum += delays[i];
  }
  EXPECT_NEAR(sum * 10, times.back() - times.front(), 5);
}

TEST(GifFrameClock, DelaysStayInTheFieldsRange) {
  GifFrameClock clock;
  clock.Start(0);
  EXPECT_EQ(clock.DelayCentiseconds(0, 700000), 0xFFFF);
  EXPECT_EQ(clock.DelayCentiseconds(500, 400), 0);
  EXPECT_EQ(clock.DelayCentiseconds(0, 4), 0);
  EXPECT_EQ(clock.DelayCentiseconds(0, 5), 1);
}

}  // namespace
}  // namespace vistrel
