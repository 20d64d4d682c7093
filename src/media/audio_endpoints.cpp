#include "media/audio_endpoints.h"

#include <atomic>

namespace vistrel {
namespace {

AudioEndpoints g_system;
std::atomic<AudioEndpoints*> g_current{&g_system};

}  // namespace

HRESULT AudioEndpoints::CreateEnumerator(Microsoft::WRL::ComPtr<IMMDeviceEnumerator>& enumerator) {
  return CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_INPROC_SERVER,
                          IID_PPV_ARGS(enumerator.ReleaseAndGetAddressOf()));
}

std::uint64_t AudioEndpoints::NowMs() { return GetTickCount64(); }

AudioEndpoints& CurrentAudioEndpoints() { return *g_current.load(); }

void UseAudioEndpoints(AudioEndpoints* endpoints) { g_current.store(endpoints ? endpoints : &g_system); }

}  // namespace vistrel
