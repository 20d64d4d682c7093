// DirectShow first: see video_devices.h.
#include "video/video_devices.h"

#include "core/log.h"
#include "media/ffmpeg_util.h"

using Microsoft::WRL::ComPtr;

namespace vistrel {
namespace {

// The output named `screenId`, or the first output of the first adapter.
ComPtr<IDXGIOutput> FindOutput(const wchar_t* prefix, IDXGIFactory1* factory, const std::wstring& screenId) {
  const std::wstring who = prefix;
  if (screenId != L"Default") {
    LogMessage(who + L"Searching for selected screen with ID: " + screenId);
    ComPtr<IDXGIAdapter1> adapter;
    for (UINT a = 0; factory->EnumAdapters1(a, adapter.ReleaseAndGetAddressOf()) != DXGI_ERROR_NOT_FOUND; ++a) {
      ComPtr<IDXGIOutput> candidate;
      for (UINT o = 0; adapter->EnumOutputs(o, candidate.ReleaseAndGetAddressOf()) != DXGI_ERROR_NOT_FOUND; ++o) {
        DXGI_OUTPUT_DESC desc{};
        if (candidate && SUCCEEDED(candidate->GetDesc(&desc)) && screenId == desc.DeviceName) {
          LogMessage(who + L"Found matching screen.");
          return candidate;
        }
      }
    }
    LogMessage(who + L"[WARNING] Selected screen not found. Falling back to default screen.");
  } else {
    LogMessage(who + L"Using default (primary) screen.");
  }
  ComPtr<IDXGIAdapter1> adapter;
  ComPtr<IDXGIOutput> output;
  HRESULT hr = factory->EnumAdapters1(0, &adapter);
  if (SUCCEEDED(hr)) hr = adapter->EnumOutputs(0, &output);
  if (FAILED(hr)) LogHresultError(prefix, L"Failed to get default screen", hr);
  return output;
}

// The Sample Grabber filter's class, which the import libraries do not provide.
const CLSID kSampleGrabber = {0xC1F400A0, 0x3F08, 0x11D3, {0x9F, 0x0B, 0x00, 0x60, 0x08, 0x03, 0x9E, 0x37}};

constexpr wchar_t kCameraPrefix[] = L"Recorder: ";

HRESULT Fail(const wchar_t* what, HRESULT hr) {
  LogHresultError(kCameraPrefix, what, hr);
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
    LogHresultError(kCameraPrefix, L"InitCameraTrack: CreateClassEnumerator failed or no cameras found", hr);
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

// A DirectShow capture graph: the camera's filter, then a Sample Grabber that calls back with
// each sample.
class DirectShowCamera final : public CameraReader {
 public:
  ~DirectShowCamera() override { Stop(); }

  HRESULT Connect(const std::wstring& devicePath, ISampleGrabberCB* callback, AM_MEDIA_TYPE& connected) override {
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
    if (FAILED(hr = builder_->SetFiltergraph(graph_.Get()))) return Fail(L"InitCameraTrack: SetFiltergraph", hr);
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
    // Uncompressed pictures first (the graph may put a decoder in between); then whatever the
    // camera and the graph agree on.
    for (const GUID* subtype : {&MEDIASUBTYPE_RGB24, &MEDIASUBTYPE_YUY2, static_cast<const GUID*>(nullptr)}) {
      AM_MEDIA_TYPE wanted{};
      wanted.majortype = MEDIATYPE_Video;
      if (subtype) wanted.subtype = *subtype;
      grabber_->SetMediaType(&wanted);
      hr = builder_->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, source.Get(), nullptr, grabberFilter.Get());
      if (SUCCEEDED(hr)) break;
    }
    if (FAILED(hr)) return Fail(L"InitCameraTrack: RenderStream failed", hr);
    if (FAILED(hr = grabber_->GetConnectedMediaType(&connected))) {
      return Fail(L"InitCameraTrack: GetConnectedMediaType failed", hr);
    }
    grabber_->SetCallback(callback, 0);
    if (FAILED(hr = graph_.As(&control_))) return Fail(L"InitCameraTrack: QueryInterface(IMediaControl)", hr);
    return S_OK;
  }

  void Run() override {
    if (control_) control_->Run();
  }
  void Pause() override {
    if (control_) control_->Pause();
  }
  void Stop() override {
    if (control_) control_->Stop();
    if (grabber_) grabber_->SetCallback(nullptr, 0);
    control_.Reset();
    grabber_.Reset();
    builder_.Reset();
    graph_.Reset();
  }

 private:
  ComPtr<IGraphBuilder> graph_;
  ComPtr<ICaptureGraphBuilder2> builder_;
  ComPtr<IMediaControl> control_;
  ComPtr<ISampleGrabber> grabber_;
};

class WindowsDevices final : public VideoDevices {
 public:
  HRESULT Duplicate(const wchar_t* prefix, const std::wstring& screenId, DesktopDuplication& out) override {
    ComPtr<IDXGIFactory1> factory;
    HRESULT hr = CreateDXGIFactory1(IID_PPV_ARGS(&factory));
    if (FAILED(hr)) {
      LogHresultError(prefix, L"CreateDXGIFactory1", hr);
      return hr;
    }
    ComPtr<IDXGIOutput> output = FindOutput(prefix, factory.Get(), screenId);
    if (!output) return E_FAIL;
    DXGI_OUTPUT_DESC desc{};
    output->GetDesc(&desc);
    out.area = desc.DesktopCoordinates;
    const D3D_FEATURE_LEVEL levels[] = {D3D_FEATURE_LEVEL_11_1, D3D_FEATURE_LEVEL_11_0};
    hr = D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, D3D11_CREATE_DEVICE_BGRA_SUPPORT, levels,
                           ARRAYSIZE(levels), D3D11_SDK_VERSION, &out.device, nullptr, &out.context);
    if (FAILED(hr)) {
      LogHresultError(prefix, L"D3D11CreateDevice", hr);
      return hr;
    }
    ComPtr<IDXGIOutput1> output1;
    hr = output.As(&output1);
    if (FAILED(hr)) {
      LogHresultError(prefix, L"QueryInterface for IDXGIOutput1", hr);
      return hr;
    }
    if (FAILED(hr = output1->DuplicateOutput(out.device.Get(), &out.duplication))) {
      LogHresultError(prefix, L"DuplicateOutput", hr);
    }
    return hr;
  }

  RECT ScreenArea(const RECT& area) override {
    MONITORINFO info{};
    info.cbSize = sizeof info;
    const POINT centre{(area.left + area.right) / 2, (area.top + area.bottom) / 2};
    if (!GetMonitorInfoW(MonitorFromPoint(centre, MONITOR_DEFAULTTONEAREST), &info)) return area;
    return info.rcMonitor;
  }

  std::unique_ptr<CameraReader> MakeCameraReader() override { return std::make_unique<DirectShowCamera>(); }
};

}  // namespace

std::shared_ptr<VideoDevices> WindowsVideoDevices() {
  static const std::shared_ptr<VideoDevices> devices = std::make_shared<WindowsDevices>();
  return devices;
}

}  // namespace vistrel
