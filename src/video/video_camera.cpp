// Cameras as video sources of a multi-track recording: a DirectShow capture graph ending in a
// Sample Grabber whose callback keeps the newest sample for the recording thread.
// DirectShow first: see video_tracks.h.
#include "video/video_tracks.h"

#include <dvdmedia.h>

extern "C" {
#include <libswscale/swscale.h>
}

#include "audio/ffmpeg_util.h"
#include "core/log.h"
#include "video/video_recorder.h"

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

HRESULT Fail(const wchar_t* what, HRESULT hr) {
  LogHresultError(kVideoLogPrefix, what, hr);
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
    LogHresultError(kVideoLogPrefix, L"InitCameraTrack: CreateClassEnumerator failed or no cameras found", hr);
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
  std::lock_guard guard(runtimeLock_);
  runtime_ = nullptr;
}

STDMETHODIMP SampleGrabberCallback::SampleCB(double, IMediaSample* sample) {
  std::lock_guard guard(runtimeLock_);
  if (!sample || !runtime_) return E_POINTER;
  const long length = sample->GetActualDataLength();
  BYTE* data = nullptr;
  if (SUCCEEDED(sample->GetPointer(&data)) && data && length > 0) {
    std::lock_guard frame(runtime_->frameLock);
    runtime_->frameBytes.assign(data, data + length);
    runtime_->newFrame = true;
  }
  return S_OK;
}

STDMETHODIMP SampleGrabberCallback::BufferCB(double, BYTE*, long) { return E_NOTIMPL; }

bool TakeCameraFrame(TrackRuntime& runtime) {
  if (!runtime.newFrame.load()) return false;
  std::lock_guard frame(runtime.frameLock);
  runtime.newFrame = false;
  const int bytesPerPixel = runtime.sourcePixelFormat == AV_PIX_FMT_YUYV422 ? 2 : 3;
  const int stride = runtime.sourceWidth * bytesPerPixel;
  // A sample shorter than a whole picture (a changed or compressed format) is not read.
  if (!runtime.scaler || stride <= 0 || runtime.sourceHeight <= 0 ||
      runtime.frameBytes.size() < static_cast<size_t>(stride) * runtime.sourceHeight ||
      av_frame_make_writable(runtime.frame.get()) < 0) {
    return false;
  }
  const std::uint8_t* planes[] = {runtime.frameBytes.data()};
  int strides[] = {stride};
  if (runtime.bottomUp) {
    // Bottom-up rows: start at the last row and step backwards.
    planes[0] = runtime.frameBytes.data() + static_cast<size_t>(stride) * (runtime.sourceHeight - 1);
    strides[0] = -stride;
  }
  return sws_scale(runtime.scaler.get(), planes, strides, 0, runtime.sourceHeight, runtime.frame->data,
                   runtime.frame->linesize) > 0;
}

HRESULT InitCameraTrack(TrackRuntime& runtime) {
  HRESULT hr = S_OK;
  ComPtr<IMoniker> moniker = FindCamera(runtime.config.video_source_id, hr);
  if (!moniker) return FAILED(hr) ? hr : E_FAIL;
  if (FAILED(hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&runtime.graph)))) {
    return Fail(L"InitCameraTrack: CoCreateInstance(FilterGraph)", hr);
  }
  if (FAILED(hr = CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_PPV_ARGS(&runtime.builder)))) {
    return Fail(L"InitCameraTrack: CoCreateInstance(CaptureGraphBuilder2)", hr);
  }
  if (FAILED(hr = runtime.builder->SetFiltergraph(runtime.graph.Get()))) {
    return Fail(L"InitCameraTrack: SetFiltergraph", hr);
  }
  ComPtr<IBaseFilter> source;
  hr = moniker->BindToObject(nullptr, nullptr, IID_PPV_ARGS(&source));
  if (SUCCEEDED(hr)) hr = runtime.graph->AddFilter(source.Get(), L"Source Filter");
  if (FAILED(hr)) return Fail(L"InitCameraTrack: AddSourceFilterForMoniker", hr);
  ComPtr<IBaseFilter> grabberFilter;
  if (FAILED(hr = CoCreateInstance(kSampleGrabber, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&grabberFilter)))) {
    return Fail(L"InitCameraTrack: CoCreateInstance(SampleGrabber)", hr);
  }
  if (FAILED(hr = grabberFilter.As(&runtime.grabber))) return Fail(L"InitCameraTrack: QueryInterface(ISampleGrabber)", hr);
  if (FAILED(hr = runtime.graph->AddFilter(grabberFilter.Get(), L"Sample Grabber"))) {
    return Fail(L"InitCameraTrack: AddFilter(Grabber)", hr);
  }
  // Uncompressed pictures first, so that compressed samples never reach the scaler; then whatever
  // the camera and the graph agree on.
  for (const GUID* subtype : {&MEDIASUBTYPE_RGB24, &MEDIASUBTYPE_YUY2, static_cast<const GUID*>(nullptr)}) {
    AM_MEDIA_TYPE wanted{};
    wanted.majortype = MEDIATYPE_Video;
    if (subtype) wanted.subtype = *subtype;
    runtime.grabber->SetMediaType(&wanted);
    hr = runtime.builder->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, source.Get(), nullptr,
                                       grabberFilter.Get());
    if (SUCCEEDED(hr)) break;
  }
  if (FAILED(hr)) return Fail(L"InitCameraTrack: RenderStream failed", hr);
  AM_MEDIA_TYPE connected{};
  if (FAILED(hr = runtime.grabber->GetConnectedMediaType(&connected))) {
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
  runtime.sourceWidth = header->biWidth;
  runtime.sourceHeight = header->biHeight < 0 ? -header->biHeight : header->biHeight;
  const std::wstring subtypeText = GuidText(connected.subtype);
  if (connected.subtype == MEDIASUBTYPE_YUY2) {
    runtime.sourcePixelFormat = AV_PIX_FMT_YUYV422;
  } else {
    if (connected.subtype != MEDIASUBTYPE_RGB24) {
      LogMessage(L" -> [WARNING] Camera connected with an unsupported format, attempting BGR24 fallback: " + subtypeText);
    }
    runtime.sourcePixelFormat = AV_PIX_FMT_BGR24;
    // Uncompressed RGB with a positive height starts with the bottom row.
    runtime.bottomUp = connected.subtype == MEDIASUBTYPE_RGB24 && header->biHeight > 0;
  }
  LogMessage(L" -> Camera connected with format: " + subtypeText);
  FreeMediaType(connected);
  runtime.callback = new SampleGrabberCallback(&runtime);  // COM object: it deletes itself on its last Release
  runtime.grabber->SetCallback(runtime.callback, 0);
  if (FAILED(hr = runtime.graph.As(&runtime.control))) return Fail(L"InitCameraTrack: QueryInterface(IMediaControl)", hr);
  LogMessage(L" -> Camera Initialized successfully: " + runtime.config.name + L", " +
             std::to_wstring(runtime.sourceWidth) + L"x" + std::to_wstring(runtime.sourceHeight));
  return S_OK;
}

}  // namespace vistrel
