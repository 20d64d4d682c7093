// The small always-on-top window that shows how long a GIF recording has run ("mm:ss"). It
// belongs to the recording thread, which must dispatch its messages.
#pragma once

#include <windows.h>

#include "core/handles.h"

namespace vistrel {

inline constexpr wchar_t kGifCounterWindowClass[] = L"GifCounterWindowClass";

class GifCounterWindow {
 public:
  // Creates and shows the window at (10, 10) without activating it; false when it cannot be made.
  bool Create(HINSTANCE instance);
  // Shows `seconds` as "mm:ss" and repaints at once.
  void Show(unsigned seconds);
  void Destroy() { window_.reset(); }
  HWND get() const { return window_.get(); }

 private:
  UniqueWindow window_;
  unsigned shown_ = 0;
};

}  // namespace vistrel
