#include "media/audio_source.h"

#include <ks.h>
#include <ksmedia.h>

#include "media/audio_endpoints.h"
#include "media/audio_mix.h"
#include "core/log.h"

extern "C" {
#include <libavutil/channel_layout.h>
}

using Microsoft::WRL::ComPtr;

namespace vistrel {
namespace {

constexpr REFERENCE_TIME kBufferDuration = 10000000;  // one second
constexpr HRESULT kElementNotFound = static_cast<HRESULT>(0x80070490);
constexpr std::uint64_t kStallMs = 2000;   // a microphone's stream that gives nothing this long is broken
constexpr std::uint64_t kCheckMs = 2000;   // how often an endpoint's state is looked at

const wchar_t* SourceName(bool isInput) { return isInput ? L"Microphone" : L"System Audio"; }

HRESULT OpenEndpoint(const wchar_t* prefix, IMMDeviceEnumerator* enumerator, bool isInput,
                     const std::wstring& deviceId, ComPtr<IMMDevice>& device, bool& replaced) {
  HRESULT hr = E_FAIL;
  replaced = false;
  if (!deviceId.empty() && deviceId != L"Default") {
    LogMessage(L" -> Using selected device with ID: " + deviceId);
    hr = enumerator->GetDevice(deviceId.c_str(), device.ReleaseAndGetAddressOf());
    DWORD state = 0;
    if (FAILED(hr)) {
      LogMessage(std::wstring(prefix) + L"[WARNING] Failed to get selected audio device. Falling back to default.");
      replaced = true;
    } else if (FAILED(device->GetState(&state)) || state != DEVICE_STATE_ACTIVE) {
      // Windows still knows an unplugged or disabled endpoint, but nothing can be recorded from it.
      LogMessage(std::wstring(prefix) + L"[WARNING] Selected audio device is not active (state " +
                 std::to_wstring(state) + L"). Falling back to default.");
      device.Reset();
      replaced = true;
    }
  } else {
    LogMessage(L" -> Using default device.");
  }
  if (!device) {
    hr = enumerator->GetDefaultAudioEndpoint(isInput ? eCapture : eRender, eConsole,
                                             device.ReleaseAndGetAddressOf());
  }
  return device ? S_OK : hr;
}

std::wstring EndpointId(IMMDevice* device) {
  CoTaskMem<wchar_t> id;
  if (!device || FAILED(device->GetId(id.put())) || !id.get()) return {};
  return id.get();
}

AVSampleFormat ToFfmpeg(CaptureSampleFormat format) {
  switch (format) {
    case CaptureSampleFormat::S16: return AV_SAMPLE_FMT_S16;
    case CaptureSampleFormat::S32: return AV_SAMPLE_FMT_S32;
    case CaptureSampleFormat::Float: return AV_SAMPLE_FMT_FLT;
    case CaptureSampleFormat::Double: return AV_SAMPLE_FMT_DBL;
    default: return AV_SAMPLE_FMT_NONE;
  }
}

const WAVEFORMATEXTENSIBLE* Extensible(const WAVEFORMATEX* format) {
  if (format->wFormatTag != WAVE_FORMAT_EXTENSIBLE || format->cbSize < 22) return nullptr;
  return reinterpret_cast<const WAVEFORMATEXTENSIBLE*>(format);
}

AVSampleFormat InputSampleFormat(const WAVEFORMATEX* format) {
  const WAVEFORMATEXTENSIBLE* ext = Extensible(format);
  const bool isFloat = ext && IsEqualGUID(ext->SubFormat, KSDATAFORMAT_SUBTYPE_IEEE_FLOAT);
  const bool isPcm = ext && IsEqualGUID(ext->SubFormat, KSDATAFORMAT_SUBTYPE_PCM);
  const std::uint16_t tag = format->wFormatTag == WAVE_FORMAT_EXTENSIBLE && !ext ? 0 : format->wFormatTag;
  return ToFfmpeg(CaptureFormatOf(tag, format->wBitsPerSample, isFloat, isPcm));
}

}  // namespace

void AudioSource::Release() {
  capturing = false;
  if (client) client->Stop();
  resampler.reset();
  fifo.reset();
  mixFormat.put();
  captureClient.Reset();
  client.Reset();
  device.Reset();
}

HRESULT InitAudioDevice(const wchar_t* prefix, bool isInput, const std::wstring& deviceId,
                        AudioSource& source, ComPtr<IAudioEndpointVolume>* endpointVolume) {
  const std::wstring name = SourceName(isInput);
  source.isInput = isInput;
  LogMessage(std::wstring(prefix) + L"Initializing " + name + L".");
  ComPtr<IMMDeviceEnumerator> enumerator;
  HRESULT hr = CurrentAudioEndpoints().CreateEnumerator(enumerator);
  if (FAILED(hr)) {
    LogHresultError(prefix, L"CoCreateInstance for MMDeviceEnumerator", hr);
    return hr;
  }
  hr = OpenEndpoint(prefix, enumerator.Get(), isInput, deviceId, source.device, source.replacedChosen);
  if (FAILED(hr)) {
    LogHresultError(prefix, L"GetAudioEndpoint for " + name, hr);
    if (hr == kElementNotFound) LogMessage(L" -> Audio endpoint not found. Is it connected and enabled?");
    source.Release();
    return hr;
  }
  source.openedId = EndpointId(source.device.Get());
  source.followsDefault = deviceId.empty() || deviceId == L"Default" || source.openedId != deviceId;
  source.lost = false;
  source.lastCheck = CurrentAudioEndpoints().NowMs();
  hr = source.device->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr,
                               reinterpret_cast<void**>(source.client.ReleaseAndGetAddressOf()));
  if (FAILED(hr)) {
    LogHresultError(prefix, L"Activate IAudioClient for " + name, hr);
    source.Release();
    return hr;
  }
  LogMessage(L" -> Activated IAudioClient.");
  if (!isInput && endpointVolume) {
    endpointVolume->Reset();
    const HRESULT volume = source.device->Activate(
        __uuidof(IAudioEndpointVolume), CLSCTX_ALL, nullptr,
        reinterpret_cast<void**>(endpointVolume->ReleaseAndGetAddressOf()));
    if (SUCCEEDED(volume)) {
      LogMessage(L" -> Activated IAudioEndpointVolume for system audio.");
    } else {
      LogHresultError(prefix, L"Activate IAudioEndpointVolume for System Audio", volume);
      endpointVolume->Reset();
    }
  }
  hr = source.client->GetMixFormat(source.mixFormat.put());
  if (FAILED(hr)) {
    LogHresultError(prefix, L"GetMixFormat for " + name, hr);
    source.Release();
    return hr;
  }
  const WAVEFORMATEX* format = source.mixFormat.get();
  LogMessage(L" -> Found mix format: " + std::to_wstring(format->nSamplesPerSec) + L" Hz, " +
             std::to_wstring(format->nChannels) + L" channels, " + std::to_wstring(format->wBitsPerSample) +
             L" bits/sample, format tag " + std::to_wstring(format->wFormatTag) + L".");
  hr = source.client->Initialize(AUDCLNT_SHAREMODE_SHARED, isInput ? 0 : AUDCLNT_STREAMFLAGS_LOOPBACK,
                                 kBufferDuration, 0, format, nullptr);
  if (FAILED(hr)) {
    LogHresultError(prefix, L"IAudioClient->Initialize for " + name, hr);
    source.Release();
    return hr;
  }
  LogMessage(L" -> Initialized IAudioClient in shared mode.");
  hr = source.client->GetService(IID_PPV_ARGS(&source.captureClient));
  if (FAILED(hr)) {
    LogHresultError(prefix, L"GetService for IAudioCaptureClient for " + name, hr);
    source.Release();
    return hr;
  }
  LogMessage(L" -> Got IAudioCaptureClient service.");
  return S_OK;
}

