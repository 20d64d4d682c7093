// Small helpers shared by the recorders' threads.
#pragma once

#include <objbase.h>
#include <windows.h>

#include <cstdint>

namespace vistrel {

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

}  // namespace vistrel
