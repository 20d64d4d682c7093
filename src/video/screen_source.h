// The picture source of a screen recording: desktop duplication of one screen (DXGI), GDI copies
// of that screen when duplication is unavailable, or GDI copies of the screen area under one
// window, following the window as it moves.
#pragma once

#include "video/video_devices.h"  // first: see there

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "core/guarded_buffer.h"
#include "core/handles.h"
#include "recording/recording_backend.h"

namespace vistrel {

// Copies the cursor, when it is showing, into a picture of `width` x `height` 32-bit BGRA pixels,
// rows `pitch` bytes apart, whose top-left pixel shows the screen at `origin`. Nothing is drawn
// outside the picture.
void DrawCursor(std::uint8_t* pixels, int pitch, int width, int height, POINT origin);

// A picture: BGRA rows `pitch` bytes apart.
struct Picture {
  const std::uint8_t* pixels = nullptr;
  int pitch = 0;
  int width = 0;
  int height = 0;
  bool mapped = false;  // the rows are the mapped staging texture, which Release unmaps
};

class ScreenSource {
 public:
  using Notify = std::function<void(const RecordingMessage&)>;

  // Log lines begin with `prefix`; `notify` tells the user of a change of capture method.
  ScreenSource(const wchar_t* prefix, bool includeCursor, Notify notify, std::shared_ptr<VideoDevices> devices);
  ScreenSource(const ScreenSource&) = delete;
  ScreenSource& operator=(const ScreenSource&) = delete;

  // The screen named `screenId` ("Default": the primary one), by desktop duplication where it
  // works and by GDI otherwise.
  HRESULT OpenScreen(const std::wstring& screenId);
  // The area under `window`, by GDI.
  HRESULT OpenWindow(HWND window);
  // Follows another window of the same application; false when it cannot be captured.
  bool Retarget(HWND window);
  HWND target() const { return target_; }
  bool open() const { return width_ > 0; }

  // S_OK with a picture; S_FALSE when the desktop has not changed since the last one (or access to
  // it is lost for now: the caller repeats its last picture); a failure otherwise (logged). A
  // failure of the duplication that it will not come back from also stays in fault().
  HRESULT Take(Picture& picture);
  HRESULT fault() const { return fault_; }
  void Release(Picture& picture);
  // While duplication has lost access, tries to get it back (at most once a second).
  void Recover();

  int width() const { return width_; }
  int height() const { return height_; }
  bool lost() const { return lost_; }
  bool gdi() const { return gdi_; }

  // Frees everything (also done by the destructor).
  void Close();
  ~ScreenSource() { Close(); }

 private:
  // `found` receives the screen's rectangle when the screen was found, whether or not it could be
  // duplicated; nothing else changes unless duplication works.
  HRESULT OpenDuplication(const std::wstring& screenId, RECT& found);
  HRESULT OpenGdi(const RECT& area);
  HRESULT TakeDuplicated(Picture& picture);
  HRESULT TakeGdi(Picture& picture);
  void CloseDuplication();
  void CloseGdi();

  const wchar_t* prefix_;
  bool includeCursor_;
  Notify notify_;
  std::shared_ptr<VideoDevices> devices_;
  std::wstring screenId_;
  HWND target_ = nullptr;
  bool window_ = false;
  bool gdi_ = false;
  bool lost_ = false;
  ULONGLONG lastRecovery_ = 0;
  HRESULT fault_ = S_OK;
  // What is captured: the screen's desktop rectangle (a window's at its last targeting), of the
  // size of the staging texture or of the GDI buffers.
  RECT area_{};
  int width_ = 0;
  int height_ = 0;

  Microsoft::WRL::ComPtr<ID3D11Device> device_;
  Microsoft::WRL::ComPtr<ID3D11DeviceContext> context_;
  Microsoft::WRL::ComPtr<IDXGIOutputDuplication> duplication_;
  Microsoft::WRL::ComPtr<ID3D11Texture2D> staging_;

  UniqueMemoryDC memoryDc_;
  UniqueBitmap bitmap_;
  GuardedBuffer frameBuffer_;
  BITMAPINFO bitmapInfo_{};
};

}  // namespace vistrel