namespace {

// The converter from `format` to the mix format.
HRESULT MakeResampler(const wchar_t* prefix, const WAVEFORMATEX* format, SwrPtr& resampler) {
  if (!format) return E_POINTER;
  const AVSampleFormat inputFormat = InputSampleFormat(format);
  if (inputFormat == AV_SAMPLE_FMT_NONE) {
    LogMessage(L"InitAudioResampler: [ERROR] Unsupported input WASAPI format.");
    return E_FAIL;
  }
  AVChannelLayout inputLayout{};
  const WAVEFORMATEXTENSIBLE* ext = Extensible(format);
  if (!ext || av_channel_layout_from_mask(&inputLayout, ext->dwChannelMask) < 0 ||
      inputLayout.nb_channels != format->nChannels) {
    av_channel_layout_uninit(&inputLayout);
    av_channel_layout_default(&inputLayout, format->nChannels);
  }
  AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
  SwrContext* swr = nullptr;
  const int result = swr_alloc_set_opts2(&swr, &stereo, AV_SAMPLE_FMT_FLTP, kMixSampleRate, &inputLayout,
                                         inputFormat, static_cast<int>(format->nSamplesPerSec), 0, nullptr);
  av_channel_layout_uninit(&inputLayout);
  SwrPtr made(swr);
  if (result < 0) {
    LogFfmpegError(prefix, L"swr_alloc_set_opts2", result);
    return E_FAIL;
  }
  if (!made) {
    LogMessage(L"InitAudioResampler: [ERROR] swr_alloc_set_opts2 returned null.");
    return E_FAIL;
  }
  const int init = swr_init(made.get());
  if (init < 0) {
    LogFfmpegError(prefix, L"swr_init", init);
    return E_FAIL;
  }
  resampler = std::move(made);
  return S_OK;
}

// The client of `endpoint`, opened as InitAudioDevice does, with its converter, in place of the
// source's; the FIFO and the capture state stay. On failure the source is left as it was.
HRESULT ReopenOn(const wchar_t* prefix, AudioSource& source, ComPtr<IMMDevice> endpoint) {
  ComPtr<IAudioClient> client;
  ComPtr<IAudioCaptureClient> captureClient;
  CoTaskMem<WAVEFORMATEX> format;
  SwrPtr resampler;
  HRESULT hr = endpoint->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr,
                                  reinterpret_cast<void**>(client.GetAddressOf()));
  if (SUCCEEDED(hr)) hr = client->GetMixFormat(format.put());
  if (SUCCEEDED(hr)) {
    hr = client->Initialize(AUDCLNT_SHAREMODE_SHARED, source.isInput ? 0 : AUDCLNT_STREAMFLAGS_LOOPBACK,
                            kBufferDuration, 0, format.get(), nullptr);
  }
  if (SUCCEEDED(hr)) hr = client->GetService(IID_PPV_ARGS(&captureClient));
  if (FAILED(hr)) {
    LogHresultError(prefix, L"Reopening " + std::wstring(SourceName(source.isInput)), hr);
    return hr;
  }
  if (FAILED(hr = MakeResampler(prefix, format.get(), resampler))) return hr;
  if (source.client) source.client->Stop();
  source.captureClient = std::move(captureClient);
  source.client = std::move(client);
  source.device = std::move(endpoint);
  *source.mixFormat.put() = format.release();
  source.resampler = std::move(resampler);
  source.openedId = EndpointId(source.device.Get());
  if (source.capturing) source.client->Start();
  return S_OK;
}

