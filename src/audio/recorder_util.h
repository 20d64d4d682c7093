// Small helpers shared by the recorders' threads.
#pragma once

#include <objbase.h>
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "core/log.h"

namespace vistrel {

// Recorder states, shared by the audio and video recorders; the numbers travel in
// WM_RECORDING_STATE and the tray compares them.
enum RecorderState : std::uint32_t {
  kStateIdle = 0,
  kStateRecording = 1,
  kStatePauseRequested = 2,
  kStatePaused = 3,
  kStateResumeRequested = 4,
  kStateStopping = 5,
};

// COM for the calling thread, apartment-threaded, for as long as the object lives.
class ComApartment {
 public:
  ComApartment() : hr_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;
  ~ComApartment() {
    if (SUCCEEDED(hr_)) CoUninitialize();
  }
  HRESULT result() const { return hr_; }

 private:
  HRESULT hr_;
};

// The performance counter now.
inline std::int64_t CounterNow() {
  LARGE_INTEGER counter{};
  QueryPerformanceCounter(&counter);
  return counter.QuadPart;
}

// "<prefix>Recorded 12.345 s.": the recording time a finished file holds, pauses excluded.
inline void LogRecordedTime(const wchar_t* prefix, std::int64_t ticks, std::int64_t frequency) {
  wchar_t text[64];
  std::swprintf(text, 64, L"Recorded %.3f s.", frequency > 0 ? static_cast<double>(ticks) / static_cast<double>(frequency) : 0.0);
  LogMessage(prefix + std::wstring(text));
}

}  // namespace vistrel
