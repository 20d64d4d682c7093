// The one clock of every recording: the performance counter.
#pragma once

#include <windows.h>

#include <cstdint>

namespace vistrel {

inline std::int64_t CounterNow() {
  LARGE_INTEGER counter{};
  QueryPerformanceCounter(&counter);
  return counter.QuadPart;
}

// Whether the counter can be read at all (it always can on the Windows versions the program runs
// on; a recording checks before it starts).
inline bool CounterWorks() {
  LARGE_INTEGER frequency{};
  return QueryPerformanceFrequency(&frequency) && frequency.QuadPart > 0;
}

// Ticks per second (never 0).
inline std::int64_t CounterFrequency() {
  static const std::int64_t frequency = [] {
    LARGE_INTEGER value{};
    QueryPerformanceFrequency(&value);
    return value.QuadPart > 0 ? value.QuadPart : 1;
  }();
  return frequency;
}

// Ticks of the counter as milliseconds.
inline double CounterMs(std::int64_t ticks) {
  return static_cast<double>(ticks) * 1000.0 / static_cast<double>(CounterFrequency());
}

}  // namespace vistrel