// Nothing is captured from a lost endpoint; the FIFO keeps what came before.
void Disconnect(AudioSource& source) {
  if (source.client) source.client->Stop();
  source.captureClient.Reset();
  source.client.Reset();
  source.device.Reset();
  source.lost = true;
}

}  // namespace

SourceChange WatchAudioSource(const wchar_t* prefix, AudioSource& source, HRESULT drained) {
  const std::uint64_t now = CurrentAudioEndpoints().NowMs();
  const wchar_t* name = SourceName(source.isInput);
  const auto logGone = [&] {
    LogMessage(std::wstring(prefix) + L"[WARNING] " + name + L" is gone; its part of the recording is silent until it is back.");
  };
  // A reconnected microphone is back once it delivers again.
  if (source.lost && source.captureClient && SUCCEEDED(drained) && source.lastPacket > source.reconnectedAt) {
    source.lost = false;
    LogMessage(std::wstring(prefix) + name + L" is back and captured again.");
    return SourceChange::kBack;
  }
  // A client that fails has lost its device (AUDCLNT_E_DEVICE_INVALIDATED). A microphone's stream
  // hands over a packet every few milliseconds, silence included, so one that has given nothing for
  // seconds has lost its device too. A loopback stream hands over nothing while nothing plays: that
  // is silence, not a lost device.
  const bool stalled = source.isInput && now - source.lastPacket > kStallMs;
  if (source.captureClient && source.capturing && (FAILED(drained) || stalled)) {
    const bool first = !source.lost;
    if (first && FAILED(drained)) LogHresultError(prefix, std::wstring(name) + L" capture", drained);
    Disconnect(source);
    if (!first) return SourceChange::kNone;
    logGone();
    return SourceChange::kLost;
  }
  if (now - source.lastCheck < kCheckMs) return SourceChange::kNone;
  source.lastCheck = now;
  ComPtr<IMMDeviceEnumerator> enumerator;
  if (FAILED(CurrentAudioEndpoints().CreateEnumerator(enumerator))) return SourceChange::kNone;
  ComPtr<IMMDevice> wanted;
  if (source.followsDefault) {
    enumerator->GetDefaultAudioEndpoint(source.isInput ? eCapture : eRender, eConsole, &wanted);
  } else {
    enumerator->GetDevice(source.openedId.c_str(), &wanted);
  }
  DWORD state = 0;
  const bool active = wanted && SUCCEEDED(wanted->GetState(&state)) && state == DEVICE_STATE_ACTIVE;
  if (source.lost) {
    if (!active || source.captureClient || FAILED(ReopenOn(prefix, source, wanted))) return SourceChange::kNone;
    source.reconnectedAt = source.lastPacket = now;
    // A microphone is heard of once it delivers; a loopback stream may rightly stay silent.
    if (source.isInput) return SourceChange::kNone;
    source.lost = false;
    LogMessage(std::wstring(prefix) + name + L" is back and captured again.");
    return SourceChange::kBack;
  }
  if (!active) {
    logGone();
    Disconnect(source);
    return SourceChange::kLost;
  }
  // A source that cannot follow the new default goes on with the endpoint it has while it lasts.
  if (EndpointId(wanted.Get()) == source.openedId || FAILED(ReopenOn(prefix, source, wanted))) {
    return SourceChange::kNone;
  }
  source.lastPacket = now;
  LogMessage(std::wstring(prefix) + name + L" follows the new default device.");
  return SourceChange::kFollowedDefault;
}

