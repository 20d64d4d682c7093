// The picture sources of the video recorder: desktop duplication of one screen, GDI copies of the
// primary screen, and GDI copies of the screen area under one window.
#include <windows.h>

#include <cstring>

#include "audio/ffmpeg_util.h"
#include "core/handles.h"
#include "core/log.h"
#include "i18n/tr.h"
#include "video/video_recorder.h"

using Microsoft::WRL::ComPtr;

namespace vistrel {

void DrawCursor(std::uint8_t* pixels, int pitch, const RECT& area) {
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
  const int areaWidth = area.right - area.left;
  const int areaHeight = area.bottom - area.top;
  const auto* cursorPixels = static_cast<const std::uint8_t*>(bits);
  for (int y = 0; y < height; ++y) {
    const int dy = top + y - area.top;
    if (dy < 0 || dy >= areaHeight) continue;
    for (int x = 0; x < width; ++x) {
      const int dx = left + x - area.left;
      if (dx < 0 || dx >= areaWidth) continue;
      const std::uint8_t* source = cursorPixels + (static_cast<size_t>(y) * width + x) * 4;
      if (source[3] == 0) continue;
      std::uint8_t* target = pixels + static_cast<size_t>(dy) * pitch + static_cast<size_t>(dx) * 4;
      target[0] = source[0];
      target[1] = source[1];
      target[2] = source[2];
    }
  }
}

HRESULT VideoRecorder::InitializeDxgiCapture() {
  LogMessage(L"Recorder: Initializing DXGI for desktop duplication...");
  std::wstring screenId = config_.ScreenID;
  if (useTrackSources_) {
    const TrackConfig* found = nullptr;
    for (const TrackConfig& track : tracks_) {
      if ((track.type == kTrackMixed || track.type == kTrackVideoOnly) && !track.video_source_id.empty()) {
        found = &track;
        break;
      }
    }
    if (!found) {
      LogMessage(L"Recorder: [WARNING] 'Use same sources' is on, but no video source found in multi-track list. Using global default.");
    } else {
      screenId = found->video_source_id;
      LogMessage(L"Recorder: Overriding screen selection with multi-track source: " + screenId);
    }
  }
  ComPtr<IDXGIFactory1> factory;
  HRESULT hr = CreateDXGIFactory1(IID_PPV_ARGS(&factory));
  if (FAILED(hr)) {
    LogHresultError(kVideoLogPrefix, L"CreateDXGIFactory1", hr);
    return hr;
  }
  ComPtr<IDXGIOutput> output;
  bool searched = false;
  if (screenId != L"Default") {
    searched = true;
    LogMessage(L"Recorder: Searching for selected screen with ID: " + screenId);
    ComPtr<IDXGIAdapter1> adapter;
    for (UINT a = 0; !output && factory->EnumAdapters1(a, adapter.ReleaseAndGetAddressOf()) != DXGI_ERROR_NOT_FOUND; ++a) {
      ComPtr<IDXGIOutput> candidate;
      for (UINT o = 0; adapter->EnumOutputs(o, candidate.ReleaseAndGetAddressOf()) != DXGI_ERROR_NOT_FOUND; ++o) {
        DXGI_OUTPUT_DESC desc{};
        if (candidate && SUCCEEDED(candidate->GetDesc(&desc)) && screenId == desc.DeviceName) {
          LogMessage(L"Recorder: Found matching screen.");
          output = candidate;
          break;
        }
      }
    }
  } else {
    LogMessage(L"Recorder: Using default (primary) screen.");
  }
  if (!output) {
    if (searched) LogMessage(L"Recorder: [WARNING] Selected screen not found. Falling back to default screen.");
    ComPtr<IDXGIAdapter1> adapter;
    hr = factory->EnumAdapters1(0, &adapter);
    if (SUCCEEDED(hr)) hr = adapter->EnumOutputs(0, &output);
    if (FAILED(hr)) {
      LogHresultError(kVideoLogPrefix, searched ? L"Failed to fall back to default screen" : L"Failed to get default screen", hr);
      return hr;
    }
  }
  const D3D_FEATURE_LEVEL levels[] = {D3D_FEATURE_LEVEL_11_1, D3D_FEATURE_LEVEL_11_0};
  hr = D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, D3D11_CREATE_DEVICE_BGRA_SUPPORT, levels,
                         ARRAYSIZE(levels), D3D11_SDK_VERSION, &d3dDevice_, nullptr, &m_pD3DContext);
  if (FAILED(hr)) {
    LogHresultError(kVideoLogPrefix, L"D3D11CreateDevice", hr);
    return hr;
  }
  DXGI_OUTPUT_DESC desc{};
  output->GetDesc(&desc);
  sourceArea_ = desc.DesktopCoordinates;
  const int width = sourceArea_.right - sourceArea_.left;
  const int height = sourceArea_.bottom - sourceArea_.top;
  D3D11_TEXTURE2D_DESC texture{};
  texture.Width = static_cast<UINT>(width);
  texture.Height = static_cast<UINT>(height);
  texture.MipLevels = 1;
  texture.ArraySize = 1;
  texture.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
  texture.SampleDesc.Count = 1;
  texture.Usage = D3D11_USAGE_STAGING;
  texture.CPUAccessFlags = D3D11_CPU_ACCESS_READ;
  hr = d3dDevice_->CreateTexture2D(&texture, nullptr, &staging_);
  if (FAILED(hr)) {
    LogHresultError(kVideoLogPrefix, L"CreateTexture2D for staging", hr);
    return hr;
  }
  ComPtr<IDXGIOutput1> output1;
  hr = output.As(&output1);
  if (FAILED(hr)) {
    LogHresultError(kVideoLogPrefix, L"QueryInterface for IDXGIOutput1", hr);
    return hr;
  }
  hr = output1->DuplicateOutput(d3dDevice_.Get(), &duplication_);
  if (SUCCEEDED(hr)) {
    sourceWidth_ = width;
    sourceHeight_ = height;
    gdiMode_ = false;
    LogMessage(L"Recorder: DXGI initialization successful.");
    return S_OK;
  }
  LogHresultError(kVideoLogPrefix, L"DuplicateOutput", hr);
  // Whatever the reason (unsupported, not implemented, a remote session, too many duplications),
  // GDI can still record the screen.
  LogMessage(L"Recorder: [WARNING] DXGI Desktop Duplication is not supported. Falling back to slower GDI capture method.");
  ShowRecorderBalloon(tr(L"Recording Mode Changed").c_str(), tr(L"DXGI capture failed. Switched to GDI mode.").c_str());
  ReleaseDxgi();
  return InitializeGdiForDesktop();
}

