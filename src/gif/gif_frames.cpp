#include "gif/gif_frames.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace vistrel {
namespace {

bool SameColour(const std::uint8_t* a, const std::uint8_t* b) { return a[0] == b[0] && a[1] == b[1] && a[2] == b[2]; }

}  // namespace

GifRect ChangedRegion(const std::uint8_t* before, const std::uint8_t* after, int width, int height) {
  GifRect changed{width, height, 0, 0};
  if (width <= 0 || height <= 0) return {};
  const std::size_t rowBytes = static_cast<std::size_t>(width) * 4;
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* a = before + rowBytes * static_cast<std::size_t>(y);
    const std::uint8_t* b = after + rowBytes * static_cast<std::size_t>(y);
    if (std::memcmp(a, b, rowBytes) == 0) continue;
    int left = 0;
    while (left < width && SameColour(a + left * 4, b + left * 4)) ++left;
    if (left == width) continue;  // only the alpha bytes differ
    int right = width;
    while (SameColour(a + (right - 1) * 4, b + (right - 1) * 4)) --right;
    changed.left = std::min(changed.left, left);
    changed.right = std::max(changed.right, right);
    changed.top = std::min(changed.top, y);
    changed.bottom = y + 1;
  }
  return changed.empty() ? GifRect{} : changed;
}

std::vector<std::uint8_t> GifFrameQueue::TakeBuffer(std::size_t bytes) {
  std::vector<std::uint8_t> buffer;
  {
    std::lock_guard guard(lock_);
    if (!pool_.empty()) {
      buffer = std::move(pool_.back());
      pool_.pop_back();
    }
  }
  buffer.resize(bytes);
  return buffer;
}

void GifFrameQueue::GiveBack(std::vector<std::uint8_t> buffer) {
  std::lock_guard guard(lock_);
  pool_.push_back(std::move(buffer));
}

bool GifFrameQueue::Push(GifCapture frame) {
  bool dropped = false;
  {
    std::lock_guard guard(lock_);
    if (closed_) {
      pool_.push_back(std::move(frame.pixels));
      return false;
    }
    if (waiting_.size() >= capacity_) {
      pool_.push_back(std::move(waiting_.front().pixels));
      waiting_.pop_front();
      ++dropped_;
      dropped = true;
    }
    waiting_.push_back(std::move(frame));
  }
  ready_.notify_one();
  return dropped;
}

std::optional<GifCapture> GifFrameQueue::Pop() {
  std::unique_lock guard(lock_);
  ready_.wait(guard, [this] { return closed_ || !waiting_.empty(); });
  if (waiting_.empty()) return std::nullopt;
  GifCapture frame = std::move(waiting_.front());
  waiting_.pop_front();
  return frame;
}

void GifFrameQueue::Close() {
  {
    std::lock_guard guard(lock_);
    closed_ = true;
  }
  ready_.notify_all();
}

std::size_t GifFrameQueue::dropped() const {
  std::lock_guard guard(lock_);
  return dropped_;
}

}  // namespace vistrel