HRESULT InitAudioResampler(const wchar_t* prefix, AudioSource& source) {
  return MakeResampler(prefix, source.mixFormat.get(), source.resampler);
}

bool CreateSourceFifo(AudioSource& source) {
  source.fifo.reset(av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, kMixChannels, 1));
  return source.fifo != nullptr;
}

HRESULT DrainCaptureClient(const wchar_t* prefix, AudioSource& source) {
  if (!source.ready()) return source.lost ? S_FALSE : E_POINTER;
  const WAVEFORMATEX* format = source.mixFormat.get();
  for (;;) {
    UINT32 packetFrames = 0;
    HRESULT hr = source.captureClient->GetNextPacketSize(&packetFrames);
    if (FAILED(hr)) return hr;  // the device went away (AUDCLNT_E_DEVICE_INVALIDATED) or broke
    if (packetFrames == 0) return S_OK;
    source.lastPacket = CurrentAudioEndpoints().NowMs();
    BYTE* data = nullptr;
    UINT32 frames = 0;
    DWORD flags = 0;
    hr = source.captureClient->GetBuffer(&data, &frames, &flags, nullptr, nullptr);
    if (FAILED(hr)) return hr;
    if (hr == AUDCLNT_S_BUFFER_EMPTY) return S_OK;
    const auto expected = static_cast<int>(ConvertedSampleCount(frames, static_cast<int>(format->nSamplesPerSec)));
    const int capacity = expected + 16;  // head-room for what the resampler holds back
    SampleBufferPtr buffer = AllocateMixSamples(capacity);
    int produced = 0;
    if (buffer && (flags & AUDCLNT_BUFFERFLAGS_SILENT)) {
      // Silence lasts exactly as long as the packet, so the source keeps its place in time.
      produced = expected;
    } else if (buffer) {
      const std::uint8_t* input[] = {data};
      produced = swr_convert(source.resampler.get(), buffer.get(), capacity, input, static_cast<int>(frames));
      if (produced < 0) {
        LogFfmpegError(prefix, L"swr_convert", produced);
        produced = 0;
      }
    }
    if (produced > 0) {
      av_audio_fifo_write(source.fifo.get(), reinterpret_cast<void**>(buffer.get()), produced);
    }
    source.captureClient->ReleaseBuffer(frames);
  }
}

}  // namespace vistrel
