// The picture source of a screen recording: desktop duplication of one screen (DXGI), GDI copies
// of that screen when duplication is unavailable, or GDI copies of the screen area under one
// window, following the window as it moves.
#pragma once

#include <windows.h>
#include <d3d11.h>
#include <dxgi1_2.h>
#include <wrl/client.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/handles.h"
#include "recording/recording_backend.h"

namespace vistrel {

// Copies the cursor, when it is showing, into 32-bit BGRA rows `pitch` bytes apart that show the
// screen area `area` (screen coordinates).
void DrawCursor(std::uint8_t* pixels, int pitch, const RECT& area);

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
  ScreenSource(const wchar_t* prefix, bool includeCursor, Notify notify);
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
  // it is lost for now: the caller repeats its last picture); a failure otherwise (logged).
  HRESULT Take(Picture& picture);
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
  HRESULT OpenDuplication(const std::wstring& screenId);
  HRESULT OpenGdi(const RECT& area);
  HRESULT TakeDuplicated(Picture& picture);
  HRESULT TakeGdi(Picture& picture);
  void CloseDuplication();
  void CloseGdi();

  const wchar_t* prefix_;
  bool includeCursor_;
  Notify notify_;
  std::wstring screenId_;
  HWND target_ = nullptr;
  bool window_ = false;
  bool gdi_ = false;
  bool lost_ = false;
  ULONGLONG lastRecovery_ = 0;
  RECT area_{};  // the captured output's desktop rectangle
  int width_ = 0;
  int height_ = 0;

  Microsoft::WRL::ComPtr<ID3D11Device> device_;
  Microsoft::WRL::ComPtr<ID3D11DeviceContext> context_;
  Microsoft::WRL::ComPtr<IDXGIOutputDuplication> duplication_;
  Microsoft::WRL::ComPtr<ID3D11Texture2D> staging_;

  UniqueMemoryDC memoryDc_;
  UniqueBitmap bitmap_;
  std::vector<std::uint8_t> frameBuffer_;
  BITMAPINFO bitmapInfo_{};
};

}  // namespace vistrel