void VideoRecorder::ReleaseDxgi() {
  duplication_.Reset();
  staging_.Reset();
  m_pD3DContext.Reset();
  d3dDevice_.Reset();
}

HRESULT VideoRecorder::InitializeGdiForDesktop() {
  LogMessage(L"Recorder: Initializing GDI for full desktop capture.");
  gdiMode_ = true;
  sourceWidth_ = GetSystemMetrics(SM_CXSCREEN);
  sourceHeight_ = GetSystemMetrics(SM_CYSCREEN);
  if (sourceWidth_ <= 0 || sourceHeight_ <= 0) {
    LogMessage(L"InitializeGdiForDesktop: [ERROR] System returned invalid screen dimensions.");
    return E_FAIL;
  }
  sourceArea_ = RECT{0, 0, sourceWidth_, sourceHeight_};
  const HRESULT hr = CreateGdiCaptureSet();
  if (hr == E_FAIL) LogMessage(L"InitializeGdiForDesktop: [ERROR] GetDC(NULL) failed.");
  if (hr == E_OUTOFMEMORY) LogMessage(L"InitializeGdiForDesktop: [ERROR] Failed to allocate memory for frame buffer.");
  if (FAILED(hr)) return hr;
  LogMessage(L"Recorder: GDI desktop capture initialization successful.");
  return S_OK;
}

