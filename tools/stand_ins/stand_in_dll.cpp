// vistrel-stand-in.dll, loaded into the program under test by the system (see stand_in.cpp):
// - the in-process object behind "FreedomSci.JawsApi": SayString, RunFunction and StopSpeech by
//   name through IDispatch, each written down in the record file named in the class's registry key;
// - RefuseOverlayHook, a CBT hook that refuses the creation of the free-form selection overlay.
#include <windows.h>
#include <oaidl.h>

#include <string>

namespace {

constexpr wchar_t kRecordKey[] = L"Software\\Classes\\CLSID\\{6F1C2A54-3B7D-4E8A-9C21-5D0E7B4A9F13}\\Record";
// {6F1C2A54-3B7D-4E8A-9C21-5D0E7B4A9F13}
constexpr CLSID kClsid = {0x6F1C2A54, 0x3B7D, 0x4E8A, {0x9C, 0x21, 0x5D, 0x0E, 0x7B, 0x4A, 0x9F, 0x13}};

enum : DISPID { kSayString = 1, kRunFunction, kStopSpeech };

void Record(const wchar_t* what, const wchar_t* text) {
  wchar_t path[MAX_PATH] = {};
  DWORD size = sizeof path;
  if (RegGetValueW(HKEY_CURRENT_USER, kRecordKey, nullptr, RRF_RT_REG_SZ, nullptr, path, &size) != ERROR_SUCCESS) return;
  const std::wstring line = std::wstring(what) + L"\t" + (text ? text : L"") + L"\n";
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), utf8.data(), bytes, nullptr, nullptr);
  HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
  CloseHandle(file);
}

// An object that lives as long as the DLL: its references are not counted.
template <typename Interface>
class Static : public Interface {
 public:
  HRESULT __stdcall QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = iid == IID_IUnknown || iid == __uuidof(Interface) ? static_cast<Interface*>(this) : nullptr;
    return *out ? S_OK : E_NOINTERFACE;
  }
  ULONG __stdcall AddRef() override { return 1; }
  ULONG __stdcall Release() override { return 1; }
};

class JawsApi final : public Static<IDispatch> {
 public:
  HRESULT __stdcall GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT __stdcall GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT __stdcall GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    if (count != 1) return DISP_E_UNKNOWNNAME;
    const std::wstring name = names[0];
    ids[0] = name == L"SayString" ? kSayString : name == L"RunFunction" ? kRunFunction
           : name == L"StopSpeech" ? kStopSpeech : DISPID_UNKNOWN;
    return ids[0] == DISPID_UNKNOWN ? DISP_E_UNKNOWNNAME : S_OK;
  }
  HRESULT __stdcall Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                           UINT*) override {
    // The first argument is the last in the array.
    const VARIANT* first = params && params->cArgs ? &params->rgvarg[params->cArgs - 1] : nullptr;
    const wchar_t* text = first && first->vt == VT_BSTR ? first->bstrVal : nullptr;
    switch (id) {
      case kSayString: Record(L"SayString", text); break;
      case kRunFunction: Record(L"RunFunction", text); break;
      case kStopSpeech: Record(L"StopSpeech", nullptr); break;
      default: return DISP_E_MEMBERNOTFOUND;
    }
    if (result) {
      result->vt = VT_BOOL;
      result->boolVal = VARIANT_TRUE;
    }
    return S_OK;
  }
};

class Factory final : public Static<IClassFactory> {
 public:
  HRESULT __stdcall CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    if (outer) return CLASS_E_NOAGGREGATION;
    static JawsApi api;
    return api.QueryInterface(iid, out);
  }
  HRESULT __stdcall LockServer(BOOL) override { return S_OK; }
};

}  // namespace

extern "C" __declspec(dllexport) HRESULT __stdcall DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  static Factory factory;
  if (clsid != kClsid) return CLASS_E_CLASSNOTAVAILABLE;
  return factory.QueryInterface(iid, out);
}

extern "C" __declspec(dllexport) HRESULT __stdcall DllCanUnloadNow() { return S_FALSE; }

extern "C" __declspec(dllexport) LRESULT CALLBACK RefuseOverlayHook(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_CREATEWND) {
    wchar_t name[64] = {};
    GetClassNameW(reinterpret_cast<HWND>(wParam), name, 64);
    if (std::wstring(name) == L"FreeFormSelectWindowClass") return 1;
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}
