// DirectShow first: see camera_source.h.
#include "video/camera_source.h"

#include <dvdmedia.h>

#include "core/log.h"
#include "media/ffmpeg_util.h"

extern "C" {
#include <libavutil/pixfmt.h>
}

using Microsoft::WRL::ComPtr;

namespace vistrel {
namespace {

// The Sample Grabber filter's class, which the import libraries do not provide.
const CLSID kSampleGrabber = {0xC1F400A0, 0x3F08, 0x11D3, {0x9F, 0x0B, 0x00, 0x60, 0x08, 0x03, 0x9E, 0x37}};

std::wstring GuidText(const GUID& guid) {
  wchar_t text[40] = {};
  StringFromGUID2(guid, text, 40);
  return text;
}

void FreeMediaType(AM_MEDIA_TYPE& type) {
  if (type.cbFormat) CoTaskMemFree(type.pbFormat);
  type.cbFormat = 0;
  type.pbFormat = nullptr;
  if (type.pUnk) type.pUnk->Release();
  type.pUnk = nullptr;
}

constexpr wchar_t kPrefix[] = L"Recorder: ";

HRESULT Fail(const wchar_t* what, HRESULT hr) {
  LogHresultError(kPrefix, what, hr);
  return hr;
}

ComPtr<IMoniker> FindCamera(const std::wstring& devicePath, HRESULT& hr) {
  ComPtr<ICreateDevEnum> devices;
  hr = CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&devices));
  if (FAILED(hr)) {
    Fail(L"InitCameraTrack: CoCreateInstance(SystemDeviceEnum)", hr);
    return nullptr;
  }
  ComPtr<IEnumMoniker> monikers;
  hr = devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0);
  if (hr != S_OK || !monikers) {
    LogHresultError(kPrefix, L"InitCameraTrack: CreateClassEnumerator failed or no cameras found", hr);
    if (hr == S_FALSE || SUCCEEDED(hr)) hr = E_FAIL;
    return nullptr;
  }
  ComPtr<IMoniker> moniker;
  while (monikers->Next(1, moniker.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
    ComPtr<IPropertyBag> bag;
    if (FAILED(moniker->BindToStorage(nullptr, nullptr, IID_PPV_ARGS(&bag)))) continue;
    VARIANT value;
    VariantInit(&value);
    const bool match = SUCCEEDED(bag->Read(L"DevicePath", &value, nullptr)) && value.vt == VT_BSTR &&
                       devicePath == value.bstrVal;
    VariantClear(&value);
    if (match) return moniker;
  }
  LogMessage(L"InitCameraTrack: [ERROR] Could not find the selected camera moniker.");
  hr = E_FAIL;
  return nullptr;
}

}  // namespace

