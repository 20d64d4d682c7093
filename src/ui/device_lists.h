// The lists of the Devices page: audio endpoints and screens.
#pragma once

#include <windows.h>
#include <mmdeviceapi.h>

namespace vistrel {

// "Default" and then every active endpoint of the flow (eCapture or eRender) by friendly name,
// each with its endpoint ID as value. COM must be initialised on this thread.
void FillEndpointList(HWND combo, EDataFlow flow);

// "Default (Primary)" and then every monitor as "Screen N: WxH", each with its device name as value.
void FillScreenList(HWND combo);

}  // namespace vistrel
