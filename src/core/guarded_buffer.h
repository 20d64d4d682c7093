// Memory for a large picture, followed by a page that cannot be touched: a write that runs past the
// picture faults at once instead of corrupting whatever lies behind it. A few bytes after the
// picture stay readable, for the vector loads of FFmpeg's scaler, which may read a little past the
// end of a row.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <utility>

namespace vistrel {

class GuardedBuffer {
 public:
  static constexpr std::size_t kSlack = 64;

  GuardedBuffer() = default;
  // Zero-filled; empty when the memory cannot be had.
  explicit GuardedBuffer(std::size_t bytes) {
    SYSTEM_INFO info{};
    GetSystemInfo(&info);
    const std::size_t page = info.dwPageSize;
    const std::size_t pages = (bytes + kSlack + 15 + page - 1) / page;
    base_ = static_cast<std::uint8_t*>(
        VirtualAlloc(nullptr, (pages + 1) * page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    DWORD previous = 0;
    if (!base_ || !VirtualProtect(base_ + pages * page, page, PAGE_NOACCESS, &previous)) {
      Free();
      return;
    }
    const auto end = reinterpret_cast<std::uintptr_t>(base_ + pages * page - kSlack);
    data_ = reinterpret_cast<std::uint8_t*>((end - bytes) & ~std::uintptr_t{15});
    size_ = bytes;
  }
  GuardedBuffer(const GuardedBuffer&) = delete;
  GuardedBuffer& operator=(const GuardedBuffer&) = delete;
  GuardedBuffer(GuardedBuffer&& other) noexcept
      : base_(std::exchange(other.base_, nullptr)), data_(std::exchange(other.data_, nullptr)),
        size_(std::exchange(other.size_, 0)) {}
  GuardedBuffer& operator=(GuardedBuffer&& other) noexcept {
    if (this != &other) {
      Free();
      base_ = std::exchange(other.base_, nullptr);
      data_ = std::exchange(other.data_, nullptr);
      size_ = std::exchange(other.size_, 0);
    }
    return *this;
  }
  ~GuardedBuffer() { Free(); }

  std::uint8_t* data() const { return data_; }
  std::size_t size() const { return size_; }
  explicit operator bool() const { return data_ != nullptr; }

 private:
  void Free() {
    if (base_) VirtualFree(base_, 0, MEM_RELEASE);
    base_ = data_ = nullptr;
    size_ = 0;
  }

  std::uint8_t* base_ = nullptr;
  std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
};

}  // namespace vistrel
