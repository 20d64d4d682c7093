#include "tracks/device_list.h"

#include <windows.h>
#include <dshow.h>
#include <dxgi.h>
#include <mmdeviceapi.h>
#include <wrl/client.h>

#include "core/com_apartment.h"
#include "core/handles.h"
#include "i18n/tr.h"

using Microsoft::WRL::ComPtr;

namespace vistrel {
namespace {

// PKEY_Device_FriendlyName, spelled out so that no translation unit has to instantiate the GUID.
const PROPERTYKEY kFriendlyName = {{0xa45c254e, 0xdf1c, 0x4efd, {0x80, 0x20, 0x67, 0xd1, 0x46, 0xa8, 0x50, 0xe0}}, 14};

class PropVariant {
 public:
  PropVariant() { PropVariantInit(&value_); }
  ~PropVariant() { PropVariantClear(&value_); }
  PropVariant(const PropVariant&) = delete;
  PropVariant& operator=(const PropVariant&) = delete;
  PROPVARIANT* get() { return &value_; }
  const wchar_t* text() const { return value_.vt == VT_LPWSTR ? value_.pwszVal : nullptr; }

 private:
  PROPVARIANT value_;
};

class Variant {
 public:
  Variant() { VariantInit(&value_); }
  ~Variant() { VariantClear(&value_); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
  VARIANT* get() { return &value_; }
  const wchar_t* text() const { return value_.vt == VT_BSTR ? value_.bstrVal : nullptr; }

 private:
  VARIANT value_;
};

}  // namespace

std::vector<DeviceEntry> EnumerateAudioDevices(int dataFlow) {
  std::vector<DeviceEntry> list{{L"Default", tr(L"Default Device")}};
  ComApartment com;
  ComPtr<IMMDeviceEnumerator> enumerator;
  if (FAILED(CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL,
                              IID_PPV_ARGS(&enumerator)))) {
    return list;
  }
  ComPtr<IMMDeviceCollection> devices;
  if (FAILED(enumerator->EnumAudioEndpoints(static_cast<EDataFlow>(dataFlow), DEVICE_STATE_ACTIVE,
                                            &devices))) {
    return list;
  }
  UINT count = 0;
  if (FAILED(devices->GetCount(&count))) return list;
  for (UINT i = 0; i < count; ++i) {
    ComPtr<IMMDevice> device;
    if (FAILED(devices->Item(i, &device))) continue;
    CoTaskMem<wchar_t> id;
    if (FAILED(device->GetId(id.put())) || !id.get()) continue;
    ComPtr<IPropertyStore> store;
    if (FAILED(device->OpenPropertyStore(STGM_READ, &store))) continue;
    PropVariant name;
    if (FAILED(store->GetValue(kFriendlyName, name.get())) || !name.text()) continue;
    list.push_back({id.get(), name.text()});
  }
  return list;
}

std::vector<DeviceEntry> EnumerateDisplays() {
  std::vector<DeviceEntry> list{{L"Default", tr(L"Primary Display")}};
  ComPtr<IDXGIFactory> factory;
  if (FAILED(CreateDXGIFactory(IID_PPV_ARGS(&factory)))) return list;
  ComPtr<IDXGIAdapter> adapter;
  for (UINT a = 0; factory->EnumAdapters(a, adapter.ReleaseAndGetAddressOf()) != DXGI_ERROR_NOT_FOUND; ++a) {
    if (!adapter) continue;
    ComPtr<IDXGIOutput> output;
    for (UINT o = 0; adapter->EnumOutputs(o, output.ReleaseAndGetAddressOf()) != DXGI_ERROR_NOT_FOUND; ++o) {
      DXGI_OUTPUT_DESC desc{};
      if (!output || FAILED(output->GetDesc(&desc))) continue;
      const auto position = static_cast<int>(list.size());
      list.push_back({desc.DeviceName, tr(L"Display ") + std::to_wstring(position) + L": " + desc.DeviceName});
    }
  }
  return list;
}

std::vector<DeviceEntry> EnumerateCameras() {
  std::vector<DeviceEntry> list;
  ComApartment com;
  ComPtr<ICreateDevEnum> system;
  if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER,
                              IID_PPV_ARGS(&system)))) {
    return list;
  }
  ComPtr<IEnumMoniker> monikers;
  if (system->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0) != S_OK || !monikers) {
    return list;
  }
  ComPtr<IMoniker> moniker;
  while (monikers->Next(1, moniker.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
    ComPtr<IPropertyBag> bag;
    if (FAILED(moniker->BindToStorage(nullptr, nullptr, IID_PPV_ARGS(&bag)))) continue;
    Variant name, path;
    if (FAILED(bag->Read(L"FriendlyName", name.get(), nullptr)) || !name.text()) continue;
    if (FAILED(bag->Read(L"DevicePath", path.get(), nullptr)) || !path.text()) continue;
    list.push_back({path.text(), name.text()});
  }
  return list;
}

}  // namespace vistrel
