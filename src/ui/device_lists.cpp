#include "ui/device_lists.h"

#include <propsys.h>
#include <wrl/client.h>

#include <string>
#include <vector>

#include "core/handles.h"
#include "i18n/tr.h"
#include "ui/combo_values.h"

namespace vistrel {
namespace {

using Microsoft::WRL::ComPtr;

// PKEY_Device_FriendlyName, which the import libraries do not define.
constexpr PROPERTYKEY kDeviceFriendlyName = {
    {0xa45c254e, 0xdf1c, 0x4efd, {0x80, 0x20, 0x67, 0xd1, 0x46, 0xa8, 0x50, 0xe0}}, 14};

class PropVariant {
 public:
  PropVariant() { PropVariantInit(&value_); }
  PropVariant(const PropVariant&) = delete;
  PropVariant& operator=(const PropVariant&) = delete;
  ~PropVariant() { PropVariantClear(&value_); }
  PROPVARIANT* put() { return &value_; }
  const wchar_t* text() const { return value_.vt == VT_LPWSTR ? value_.pwszVal : nullptr; }

 private:
  PROPVARIANT value_;
};

// The friendly name and ID of one endpoint; false when either cannot be read.
bool ReadEndpoint(IMMDevice* device, std::wstring& name, std::wstring& id) {
  ComPtr<IPropertyStore> store;
  if (FAILED(device->OpenPropertyStore(STGM_READ, &store))) return false;
  PropVariant friendlyName;
  if (FAILED(store->GetValue(kDeviceFriendlyName, friendlyName.put())) || !friendlyName.text()) {
    return false;
  }
  CoTaskMem<wchar_t> endpointId;
  if (FAILED(device->GetId(endpointId.put())) || !endpointId.get()) return false;
  name = friendlyName.text();
  id = endpointId.get();
  return true;
}

BOOL CALLBACK CollectMonitor(HMONITOR monitor, HDC, LPRECT, LPARAM data) {
  MONITORINFOEXW info{};
  info.cbSize = sizeof info;
  if (GetMonitorInfoW(monitor, &info)) reinterpret_cast<std::vector<MONITORINFOEXW>*>(data)->push_back(info);
  return TRUE;
}

}  // namespace

void FillEndpointList(HWND combo, EDataFlow flow) {
  ClearComboItems(combo);
  AddComboItem(combo, tr(L"Default"), L"Default");
  ComPtr<IMMDeviceEnumerator> enumerator;
  if (FAILED(CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL, IID_PPV_ARGS(&enumerator)))) {
    return;
  }
  ComPtr<IMMDeviceCollection> devices;
  if (FAILED(enumerator->EnumAudioEndpoints(flow, DEVICE_STATE_ACTIVE, &devices))) return;
  UINT count = 0;
  if (FAILED(devices->GetCount(&count))) return;
  for (UINT i = 0; i < count; ++i) {
    ComPtr<IMMDevice> device;
    std::wstring name;
    std::wstring id;
    if (SUCCEEDED(devices->Item(i, &device)) && ReadEndpoint(device.Get(), name, id)) {
      AddComboItem(combo, name, id);
    }
  }
}

void FillScreenList(HWND combo) {
  ClearComboItems(combo);
  AddComboItem(combo, tr(L"Default (Primary)"), L"Default");
  std::vector<MONITORINFOEXW> monitors;
  if (!EnumDisplayMonitors(nullptr, nullptr, CollectMonitor, reinterpret_cast<LPARAM>(&monitors))) return;
  for (size_t i = 0; i < monitors.size(); ++i) {
    const RECT& r = monitors[i].rcMonitor;
    std::wstring text = tr(L"Screen %zu: %ldx%ld", i + 1, r.right - r.left, r.bottom - r.top);
    if (monitors[i].dwFlags & MONITORINFOF_PRIMARY) text += tr(L" (Primary)");
    AddComboItem(combo, text, monitors[i].szDevice);
  }
}

}  // namespace vistrel
