// Captured GIF frames between the capture and the encoder: what changed from one to the next, and
// the bounded queue between the two threads. Windows-free.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <vector>

namespace vistrel {

// A rectangle of a frame in pixels, right and bottom exclusive.
struct GifRect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;

  bool empty() const { return right <= left || bottom <= top; }
  bool operator==(const GifRect&) const = default;
};

// The smallest rectangle holding every pixel whose colour differs between two frames of
// `width` x `height` top-down 32-bit BGRA pixels (alpha ignored); empty when none does.
GifRect ChangedRegion(const std::uint8_t* before, const std::uint8_t* after, int width, int height);

// A captured frame and when it was taken, in hundredths of a second since the start.
struct GifCapture {
  std::vector<std::uint8_t> pixels;
  std::int64_t stamp = 0;
};

// Frames waiting to be encoded, at most `capacity` of them. When the encoder falls behind, the
// oldest waiting frame gives way to the newest, so that memory stays bounded and what is shown is
// recent: the frame before the dropped one then lasts until the next one kept. Buffers come back
// to a pool, so that the capture and the encoder together hold at most capacity + 3 frames.
class GifFrameQueue {
 public:
  explicit GifFrameQueue(std::size_t capacity) : capacity_(capacity < 1 ? 1 : capacity) {}

  // A buffer of `bytes` to capture into: one given back, or a new one.
  std::vector<std::uint8_t> TakeBuffer(std::size_t bytes);
  void GiveBack(std::vector<std::uint8_t> buffer);

  // Queues a frame for the encoder; true when the oldest waiting frame was dropped for it. Ignored
  // once closed.
  bool Push(GifCapture frame);
  // The next frame, waiting for one; nothing once closed and empty.
  std::optional<GifCapture> Pop();
  // No frame comes any more: Pop hands out what waits, then nothing.
  void Close();

  std::size_t capacity() const { return capacity_; }
  std::size_t dropped() const;

 private:
  const std::size_t capacity_;
  mutable std::mutex lock_;
  std::condition_variable ready_;
  std::deque<GifCapture> waiting_;
  std::vector<std::vector<std::uint8_t>> pool_;
  std::size_t dropped_ = 0;
  bool closed_ = false;
};

}  // namespace vistrel