STDMETHODIMP SampleGrabberCallback::QueryInterface(REFIID riid, void** object) {
  if (!object) return E_POINTER;
  if (riid == IID_IUnknown || riid == __uuidof(ISampleGrabberCB)) {
    *object = static_cast<ISampleGrabberCB*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) SampleGrabberCallback::AddRef() { return ++references_; }

STDMETHODIMP_(ULONG) SampleGrabberCallback::Release() {
  const ULONG left = --references_;
  if (left == 0) delete this;
  return left;
}

void SampleGrabberCallback::Detach() {
  std::lock_guard guard(sourceLock_);
  source_ = nullptr;
}

STDMETHODIMP SampleGrabberCallback::SampleCB(double, IMediaSample* sample) {
  std::lock_guard guard(sourceLock_);
  if (!sample || !source_) return E_POINTER;
  const long length = sample->GetActualDataLength();
  BYTE* data = nullptr;
  if (SUCCEEDED(sample->GetPointer(&data)) && data && length > 0) source_->Deliver(data, length);
  return S_OK;
}

STDMETHODIMP SampleGrabberCallback::BufferCB(double, BYTE*, long) { return E_NOTIMPL; }

void CameraSource::Deliver(const std::uint8_t* data, long length) {
  std::lock_guard frame(frameLock_);
  frameBytes_.assign(data, data + length);
  newFrame_ = true;
  lastSample_ = GetTickCount64();
}

void CameraSource::SetFormat(int width, int height, int pixelFormat, bool bottomUp) {
  width_ = width;
  height_ = height;
  pixelFormat_ = pixelFormat;
  bottomUp_ = bottomUp;
}

bool CameraSource::Take(VideoEncoderStream& stream) {
  if (!newFrame_.load()) return false;
  std::lock_guard frame(frameLock_);
  newFrame_ = false;
  const int bytesPerPixel = pixelFormat_ == AV_PIX_FMT_YUYV422 ? 2 : 3;
  const int stride = width_ * bytesPerPixel;
  // A sample shorter than a whole picture (a changed or compressed format) is not read.
  if (stride <= 0 || height_ <= 0 || frameBytes_.size() < static_cast<size_t>(stride) * height_) return false;
  // Bottom-up rows: start at the last row and step backwards.
  const std::uint8_t* first = bottomUp_ ? frameBytes_.data() + static_cast<size_t>(stride) * (height_ - 1)
                                        : frameBytes_.data();
  return stream.Scale(first, bottomUp_ ? -stride : stride, width_, height_, pixelFormat_);
}

void CameraSource::Run() {
  lastSample_ = GetTickCount64();
  if (control_) control_->Run();
}

void CameraSource::Pause() {
  if (control_) control_->Pause();
}

void CameraSource::Close() {
  if (control_) control_->Stop();
  if (grabber_) grabber_->SetCallback(nullptr, 0);
  control_.Reset();
  grabber_.Reset();
  builder_.Reset();
  graph_.Reset();
  if (callback_) {
    callback_->Detach();
    callback_->Release();
    callback_ = nullptr;
  }
}

HRESULT CameraSource::Open(const std::wstring& devicePath, const std::wstring& name) {
  HRESULT hr = S_OK;
  ComPtr<IMoniker> moniker = FindCamera(devicePath, hr);
  if (!moniker) return FAILED(hr) ? hr : E_FAIL;
  if (FAILED(hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&graph_)))) {
    return Fail(L"InitCameraTrack: CoCreateInstance(FilterGraph)", hr);
  }
  if (FAILED(hr = CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_PPV_ARGS(&builder_)))) {
    return Fail(L"InitCameraTrack: CoCreateInstance(CaptureGraphBuilder2)", hr);
  }
  if (FAILED(hr = builder_->SetFiltergraph(graph_.Get()))) {
    return Fail(L"InitCameraTrack: SetFiltergraph", hr);
  }
  ComPtr<IBaseFilter> source;
  hr = moniker->BindToObject(nullptr, nullptr, IID_PPV_ARGS(&source));
  if (SUCCEEDED(hr)) hr = graph_->AddFilter(source.Get(), L"Source Filter");
  if (FAILED(hr)) return Fail(L"InitCameraTrack: AddSourceFilterForMoniker", hr);
  ComPtr<IBaseFilter> grabberFilter;
  if (FAILED(hr = CoCreateInstance(kSampleGrabber, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&grabberFilter)))) {
    return Fail(L"InitCameraTrack: CoCreateInstance(SampleGrabber)", hr);
  }
  if (FAILED(hr = grabberFilter.As(&grabber_))) return Fail(L"InitCameraTrack: QueryInterface(ISampleGrabber)", hr);
  if (FAILED(hr = graph_->AddFilter(grabberFilter.Get(), L"Sample Grabber"))) {
    return Fail(L"InitCameraTrack: AddFilter(Grabber)", hr);
  }
  // Uncompressed pictures first, so that compressed samples never reach the scaler; then whatever
  // the camera and the graph agree on.
  for (const GUID* subtype : {&MEDIASUBTYPE_RGB24, &MEDIASUBTYPE_YUY2, static_cast<const GUID*>(nullptr)}) {
    AM_MEDIA_TYPE wanted{};
    wanted.majortype = MEDIATYPE_Video;
    if (subtype) wanted.subtype = *subtype;
    grabber_->SetMediaType(&wanted);
    hr = builder_->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, source.Get(), nullptr,
                                       grabberFilter.Get());
    if (SUCCEEDED(hr)) break;
  }
  if (FAILED(hr)) return Fail(L"InitCameraTrack: RenderStream failed", hr);
  AM_MEDIA_TYPE connected{};
  if (FAILED(hr = grabber_->GetConnectedMediaType(&connected))) {
    return Fail(L"InitCameraTrack: GetConnectedMediaType failed", hr);
  }
  const BITMAPINFOHEADER* header = nullptr;
  if (connected.formattype == FORMAT_VideoInfo && connected.cbFormat >= sizeof(VIDEOINFOHEADER)) {
    header = &reinterpret_cast<const VIDEOINFOHEADER*>(connected.pbFormat)->bmiHeader;
  } else if (connected.formattype == FORMAT_VideoInfo2 && connected.cbFormat >= sizeof(VIDEOINFOHEADER2)) {
    header = &reinterpret_cast<const VIDEOINFOHEADER2*>(connected.pbFormat)->bmiHeader;
  }
  if (!header) {
    LogMessage(L"InitCameraTrack: [ERROR] Unknown media type format.");
    FreeMediaType(connected);
    return E_FAIL;
  }
  const int height = header->biHeight < 0 ? -header->biHeight : header->biHeight;
  const std::wstring subtypeText = GuidText(connected.subtype);
  if (connected.subtype == MEDIASUBTYPE_YUY2) {
    SetFormat(header->biWidth, height, AV_PIX_FMT_YUYV422, false);
  } else {
    if (connected.subtype != MEDIASUBTYPE_RGB24) {
      LogMessage(L" -> [WARNING] Camera connected with an unsupported format, attempting BGR24 fallback: " + subtypeText);
    }
    // Uncompressed RGB with a positive height starts with the bottom row.
    SetFormat(header->biWidth, height, AV_PIX_FMT_BGR24, connected.subtype == MEDIASUBTYPE_RGB24 && header->biHeight > 0);
  }
  LogMessage(L" -> Camera connected with format: " + subtypeText);
  FreeMediaType(connected);
  callback_ = new SampleGrabberCallback(this);  // COM object: it deletes itself on its last Release
  grabber_->SetCallback(callback_, 0);
  if (FAILED(hr = graph_.As(&control_))) return Fail(L"InitCameraTrack: QueryInterface(IMediaControl)", hr);
  LogMessage(L" -> Camera Initialized successfully: " + name + L", " + std::to_wstring(width_) + L"x" +
             std::to_wstring(height_));
  return S_OK;
}

}  // namespace vistrel
