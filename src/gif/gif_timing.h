// When the GIF recorder takes its frames and how long each one is shown. Windows-free.
//
// Frames are due on a fixed grid, one interval apart. A frame whose work ends before the next
// one is due waits only for the remainder; a frame whose work overruns makes the next one start
// at once, and the grid continues from that moment (lost time is not made up by a burst). Frames
// are stamped in hundredths of a second since the start, the unit of a GIF's delays: each frame
// is shown until the next one's stamp, so the GIF plays at the speed it was recorded.
#pragma once

#include <cstdint>

namespace vistrel {

inline constexpr std::int64_t kGifFrameIntervalMs = 100;

class GifFrameClock {
 public:
  explicit GifFrameClock(std::int64_t intervalMs = kGifFrameIntervalMs) : interval_(intervalMs) {}

  // The first frame is due now.
  void Start(std::int64_t nowMs) {
    start_ = nowMs;
    frame_ = nowMs;
  }

  // The moment the current frame counts as taken (its slot on the grid).
  std::int64_t FrameTime() const { return frame_; }

  // Milliseconds from the start to the current frame.
  std::int64_t Elapsed() const { return frame_ - start_; }

  // Moves on to the next frame once the current one's work is done at `nowMs`; returns how long to
  // wait before taking it (0 when the work overran the interval).
  std::int64_t Advance(std::int64_t nowMs);

  // The stamp of the moment `ms`: hundredths of a second since the start, rounded half up (0
  // before the start). The differences of consecutive stamps add up to the whole recording to
  // within 5 ms, and frames one interval apart get equal differences.
  std::int64_t Stamp(std::int64_t ms) const;

 private:
  std::int64_t interval_;
  std::int64_t start_ = 0;
  std::int64_t frame_ = 0;
};

}  // namespace vistrel
