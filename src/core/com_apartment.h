// COM for the calling thread, apartment-threaded, for as long as the object lives; uninitialised
// only when the initialisation succeeded.
#pragma once

#include <objbase.h>

namespace vistrel {

class ComApartment {
 public:
  explicit ComApartment(DWORD flags = COINIT_APARTMENTTHREADED) : hr_(CoInitializeEx(nullptr, flags)) {}
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;
  ~ComApartment() {
    if (SUCCEEDED(hr_)) CoUninitialize();
  }
  HRESULT result() const { return hr_; }

 private:
  HRESULT hr_;
};

}  // namespace vistrel
