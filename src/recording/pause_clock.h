// Recording time: the time since a recording started, less every pause. One rule for every
// stream of every recorder, so that a stop while paused never counts the pause. Windows-free.
#pragma once

#include <cstdint>

namespace vistrel {

class PauseClock {
 public:
  // Recording time starts at `now` (any monotonic tick count).
  void Start(std::int64_t now) {
    start_ = now;
    pausedTotal_ = 0;
    paused_ = false;
  }

  // Capture stopped at `now`; a second pause changes nothing.
  void Pause(std::int64_t now) {
    if (paused_) return;
    paused_ = true;
    pauseStart_ = now;
  }

  // Capture goes on at `now`; the pause's length no longer counts.
  void Resume(std::int64_t now) {
    if (!paused_) return;
    paused_ = false;
    if (now > pauseStart_) pausedTotal_ += now - pauseStart_;
  }

  // The recording time at `now`: the pause in progress, if any, excluded. Never negative.
  std::int64_t Recorded(std::int64_t now) const {
    const std::int64_t end = paused_ && pauseStart_ < now ? pauseStart_ : now;
    const std::int64_t recorded = end - start_ - pausedTotal_;
    return recorded > 0 ? recorded : 0;
  }

  bool paused() const { return paused_; }

 private:
  std::int64_t start_ = 0;
  std::int64_t pausedTotal_ = 0;
  std::int64_t pauseStart_ = 0;
  bool paused_ = false;
};

}  // namespace vistrel