HRESULT VideoRecorder::CreateGdiCaptureSet() {
  ScreenDC screen;
  if (!screen.get()) return E_FAIL;
  memoryDc_.reset(CreateCompatibleDC(screen.get()));
  bitmap_.reset(CreateCompatibleBitmap(screen.get(), sourceWidth_, sourceHeight_));
  if (!memoryDc_ || !bitmap_) return E_FAIL;
  bitmapInfo_ = TopDownBitmapInfo(sourceWidth_, sourceHeight_);
  try {
    frameBuffer_.assign(static_cast<size_t>(sourceWidth_) * sourceHeight_ * 4, 0);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

void VideoRecorder::ReleaseGdi() {
  memoryDc_.reset();
  bitmap_.reset();
  frameBuffer_.clear();
  frameBuffer_.shrink_to_fit();
  bitmapInfo_ = BITMAPINFO{};
}

HRESULT VideoRecorder::InitializeWindowCapture() {
  if (!targetWindow_ || !IsWindow(targetWindow_) || !IsWindowVisible(targetWindow_)) {
    LogMessage(L"InitializeWindowCapture: [ERROR] Invalid target window provided.");
    return E_FAIL;
  }
  DWORD process = 0;
  GetWindowThreadProcessId(targetWindow_, &process);
  if (process == 0) {
    LogMessage(L"InitializeWindowCapture: [ERROR] Could not get target process ID.");
    return E_FAIL;
  }
  targetProcess_ = process;
  LogMessage(L"Recorder: Target application PID is " + std::to_wstring(process));
  if (!ReinitializeGdiForWindow(targetWindow_)) return E_FAIL;
  LogMessage(L"Recorder: GDI window capture initialization successful.");
  return S_OK;
}

bool VideoRecorder::ReinitializeGdiForWindow(HWND window) {
  LogMessage(L"Recorder: Re-initializing GDI for new window target.");
  ReleaseGdi();
  targetWindow_ = window;
  RECT rect{};
  GetWindowRect(window, &rect);
  sourceWidth_ = rect.right - rect.left;
  sourceHeight_ = rect.bottom - rect.top;
  if (sourceWidth_ <= 0 || sourceHeight_ <= 0) {
    LogMessage(L"ReinitializeGdiForWindow: [ERROR] New window has invalid dimensions. Stopping.");
    RequestStopFromRecordingThread();
    return false;
  }
  if (FAILED(CreateGdiCaptureSet())) {
    LogMessage(L"ReinitializeGdiForWindow: [ERROR] Could not set up the capture of the new window. Stopping.");
    RequestStopFromRecordingThread();
    return false;
  }
  if (videoCodec_ && FAILED(MakeScaler())) {
    // Re-targeting during a recording: the picture is scaled to the size fixed at the start.
    LogMessage(L"ReinitializeGdiForWindow: [FATAL] Failed to re-create SWS context. Stopping.");
    RequestStopFromRecordingThread();
    return false;
  }
  return true;
}

HRESULT VideoRecorder::ReinitializeDxgi() {
  LogMessage(L"Recorder: Attempting to re-initialize DXGI Desktop Duplication...");
  ReleaseDxgi();
  const HRESULT hr = InitializeDxgiCapture();
  if (SUCCEEDED(hr)) {
    LogMessage(L"Recorder: DXGI re-initialization successful. Resuming screen capture.");
    dxgiLost_ = false;
    // A desktop of another size is scaled to the size the recording started with.
    if (sourceWidth_ != scalerWidth_ || sourceHeight_ != scalerHeight_) MakeScaler();
  }
  return hr;
}

HRESULT VideoRecorder::TakePicture(Picture& picture, bool multiTrack) {
  picture = Picture{};
  if (gdiMode_ || windowMode_) {
    RECT area = sourceArea_;
    if (windowMode_) {
      RECT rect{};
      GetWindowRect(targetWindow_, &rect);
      area = RECT{rect.left, rect.top, rect.left + sourceWidth_, rect.top + sourceHeight_};
    }
    {
      // Selected only for the copy: GetDIBits wants the bitmap out of every DC.
      ScreenDC screen;
      if (!screen.get()) return E_FAIL;
      SelectedObject selected(memoryDc_.get(), bitmap_.get());
      if (!BitBlt(memoryDc_.get(), 0, 0, sourceWidth_, sourceHeight_, screen.get(), area.left, area.top, SRCCOPY)) {
        return E_FAIL;
      }
    }
    if (!GetDIBits(memoryDc_.get(), static_cast<HBITMAP>(bitmap_.get()), 0, static_cast<UINT>(sourceHeight_),
                   frameBuffer_.data(), &bitmapInfo_, DIB_RGB_COLORS)) {
      return E_FAIL;
    }
    if (config_.IncludeCursor) DrawCursor(frameBuffer_.data(), sourceWidth_ * 4, area);
    picture.pixels = frameBuffer_.data();
    picture.pitch = sourceWidth_ * 4;
    return S_OK;
  }

  DXGI_OUTDUPL_FRAME_INFO info{};
  ComPtr<IDXGIResource> resource;
  HRESULT hr = duplication_->AcquireNextFrame(0, &info, &resource);
  if (hr == DXGI_ERROR_WAIT_TIMEOUT) return S_FALSE;  // nothing changed since the last picture
  if (hr == DXGI_ERROR_ACCESS_LOST) {
    if (!dxgiLost_) {
      LogMessage(multiTrack ? L"Recorder: [WARNING] Multi-track DXGI access lost. Will use last available frame."
                            : L"Recorder: [WARNING] DXGI access lost. Will use last available frame.");
    }
    dxgiLost_ = true;
    return hr;
  }
  if (FAILED(hr)) {
    LogHresultError(kVideoLogPrefix, multiTrack ? L"Multi-track AcquireNextFrame" : L"AcquireNextFrame", hr);
    if (!multiTrack) {
      ShowRecorderBalloon(tr(L"Recording Interrupted").c_str(), tr(L"An unexpected display error occurred.").c_str());
    }
    RequestStopFromRecordingThread();
    return hr;
  }
  ComPtr<ID3D11Texture2D> texture;
  hr = resource.As(&texture);
  if (SUCCEEDED(hr)) {
    // The copy is the picture; the desktop image goes back at once.
    m_pD3DContext->CopyResource(staging_.Get(), texture.Get());
    D3D11_MAPPED_SUBRESOURCE mapped{};
    hr = m_pD3DContext->Map(staging_.Get(), 0, D3D11_MAP_READ, 0, &mapped);
    if (FAILED(hr)) {
      LogHresultError(kVideoLogPrefix, L"m_pD3DContext->Map", hr);
    } else {
      picture.pixels = static_cast<std::uint8_t*>(mapped.pData);
      picture.pitch = static_cast<int>(mapped.RowPitch);
      picture.mapped = true;
      if (config_.IncludeCursor) DrawCursor(static_cast<std::uint8_t*>(mapped.pData), picture.pitch, sourceArea_);
    }
  }
  duplication_->ReleaseFrame();
  return hr;
}

void VideoRecorder::ReleasePicture(Picture& picture) {
  if (picture.mapped) m_pD3DContext->Unmap(staging_.Get(), 0);
  picture = Picture{};
}

HRESULT VideoRecorder::CaptureFrame() {
  Picture picture;
  HRESULT hr = TakePicture(picture, false);
  if (hr == S_OK && picture.pixels) hr = ScaleIntoFrame(picture.pixels, picture.pitch);
  ReleasePicture(picture);
  return hr == S_OK ? S_OK : E_FAIL;
}

}  // namespace vistrel
