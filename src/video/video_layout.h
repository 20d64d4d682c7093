// Video arithmetic without Windows: the quality table and output size, the bit rate, the file's
// base name, and the frame clock that decides each frame's presentation time.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vistrel {

// The frame rate used when the settings hold none that can be used (0 or below), and the highest
// one used (a frame every few milliseconds is more than a screen recording can take).
inline constexpr int kFallbackFramerate = 60;
inline constexpr int kMaxFramerate = 240;

struct VideoOutputSize {
  int width = 0;         // even
  int height = 0;        // even
  int targetHeight = 0;  // the table's height, or the source's when it is lower (before evening)
  bool sourceLimited = false;  // the source is smaller than the quality asks for: no upscaling
  std::int32_t bitRate = 0;    // for the frame rate
};

// Target height and bit rate of a VideoQuality index (the fallback tries lower indices), the
// output size keeping the source's aspect ratio, and the bit rate scaled from 60 frames/s.
VideoOutputSize VideoOutputSizeFor(int sourceWidth, int sourceHeight, int quality, int framerate);

// A usable frame rate: the setting, kFallbackFramerate for 0 and below, at most kMaxFramerate.
int UsableFramerate(int configured);

// The base of a video's file name: "Recording" (or "MultiTrack_Recording") for the screen; for a
// window its title with the characters a file name cannot hold replaced, cut to 100 characters,
// "WindowCapture" when empty, and "_MultiTrack" appended in multi-track mode.
std::wstring VideoBaseName(bool windowMode, std::wstring_view windowTitle, bool multiTrack);

// The presentation times of a recording's frames. Time is recording time (pauses excluded) in
// counter ticks; frame n covers [n, n + 1) intervals. A tick that runs on time writes the next
// frame; one that runs late writes the frame of the interval it is in and skips the ones it
// missed, so the video never falls behind the audio however slow the machine.
class FrameClock {
 public:
  explicit FrameClock(std::int64_t intervalTicks) : interval_(intervalTicks > 0 ? intervalTicks : 1) {}

  std::int64_t interval() const { return interval_; }
  // Recording time at which the next frame is due.
  std::int64_t nextDue() const { return std::max((lastPts_ + 1) * interval_, idleUntil_); }
  // Nothing was written at `elapsed` (the picture had not changed): look again at the next interval.
  void Idle(std::int64_t elapsed) { idleUntil_ = (elapsed / interval_ + 1) * interval_; }
  // The presentation time of a frame written at `elapsed`, and the clock moves past it.
  std::int64_t Take(std::int64_t elapsed);
  // The frame of the interval `elapsed` lies in, when that is after the last frame written; -1
  // otherwise. Used at the stop, so that the last picture lasts until the recording ended.
  std::int64_t FinalPts(std::int64_t elapsed) const;
  // The end of the last frame written, in frame intervals.
  std::int64_t end() const { return lastPts_ + 1; }
  // Frames written, and intervals skipped because a tick ran late.
  std::int64_t written() const { return written_; }
  std::int64_t skipped() const { return lastPts_ + 1 - written_; }

 private:
  std::int64_t interval_;
  std::int64_t lastPts_ = -1;
  std::int64_t written_ = 0;
  std::int64_t idleUntil_ = 0;
};

// How long the recording loop's ticks took, for the summary line a recording ends with: a
// histogram in 0.1 ms steps up to one second (longer ticks count as one second).
class TickStatistics {
 public:
  void Add(double milliseconds);
  std::int64_t count() const { return count_; }
  double Mean() const { return count_ ? total_ / static_cast<double>(count_) : 0.0; }
  // The smallest time that `fraction` of the ticks did not exceed, to 0.1 ms.
  double Percentile(double fraction) const;

 private:
  static constexpr int kBuckets = 10001;
  std::vector<std::uint32_t> buckets_ = std::vector<std::uint32_t>(kBuckets, 0);
  std::int64_t count_ = 0;
  double total_ = 0.0;
};

}  // namespace vistrel
