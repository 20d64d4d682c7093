#include "gif/gif_timing.h"

#include <algorithm>

namespace vistrel {
namespace {

// Hundredths of a second, rounded half up, for a non-negative time in milliseconds.
std::int64_t Centiseconds(std::int64_t ms) { return (std::max<std::int64_t>(ms, 0) + 5) / 10; }

}  // namespace

std::int64_t GifFrameClock::Advance(std::int64_t nowMs) {
  const std::int64_t due = frame_ + interval_;
  if (nowMs < due) {
    frame_ = due;
    return due - nowMs;
  }
  frame_ = nowMs;
  return 0;
}

std::int64_t GifFrameClock::Stamp(std::int64_t ms) const { return Centiseconds(ms - start_); }

}  // namespace vistrel
