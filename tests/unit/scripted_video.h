// Scripted stand-ins for what Wine cannot produce of Windows' display and camera stacks, behaving
// as Windows documents them: a desktop duplication that hands out pictures, reports an unchanged
// desktop (DXGI_ERROR_WAIT_TIMEOUT) and then fails as a removed device does; a screen whose mode
// changes; cameras that connect in a given format and send samples from a thread of their own.
// The Direct3D device and its textures are real.
#pragma once

#include "video/video_devices.h"  // first: DirectShow

#include <dvdmedia.h>
#include <objidl.h>
#include <gdiplus.h>

#include <atomic>
#include <chrono>
#include <map>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace vistrel::testing {

// Just enough of a media sample for a grabber callback: a buffer and its length.
class FakeSample final : public IMediaSample {
 public:
  explicit FakeSample(std::vector<BYTE> bytes) : bytes_(std::move(bytes)) {}
  STDMETHODIMP QueryInterface(REFIID, void** object) override {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP GetPointer(BYTE** buffer) override {
    *buffer = bytes_.data();
    return S_OK;
  }
  STDMETHODIMP_(long) GetSize() override { return static_cast<long>(bytes_.size()); }
  STDMETHODIMP GetTime(REFERENCE_TIME*, REFERENCE_TIME*) override { return E_NOTIMPL; }
  STDMETHODIMP SetTime(REFERENCE_TIME*, REFERENCE_TIME*) override { return E_NOTIMPL; }
  STDMETHODIMP IsSyncPoint() override { return S_OK; }
  STDMETHODIMP SetSyncPoint(BOOL) override { return S_OK; }
  STDMETHODIMP IsPreroll() override { return S_FALSE; }
  STDMETHODIMP SetPreroll(BOOL) override { return S_OK; }
  STDMETHODIMP_(long) GetActualDataLength() override { return static_cast<long>(bytes_.size()); }
  STDMETHODIMP SetActualDataLength(long) override { return E_NOTIMPL; }
  STDMETHODIMP GetMediaType(AM_MEDIA_TYPE** type) override {
    *type = nullptr;
    return S_FALSE;
  }
  STDMETHODIMP SetMediaType(AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
  STDMETHODIMP IsDiscontinuity() override { return S_FALSE; }
  STDMETHODIMP SetDiscontinuity(BOOL) override { return S_OK; }
  STDMETHODIMP GetMediaTime(LONGLONG*, LONGLONG*) override { return E_NOTIMPL; }
  STDMETHODIMP SetMediaTime(LONGLONG*, LONGLONG*) override { return E_NOTIMPL; }

 private:
  std::vector<BYTE> bytes_;
};

// A connected camera format: a VIDEOINFOHEADER2 block in memory of the task allocator, as
// GetConnectedMediaType hands it over (`positiveHeight`: rows bottom-up for RGB).
inline AM_MEDIA_TYPE CameraFormat(const GUID& subtype, int width, int height, DWORD controlFlags = 0,
                                  bool positiveHeight = false) {
  AM_MEDIA_TYPE type{};
  type.majortype = MEDIATYPE_Video;
  type.subtype = subtype;
  type.formattype = FORMAT_VideoInfo2;
  type.cbFormat = sizeof(VIDEOINFOHEADER2);
  auto* info = static_cast<VIDEOINFOHEADER2*>(CoTaskMemAlloc(sizeof(VIDEOINFOHEADER2)));
  *info = VIDEOINFOHEADER2{};
  info->dwControlFlags = controlFlags;
  info->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info->bmiHeader.biWidth = width;
  info->bmiHeader.biHeight = positiveHeight ? height : -height;
  type.pbFormat = reinterpret_cast<BYTE*>(info);
  return type;
}

// A camera: a format and the sample it sends every 20 ms while running.
struct ScriptedCameraSpec {
  GUID subtype;
  int width = 0;
  int height = 0;
  std::vector<BYTE> sample;
};

class ScriptedCamera final : public CameraReader {
 public:
  explicit ScriptedCamera(std::map<std::wstring, ScriptedCameraSpec> cameras) : cameras_(std::move(cameras)) {}
  ~ScriptedCamera() override { Stop(); }

  HRESULT Connect(const std::wstring& devicePath, ISampleGrabberCB* callback, AM_MEDIA_TYPE& connected) override {
    const auto found = cameras_.find(devicePath);
    if (found == cameras_.end()) return E_FAIL;
    spec_ = found->second;
    callback_ = callback;
    connected = CameraFormat(spec_.subtype, spec_.width, spec_.height);
    return S_OK;
  }
  void Run() override {
    if (thread_.joinable()) return;
    running_ = true;
    thread_ = std::thread([this] {
      while (running_) {
        FakeSample sample(spec_.sample);
        callback_->SampleCB(0.0, &sample);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
    });
  }
  void Pause() override { Stop(); }
  void Stop() override {
    running_ = false;
    if (thread_.joinable()) thread_.join();
  }

 private:
  std::map<std::wstring, ScriptedCameraSpec> cameras_;
  ScriptedCameraSpec spec_;
  ISampleGrabberCB* callback_ = nullptr;
  std::atomic<bool> running_{false};
  std::thread thread_;
};

// A duplication whose desktop is `texture`: every other call a new picture, in between an
// unchanged desktop; from `after` past the first call on, every call fails with `failure`.
class ScriptedDuplication final : public IDXGIOutputDuplication {
 public:
  ScriptedDuplication(Microsoft::WRL::ComPtr<ID3D11Texture2D> texture, std::chrono::milliseconds after,
                      HRESULT failure)
      : texture_(std::move(texture)), after_(after), failure_(failure) {}

  STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
    if (riid == IID_IUnknown || riid == __uuidof(IDXGIOutputDuplication)) {
      *object = static_cast<IDXGIOutputDuplication*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
  STDMETHODIMP_(ULONG) Release() override {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }
  STDMETHODIMP SetPrivateData(REFGUID, UINT, const void*) override { return E_NOTIMPL; }
  STDMETHODIMP SetPrivateDataInterface(REFGUID, const IUnknown*) override { return E_NOTIMPL; }
  STDMETHODIMP GetPrivateData(REFGUID, UINT*, void*) override { return E_NOTIMPL; }
  STDMETHODIMP GetParent(REFIID, void** parent) override {
    *parent = nullptr;
    return E_NOINTERFACE;
  }
  void STDMETHODCALLTYPE GetDesc(DXGI_OUTDUPL_DESC* desc) override { *desc = DXGI_OUTDUPL_DESC{}; }
  STDMETHODIMP AcquireNextFrame(UINT, DXGI_OUTDUPL_FRAME_INFO* info, IDXGIResource** resource) override {
    *resource = nullptr;
    if (held_) return DXGI_ERROR_INVALID_CALL;  // the last frame was not released
    const auto now = std::chrono::steady_clock::now();
    if (failAt_ == std::chrono::steady_clock::time_point{}) failAt_ = now + after_;
    if (now >= failAt_) {
      if (!failedAt_) failedAt_ = GetTickCount64();
      ++callsAfterFailure_;
      return failure_;
    }
    if (++calls_ % 2 == 0) return DXGI_ERROR_WAIT_TIMEOUT;
    *info = DXGI_OUTDUPL_FRAME_INFO{};
    held_ = true;
    return texture_.CopyTo(resource);
  }
  STDMETHODIMP GetFrameDirtyRects(UINT, RECT*, UINT*) override { return E_NOTIMPL; }
  STDMETHODIMP GetFrameMoveRects(UINT, DXGI_OUTDUPL_MOVE_RECT*, UINT*) override { return E_NOTIMPL; }
  STDMETHODIMP GetFramePointerShape(UINT, void*, UINT*, DXGI_OUTDUPL_POINTER_SHAPE_INFO*) override {
    return E_NOTIMPL;
  }
  STDMETHODIMP MapDesktopSurface(DXGI_MAPPED_RECT*) override { return DXGI_ERROR_UNSUPPORTED; }
  STDMETHODIMP UnMapDesktopSurface() override { return DXGI_ERROR_UNSUPPORTED; }
  STDMETHODIMP ReleaseFrame() override {
    held_ = false;
    return S_OK;
  }

  ULONGLONG failedAt() const { return failedAt_; }  // GetTickCount64 of the first failure, 0: none yet
  int callsAfterFailure() const { return callsAfterFailure_; }

 private:
  ~ScriptedDuplication() = default;
  std::atomic<ULONG> references_{1};
  Microsoft::WRL::ComPtr<ID3D11Texture2D> texture_;
  std::chrono::milliseconds after_;
  std::chrono::steady_clock::time_point failAt_;
  HRESULT failure_;
  int calls_ = 0;
  bool held_ = false;
  std::atomic<ULONGLONG> failedAt_{0};
  std::atomic<int> callsAfterFailure_{0};
};

// The display and cameras: each Duplicate takes the next of `steps` (the screen's rectangle, and
// S_OK to hand out `duplication`, or the failure), the last one repeating; ScreenArea answers
// `screen`. The Direct3D device is a real one. Changed only while no recording runs.
class ScriptedDisplay final : public VideoDevices {
 public:
  struct Step {
    RECT area;
    HRESULT result;
  };

  ScriptedDisplay() {
    const HRESULT hr = D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, D3D11_CREATE_DEVICE_BGRA_SUPPORT,
                                         nullptr, 0, D3D11_SDK_VERSION, &device_, nullptr, &context_);
    EXPECT_EQ(hr, S_OK) << "a Direct3D 11 device";
  }
  ~ScriptedDisplay() override {
    if (duplication) duplication->Release();
  }

  // The duplication handed out from now on: a desktop of `width` x `height` in one BGRA colour,
  // which fails with `failure` from `after` past its first picture on.
  void Hand(int width, int height, std::uint32_t bgra, std::chrono::milliseconds after, HRESULT failure) {
    std::vector<std::uint32_t> pixels(static_cast<size_t>(width) * height, bgra);
    D3D11_TEXTURE2D_DESC desc{};
    desc.Width = static_cast<UINT>(width);
    desc.Height = static_cast<UINT>(height);
    desc.MipLevels = desc.ArraySize = desc.SampleDesc.Count = 1;
    desc.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
    desc.Usage = D3D11_USAGE_DEFAULT;
    const D3D11_SUBRESOURCE_DATA data{pixels.data(), static_cast<UINT>(width * 4), 0};
    Microsoft::WRL::ComPtr<ID3D11Texture2D> texture;
    ASSERT_EQ(device_->CreateTexture2D(&desc, &data, &texture), S_OK);
    if (duplication) duplication->Release();
    duplication = new ScriptedDuplication(texture, after, failure);
  }

  HRESULT Duplicate(const wchar_t*, const std::wstring&, DesktopDuplication& out) override {
    const Step step = steps.at(std::min(duplicateCalls, steps.size() - 1));
    ++duplicateCalls;
    out.area = step.area;
    out.device = device_;
    out.context = context_;
    if (FAILED(step.result)) return step.result;
    out.duplication = duplication;
    return duplication ? S_OK : E_FAIL;
  }
  RECT ScreenArea(const RECT&) override { return screen; }
  std::unique_ptr<CameraReader> MakeCameraReader() override { return std::make_unique<ScriptedCamera>(cameras); }

  std::vector<Step> steps{{RECT{0, 0, 1280, 720}, S_OK}};
  RECT screen{0, 0, 1280, 720};
  std::map<std::wstring, ScriptedCameraSpec> cameras;
  ScriptedDuplication* duplication = nullptr;
  size_t duplicateCalls = 0;

 private:
  Microsoft::WRL::ComPtr<ID3D11Device> device_;
  Microsoft::WRL::ComPtr<ID3D11DeviceContext> context_;
};

// A JPEG picture of `width` x `height` in one colour, as a camera sending MJPG would.
inline std::vector<BYTE> JpegOf(int width, int height, COLORREF colour) {
  UINT count = 0;
  UINT size = 0;
  Gdiplus::GetImageEncodersSize(&count, &size);
  std::vector<BYTE> list(size);
  auto* encoders = reinterpret_cast<Gdiplus::ImageCodecInfo*>(list.data());
  Gdiplus::GetImageEncoders(count, size, encoders);
  const Gdiplus::ImageCodecInfo* jpeg = nullptr;
  for (UINT i = 0; i < count; ++i) {
    if (std::wstring(encoders[i].MimeType) == L"image/jpeg") jpeg = &encoders[i];
  }
  Gdiplus::Bitmap picture(width, height, PixelFormat24bppRGB);
  Gdiplus::Graphics(&picture).Clear(Gdiplus::Color(GetRValue(colour), GetGValue(colour), GetBValue(colour)));
  Microsoft::WRL::ComPtr<IStream> stream;
  CreateStreamOnHGlobal(nullptr, TRUE, &stream);
  std::vector<BYTE> bytes;
  if (!jpeg || picture.Save(stream.Get(), &jpeg->Clsid, nullptr) != Gdiplus::Ok) return bytes;
  STATSTG stat{};
  stream->Stat(&stat, STATFLAG_NONAME);
  bytes.resize(static_cast<size_t>(stat.cbSize.QuadPart));
  const LARGE_INTEGER start{};
  stream->Seek(start, STREAM_SEEK_SET, nullptr);
  ULONG read = 0;
  stream->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &read);
  return bytes;
}

}  // namespace vistrel::testing
