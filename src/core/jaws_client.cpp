#include "core/jaws_client.h"

#include <windows.h>
#include <oleauto.h>

#include <memory>

#include "core/handles.h"

namespace vistrel {
namespace {

Microsoft::WRL::ComPtr<IDispatch> CreateApi() {
  Microsoft::WRL::ComPtr<IDispatch> api;
  for (const wchar_t* progId : {L"FreedomSci.JawsApi", L"jfwapi"}) {
    CLSID clsid{};
    if (FAILED(CLSIDFromProgID(progId, &clsid))) continue;
    if (SUCCEEDED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                                   IID_PPV_ARGS(&api)))) {
      break;
    }
  }
  return api;
}

// JAWS script strings are delimited by double quotes; the text must not end one early.
std::wstring ScriptString(const std::wstring& text) {
  std::wstring quoted = L"\"";
  for (wchar_t c : text) quoted += c == L'"' ? L'\'' : c;
  return quoted + L"\"";
}

}  // namespace

bool JawsRunning() { return FindWindowW(L"JFWUI2", nullptr) != nullptr; }

bool JawsClient::Call(const wchar_t* method, VARIANT* args, UINT count) {
  if (!api_) api_ = CreateApi();
  if (!api_) return false;
  LPOLESTR name = const_cast<LPOLESTR>(method);
  DISPID id = 0;
  if (FAILED(api_->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id))) return false;
  DISPPARAMS params{args, nullptr, count, 0};
  VARIANT result;
  VariantInit(&result);
  const HRESULT hr = api_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result, nullptr,
                                  nullptr);
  if (FAILED(hr)) {
    api_.Reset();  // JAWS may have been restarted: the next call makes the object again
    return false;
  }
  const bool done = result.vt != VT_BOOL || result.boolVal != VARIANT_FALSE;
  VariantClear(&result);
  return done;
}

bool JawsClient::Say(const std::wstring& text) {
  UniqueBstr said(SysAllocString(text.c_str()));
  // Arguments go last first: SayString(text, flush) with flush off, so nothing JAWS says is cut.
  VARIANT args[2];
  args[0].vt = VT_BOOL;
  args[0].boolVal = VARIANT_FALSE;
  args[1].vt = VT_BSTR;
  args[1].bstrVal = said.get();
  return Call(L"SayString", args, 2);
}

bool JawsClient::Braille(const std::wstring& text) {
  UniqueBstr function(SysAllocString((L"BrailleMessage(" + ScriptString(text) + L")").c_str()));
  VARIANT arg;
  arg.vt = VT_BSTR;
  arg.bstrVal = function.get();
  return Call(L"RunFunction", &arg, 1);
}

}  // namespace vistrel
