// One WASAPI capture source: a microphone, or a render endpoint recorded by loopback, converted
// to 48 kHz stereo planar float into a sample FIFO.
#pragma once

#include <audioclient.h>
#include <endpointvolume.h>
#include <mmdeviceapi.h>
#include <wrl/client.h>

#include <cstdint>
#include <string>

#include "media/audio_endpoints.h"
#include "media/ffmpeg_util.h"
#include "core/handles.h"

namespace vistrel {

struct AudioSource {
  bool isInput = true;  // false: system audio through loopback
  bool followsDefault = true;  // asked for the default endpoint (or fell back to it)
  bool replacedChosen = false; // the chosen endpoint was unknown or not active: the default stands in
  std::wstring openedId;       // the endpoint opened
  bool capturing = false;      // started and not stopped
  bool lost = false;           // its endpoint went away: it gives nothing until it is back
  // Times in milliseconds of the audio endpoints' clock (CurrentAudioEndpoints().NowMs()).
  std::uint64_t lastCheck = 0;     // of the last look at the endpoint's state
  std::uint64_t lastPacket = 0;    // of the last packet (or of the start of capture)
  std::uint64_t reconnectedAt = 0; // when a lost source was opened again
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
  void Start() {
    capturing = true;
    lastPacket = CurrentAudioEndpoints().NowMs();
    if (client) client->Start();
  }
  void Stop() {
    capturing = false;
    if (client) client->Stop();
  }
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

// Reads every queued packet into the FIFO; the client's failure when it stops answering (the device
// went away), S_FALSE for a source that has been lost. A loopback stream hands over nothing while
// nothing plays: the recording clock fills that time with silence.
HRESULT DrainCaptureClient(const wchar_t* prefix, AudioSource& source);

enum class SourceChange {
  kNone,
  kLost,             // the endpoint went away: nothing is captured from it any more
  kBack,             // a lost endpoint came back and is captured again
  kFollowedDefault,  // a default source now captures the endpoint that became the default
};

// After a drain that gave `drained`: a client that failed has lost its device, and so has a
// microphone's stream that hands over nothing for seconds (a capture endpoint delivers all the
// time, silence included; a loopback stream that delivers nothing is only silence). Also looks, at
// most every two seconds, whether the source's endpoint is still there, whether a lost one came
// back, and whether a source that follows the default should move to another default endpoint.
// The FIFO stays, so the recording goes on where it was; the caller tells the user what changed.
SourceChange WatchAudioSource(const wchar_t* prefix, AudioSource& source, HRESULT drained);

}  // namespace vistrel
