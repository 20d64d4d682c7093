// The devices a track can name: audio endpoints, screens and cameras, each as (identifier, name)
// pairs in the order the system reports them. Every call enumerates afresh and reports no error: a
// failing subsystem just gives a shorter list.
#pragma once

#include <string>
#include <vector>

namespace vistrel {

struct DeviceEntry {
  std::wstring id;    // stored in the track
  std::wstring name;  // shown to the user
};

// Active endpoints of one data flow (eCapture for inputs, eRender for outputs), after
// ("Default", "Default Device").
std::vector<DeviceEntry> EnumerateAudioDevices(int dataFlow);
// DXGI outputs adapter by adapter, named "Display N: \\.\DISPLAYn", after ("Default", "Primary
// Display").
std::vector<DeviceEntry> EnumerateDisplays();
// Video-capture devices by their DirectShow device path; empty without cameras.
std::vector<DeviceEntry> EnumerateCameras();

}  // namespace vistrel
