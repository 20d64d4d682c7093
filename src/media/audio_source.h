// One WASAPI capture source: a microphone, or a render endpoint recorded by loopback, converted
// to 48 kHz stereo planar float into a sample FIFO.
#pragma once

#include <audioclient.h>
#include <endpointvolume.h>
#include <mmdeviceapi.h>
#include <wrl/client.h>

#include <string>

#include "media/ffmpeg_util.h"
#include "core/handles.h"

namespace vistrel {

struct AudioSource {
  bool isInput = true;  // false: system audio through loopback
  Microsoft::WRL::ComPtr<IMMDevice> device;
  Microsoft::WRL::ComPtr<IAudioClient> client;
  Microsoft::WRL::ComPtr<IAudioCaptureClient> captureClient;
  CoTaskMem<WAVEFORMATEX> mixFormat;
  SwrPtr resampler;
  FifoPtr fifo;

  AudioSource() = default;
  AudioSource(const AudioSource&) = delete;
  AudioSource& operator=(const AudioSource&) = delete;
  ~AudioSource() { Release(); }

  bool ready() const { return captureClient && resampler && fifo && mixFormat.get(); }
  void Start() { if (client) client->Start(); }
  void Stop() { if (client) client->Stop(); }
  // Stops the stream and frees everything in a fixed order.
  void Release();
};

// Opens the endpoint named by `deviceId` ("Default" or empty: the default console endpoint of the
// flow), falling back once to the default. `endpointVolume`, when given for a loopback source,
// receives the endpoint's volume control (left empty when unavailable). Log lines carry `prefix`
// ("AudioRecorder: " or "Recorder: ").
HRESULT InitAudioDevice(const wchar_t* prefix, bool isInput, const std::wstring& deviceId,
                        AudioSource& source,
                        Microsoft::WRL::ComPtr<IAudioEndpointVolume>* endpointVolume);

// The converter from the source's mix format to the mix format.
HRESULT InitAudioResampler(const wchar_t* prefix, AudioSource& source);

// The source's sample FIFO; false when it cannot be allocated.
bool CreateSourceFifo(AudioSource& source);

// Reads every queued packet into the FIFO.
HRESULT DrainCaptureClient(const wchar_t* prefix, AudioSource& source);

}  // namespace vistrel
