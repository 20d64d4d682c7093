// DirectShow first: see video_devices.h.
#include "video/screen_source.h"

#include <cstring>

#include "core/log.h"
#include "i18n/tr.h"
#include "media/ffmpeg_util.h"

using Microsoft::WRL::ComPtr;

namespace vistrel {
namespace {

// Access to the desktop that may come back (a secure desktop, a mode change, a lock screen):
// duplication is tried again while GDI stands in.
bool MayComeBack(HRESULT hr) {
  return hr == E_ACCESSDENIED || hr == DXGI_ERROR_ACCESS_LOST || hr == DXGI_ERROR_NOT_CURRENTLY_AVAILABLE ||
         hr == DXGI_ERROR_SESSION_DISCONNECTED;
}

RECT PrimaryScreenRect() { return RECT{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)}; }

bool HasArea(const RECT& rect) { return rect.right > rect.left && rect.bottom > rect.top; }

}  // namespace

void DrawCursor(std::uint8_t* pixels, int pitch, int pictureWidth, int pictureHeight, POINT origin) {
  if (!pixels) return;
  CURSORINFO cursor{};
  cursor.cbSize = sizeof cursor;
  if (!GetCursorInfo(&cursor) || !(cursor.flags & CURSOR_SHOWING)) return;
  HCURSOR shape = cursor.hCursor;
  ICONINFO icon{};
  if (!GetIconInfo(shape, &icon)) {
    // The picture of another process's cursor cannot always be read (under Wine never): the
    // standard arrow stands in for it.
    shape = LoadCursorW(nullptr, IDC_ARROW);
    if (!GetIconInfo(shape, &icon)) return;
  }
  UniqueBitmap color(icon.hbmColor);
  UniqueBitmap mask(icon.hbmMask);
  BITMAP colorInfo{};
  // A cursor without a colour bitmap (monochrome) is not drawn.
  if (!color || !GetObjectW(color.get(), sizeof colorInfo, &colorInfo)) return;
  const int width = colorInfo.bmWidth;
  const int height = colorInfo.bmHeight;
  if (width < 1 || height <= 0) return;
  const int left = cursor.ptScreenPos.x - static_cast<int>(icon.xHotspot);
  const int top = cursor.ptScreenPos.y - static_cast<int>(icon.yHotspot);

  ScreenDC screen;
  UniqueMemoryDC memory(CreateCompatibleDC(screen.get()));
  if (!memory) return;
  const BITMAPINFO info = TopDownBitmapInfo(width, height);
  void* bits = nullptr;
  UniqueBitmap section(CreateDIBSection(memory.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (!section || !bits) return;
  SelectedObject selected(memory.get(), section.get());
  std::memset(bits, 0, static_cast<size_t>(width) * height * 4);
  DrawIconEx(memory.get(), 0, 0, shape, width, height, 0, nullptr, DI_NORMAL);
  GdiFlush();
  const auto* cursorPixels = static_cast<const std::uint8_t*>(bits);
  for (int y = 0; y < height; ++y) {
    const int dy = top + y - origin.y;
    if (dy < 0 || dy >= pictureHeight) continue;
    for (int x = 0; x < width; ++x) {
      const int dx = left + x - origin.x;
      if (dx < 0 || dx >= pictureWidth) continue;
      const std::uint8_t* source = cursorPixels + (static_cast<size_t>(y) * width + x) * 4;
      if (source[3] == 0) continue;
      std::uint8_t* target = pixels + static_cast<size_t>(dy) * pitch + static_cast<size_t>(dx) * 4;
      target[0] = source[0];
      target[1] = source[1];
      target[2] = source[2];
    }
  }
}

ScreenSource::ScreenSource(const wchar_t* prefix, bool includeCursor, Notify notify,
                           std::shared_ptr<VideoDevices> devices)
    : prefix_(prefix), includeCursor_(includeCursor), notify_(std::move(notify)), devices_(std::move(devices)) {}

HRESULT ScreenSource::OpenScreen(const std::wstring& screenId) {
  screenId_ = screenId;
  window_ = false;
  fault_ = S_OK;
  RECT found{};
  const HRESULT hr = OpenDuplication(screenId, found);
  if (SUCCEEDED(hr)) return hr;
  // Whatever the reason (unsupported, a remote session, too many duplications, a secure desktop),
  // GDI can still record the screen.
  LogMessage(std::wstring(prefix_) +
             L"[WARNING] DXGI Desktop Duplication is not supported. Falling back to slower GDI capture method.");
  if (notify_) notify_({N_(L"Recording Mode Changed"), N_(L"DXGI capture failed. Switched to GDI mode.")});
  lost_ = MayComeBack(hr);
  lastRecovery_ = GetTickCount64();
  LogMessage(std::wstring(prefix_) + L"Initializing GDI for full desktop capture.");
  const HRESULT gdi = OpenGdi(HasArea(found) ? found : HasArea(area_) ? area_ : PrimaryScreenRect());
  if (SUCCEEDED(gdi)) LogMessage(std::wstring(prefix_) + L"GDI desktop capture initialization successful.");
  return gdi;
}

HRESULT ScreenSource::OpenDuplication(const std::wstring& screenId, RECT& found) {
  const std::wstring who = prefix_;
  LogMessage(who + L"Initializing DXGI for desktop duplication...");
  DesktopDuplication duplicated;
  HRESULT hr = devices_->Duplicate(prefix_, screenId, duplicated);
  found = duplicated.area;
  if (FAILED(hr)) return hr;
  if (!duplicated.duplication || !HasArea(found)) return E_FAIL;
  D3D11_TEXTURE2D_DESC texture{};
  texture.Width = static_cast<UINT>(found.right - found.left);
  texture.Height = static_cast<UINT>(found.bottom - found.top);
  texture.MipLevels = 1;
  texture.ArraySize = 1;
  texture.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
  texture.SampleDesc.Count = 1;
  texture.Usage = D3D11_USAGE_STAGING;
  texture.CPUAccessFlags = D3D11_CPU_ACCESS_READ;
  ComPtr<ID3D11Texture2D> staging;
  hr = duplicated.device->CreateTexture2D(&texture, nullptr, &staging);
  if (FAILED(hr)) {
    LogHresultError(prefix_, L"CreateTexture2D for staging", hr);
    return hr;
  }
  // Only now does the duplication replace what was captured before.
  CloseGdi();
  device_ = std::move(duplicated.device);
  context_ = std::move(duplicated.context);
  duplication_ = std::move(duplicated.duplication);
  staging_ = std::move(staging);
  area_ = found;
  width_ = static_cast<int>(texture.Width);
  height_ = static_cast<int>(texture.Height);
  gdi_ = false;
  lost_ = false;
  LogMessage(who + L"DXGI initialization successful.");
  return S_OK;
}

HRESULT ScreenSource::OpenWindow(HWND window) {
  window_ = true;
  fault_ = S_OK;
  if (!window || !IsWindow(window) || !IsWindowVisible(window)) {
    LogMessage(L"InitializeWindowCapture: [ERROR] Invalid target window provided.");
    return E_FAIL;
  }
  if (!Retarget(window)) return E_FAIL;
  LogMessage(std::wstring(prefix_) + L"GDI window capture initialization successful.");
  return S_OK;
}

bool ScreenSource::Retarget(HWND window) {
  LogMessage(std::wstring(prefix_) + L"Re-initializing GDI for new window target.");
  target_ = window;
  RECT rect{};
  GetWindowRect(window, &rect);
  if (rect.right - rect.left <= 0 || rect.bottom - rect.top <= 0) {
    LogMessage(L"ReinitializeGdiForWindow: [ERROR] New window has invalid dimensions. Stopping.");
    return false;
  }
  if (FAILED(OpenGdi(rect))) {
    LogMessage(L"ReinitializeGdiForWindow: [ERROR] Could not set up the capture of the new window. Stopping.");
    return false;
  }
  return true;
}

HRESULT ScreenSource::OpenGdi(const RECT& area) {
  // Built aside: what was captured until now stays as it was should this fail.
  const int width = area.right - area.left;
  const int height = area.bottom - area.top;
  if (width <= 0 || height <= 0) {
    LogMessage(L"InitializeGdiForDesktop: [ERROR] System returned invalid screen dimensions.");
    return E_FAIL;
  }
  ScreenDC screen;
  if (!screen.get()) return E_FAIL;
  UniqueMemoryDC memoryDc(CreateCompatibleDC(screen.get()));
  UniqueBitmap bitmap(CreateCompatibleBitmap(screen.get(), width, height));
  if (!memoryDc || !bitmap) return E_FAIL;
  GuardedBuffer frameBuffer(static_cast<size_t>(width) * height * 4);
  if (!frameBuffer) {
    LogMessage(L"InitializeGdiForDesktop: [ERROR] Failed to allocate memory for frame buffer.");
    return E_OUTOFMEMORY;
  }
  memoryDc_ = std::move(memoryDc);
  bitmap_ = std::move(bitmap);
  frameBuffer_ = std::move(frameBuffer);
  bitmapInfo_ = TopDownBitmapInfo(width, height);
  area_ = area;
  width_ = width;
  height_ = height;
  gdi_ = true;
  return S_OK;
}

HRESULT ScreenSource::Take(Picture& picture) {
  picture = Picture{};
  if (FAILED(fault_)) return fault_;
  if (gdi_ || window_) return TakeGdi(picture);
  return TakeDuplicated(picture);
}

HRESULT ScreenSource::TakeGdi(Picture& picture) {
  POINT origin{area_.left, area_.top};
  if (window_) {
    // The frame follows the window when it moves; its size stays the one of the start.
    RECT rect{};
    GetWindowRect(target_, &rect);
    origin = POINT{rect.left, rect.top};
  } else if (const RECT now = devices_->ScreenArea(area_); !EqualRect(&now, &area_)) {
    // A screen whose mode changed (or that went away) is followed at its new size.
    LogMessage(std::wstring(prefix_) + L"The screen's size or place changed; capturing it anew.");
    if (const HRESULT hr = OpenGdi(now); FAILED(hr)) {
      fault_ = hr;
      return hr;
    }
    origin = POINT{area_.left, area_.top};
  }
  {
    // Selected only for the copy: GetDIBits wants the bitmap out of every DC.
    ScreenDC screen;
    if (!screen.get()) return E_FAIL;
    SelectedObject selected(memoryDc_.get(), bitmap_.get());
    if (!BitBlt(memoryDc_.get(), 0, 0, width_, height_, screen.get(), origin.x, origin.y, SRCCOPY)) return E_FAIL;
  }
  if (!GetDIBits(memoryDc_.get(), static_cast<HBITMAP>(bitmap_.get()), 0, static_cast<UINT>(height_),
                 frameBuffer_.data(), &bitmapInfo_, DIB_RGB_COLORS)) {
    return E_FAIL;
  }
  if (includeCursor_) DrawCursor(frameBuffer_.data(), width_ * 4, width_, height_, origin);
  picture = Picture{frameBuffer_.data(), width_ * 4, width_, height_, false};
  return S_OK;
}

HRESULT ScreenSource::TakeDuplicated(Picture& picture) {
  DXGI_OUTDUPL_FRAME_INFO info{};
  ComPtr<IDXGIResource> resource;
  HRESULT hr = duplication_->AcquireNextFrame(0, &info, &resource);
  if (hr == DXGI_ERROR_WAIT_TIMEOUT) return S_FALSE;  // nothing changed since the last picture
  if (hr == DXGI_ERROR_ACCESS_LOST) {
    LogMessage(std::wstring(prefix_) + L"[WARNING] DXGI access lost. Capturing with GDI until it is back.");
    CloseDuplication();
    lost_ = true;
    lastRecovery_ = GetTickCount64();
    if (FAILED(hr = OpenGdi(area_))) {
      fault_ = hr;
      return hr;
    }
    return TakeGdi(picture);
  }
  if (FAILED(hr)) {
    // A removed or reset device, a driver fault: the duplication will not deliver again.
    LogHresultError(prefix_, L"AcquireNextFrame", hr);
    fault_ = hr;
    return hr;
  }
  ComPtr<ID3D11Texture2D> texture;
  hr = resource.As(&texture);
  if (SUCCEEDED(hr)) {
    // The copy is the picture; the desktop image goes back at once.
    context_->CopyResource(staging_.Get(), texture.Get());
    D3D11_MAPPED_SUBRESOURCE mapped{};
    hr = context_->Map(staging_.Get(), 0, D3D11_MAP_READ, 0, &mapped);
    if (FAILED(hr)) {
      LogHresultError(prefix_, L"m_pD3DContext->Map", hr);
    } else {
      auto* pixels = static_cast<std::uint8_t*>(mapped.pData);
      picture = Picture{pixels, static_cast<int>(mapped.RowPitch), width_, height_, true};
      if (includeCursor_) DrawCursor(pixels, picture.pitch, width_, height_, POINT{area_.left, area_.top});
    }
  }
  duplication_->ReleaseFrame();
  return hr;
}

void ScreenSource::Release(Picture& picture) {
  if (picture.mapped && context_) context_->Unmap(staging_.Get(), 0);
  picture = Picture{};
}

void ScreenSource::Recover() {
  if (!lost_ || window_ || FAILED(fault_)) return;
  const ULONGLONG now = GetTickCount64();
  if (now - lastRecovery_ < 1000) return;
  lastRecovery_ = now;
  LogMessage(std::wstring(prefix_) + L"Attempting to re-initialize DXGI Desktop Duplication...");
  // A failure leaves GDI capturing what it did; GDI follows a changed screen size by itself.
  RECT found{};
  const HRESULT hr = OpenDuplication(screenId_, found);
  if (SUCCEEDED(hr)) {
    LogMessage(std::wstring(prefix_) + L"DXGI re-initialization successful. Resuming screen capture.");
    return;
  }
  lost_ = MayComeBack(hr);
}

void ScreenSource::CloseDuplication() {
  duplication_.Reset();
  staging_.Reset();
  context_.Reset();
  device_.Reset();
}

void ScreenSource::CloseGdi() {
  memoryDc_.reset();
  bitmap_.reset();
  frameBuffer_ = GuardedBuffer();
  bitmapInfo_ = BITMAPINFO{};
}

void ScreenSource::Close() {
  CloseDuplication();
  CloseGdi();
  width_ = height_ = 0;
}

}  // namespace vistrel
