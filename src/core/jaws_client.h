// Speech (and braille) through JAWS's scripting object, "FreedomSci.JawsApi": an IDispatch object
// that JAWS installs, called by name so that no type library is needed. JAWS runs when a window of
// the class "JFWUI2" exists. Use from one COM apartment (the announcer's thread).
#pragma once

#include <oaidl.h>
#include <wrl/client.h>

#include <string>

namespace vistrel {

bool JawsRunning();

class JawsClient {
 public:
  // True when JAWS said the text. The object is made on first use and made again after a failure.
  bool Say(const std::wstring& text);
  // Shows the text on the braille display through JAWS's own BrailleMessage script function.
  bool Braille(const std::wstring& text);

 private:
  bool Call(const wchar_t* method, VARIANT* args, UINT count);

  Microsoft::WRL::ComPtr<IDispatch> api_;
};

}  // namespace vistrel
