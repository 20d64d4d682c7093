// Device verbs of vistrel-driver:
//   vistrel-driver endpoints capture|render   one active audio endpoint a line: "<id>\t<friendly name>"
#include <windows.h>
#include <mmdeviceapi.h>
#include <wrl/client.h>

#include <string>

#include "driver.h"

using Microsoft::WRL::ComPtr;

namespace {

// PKEY_Device_FriendlyName, spelled out so that no translation unit has to instantiate the GUID.
const PROPERTYKEY kFriendlyName = {{0xa45c254e, 0xdf1c, 0x4efd, {0x80, 0x20, 0x67, 0xd1, 0x46, 0xa8, 0x50, 0xe0}}, 14};

int Endpoints(const std::wstring& flow) {
  if (flow != L"capture" && flow != L"render") return 2;
  if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 1;
  int code = 1;
  {
    ComPtr<IMMDeviceEnumerator> enumerator;
    ComPtr<IMMDeviceCollection> devices;
    UINT count = 0;
    if (SUCCEEDED(CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL, IID_PPV_ARGS(&enumerator))) &&
        SUCCEEDED(enumerator->EnumAudioEndpoints(flow == L"capture" ? eCapture : eRender, DEVICE_STATE_ACTIVE,
                                                 &devices)) &&
        SUCCEEDED(devices->GetCount(&count))) {
      code = 0;
      for (UINT i = 0; i < count; ++i) {
        ComPtr<IMMDevice> device;
        ComPtr<IPropertyStore> store;
        wchar_t* id = nullptr;
        if (FAILED(devices->Item(i, &device)) || FAILED(device->GetId(&id))) continue;
        PROPVARIANT name;
        PropVariantInit(&name);
        if (SUCCEEDED(device->OpenPropertyStore(STGM_READ, &store)) &&
            SUCCEEDED(store->GetValue(kFriendlyName, &name)) && name.vt == VT_LPWSTR) {
          PrintUtf8Line((std::wstring(id) + L"\t" + name.pwszVal).c_str());
        }
        PropVariantClear(&name);
        CoTaskMemFree(id);
      }
    }
  }
  CoUninitialize();
  return code;
}

}  // namespace

int RunDeviceCommand(const Options& o) {
  if (o.words[0] == L"endpoints" && o.words.size() == 2) return Endpoints(o.words[1]);
  return -1;
}
