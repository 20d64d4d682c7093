// Where the recorders meet the Windows audio system: the MMDevice enumerator, through which they
// reach every endpoint, audio client and capture client, and the clock by which the sources keep
// watch over their endpoints. The system's own by default; tests install scripted ones that behave
// as Windows documents where Wine cannot (loopback capture, unplugged devices).
#pragma once

#include <mmdeviceapi.h>
#include <wrl/client.h>

#include <cstdint>

namespace vistrel {

class AudioEndpoints {
 public:
  virtual ~AudioEndpoints() = default;
  // A device enumerator (CoCreateInstance of MMDeviceEnumerator).
  virtual HRESULT CreateEnumerator(Microsoft::WRL::ComPtr<IMMDeviceEnumerator>& enumerator);
  // Milliseconds of a monotonic clock (GetTickCount64).
  virtual std::uint64_t NowMs();
};

// The endpoints in use: the system's unless others were installed.
AudioEndpoints& CurrentAudioEndpoints();
// Installs `endpoints` (null: the system's again); only while nothing records.
void UseAudioEndpoints(AudioEndpoints* endpoints);

}  // namespace vistrel
