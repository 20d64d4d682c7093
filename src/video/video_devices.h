// What the video recorder takes from Windows' display and camera stacks: the desktop duplication
// of a screen with the Direct3D device its pictures live on, the screen's current place on the
// desktop, and a camera's picture stream. Windows' own is the default; anything that behaves as
// Windows documents can stand in (a screen whose mode changes, a duplication that fails, a camera
// that sends compressed pictures).
//
// DirectShow's headers must come before the audio headers (audioclient.h, endpointvolume.h and
// ksmedia.h define some of the same types differently): include this header first.
#pragma once

#include <windows.h>
#include <dshow.h>
#include <qedit.h>
#include <d3d11.h>
#include <dxgi1_2.h>
#include <wrl/client.h>

#include <memory>
#include <string>

namespace vistrel {

// The duplication of one screen's desktop.
struct DesktopDuplication {
  RECT area{};  // the screen's desktop rectangle; set once the screen was found, even when duplicating failed
  Microsoft::WRL::ComPtr<ID3D11Device> device;
  Microsoft::WRL::ComPtr<ID3D11DeviceContext> context;
  Microsoft::WRL::ComPtr<IDXGIOutputDuplication> duplication;
};

// A camera's picture stream: on Windows a DirectShow capture graph ending in a Sample Grabber.
class CameraReader {
 public:
  virtual ~CameraReader() = default;
  // Connects the camera whose device path is `devicePath` so that its samples reach `callback` on
  // a thread of its own once running; `connected` receives the format agreed (the caller frees
  // its format block). Failures are logged.
  virtual HRESULT Connect(const std::wstring& devicePath, ISampleGrabberCB* callback, AM_MEDIA_TYPE& connected) = 0;
  virtual void Run() = 0;
  virtual void Pause() = 0;
  // No sample reaches the callback once this has returned.
  virtual void Stop() = 0;
};

class VideoDevices {
 public:
  virtual ~VideoDevices() = default;
  // Duplicates the desktop of the screen `screenId` ("Default": the primary one). Log lines begin
  // with `prefix`; failures are logged.
  virtual HRESULT Duplicate(const wchar_t* prefix, const std::wstring& screenId, DesktopDuplication& out) = 0;
  // The desktop rectangle, now, of the screen that `area` lay on (its mode may have changed).
  virtual RECT ScreenArea(const RECT& area) = 0;
  virtual std::unique_ptr<CameraReader> MakeCameraReader() = 0;
};

// DXGI, GDI's monitors and DirectShow.
std::shared_ptr<VideoDevices> WindowsVideoDevices();

}  // namespace vistrel
