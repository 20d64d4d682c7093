// The recorders' audio against Windows behaviour that Wine cannot produce, through scripted Core
// Audio objects: a loopback stream that hands over nothing while nothing plays, a chosen microphone
// that Windows still knows but is unplugged, a device that is invalidated while a pause stops its
// stream, and a device that comes back in a format that cannot be converted. The recording runs
// through the real session, backend and encoder on a clock five times as fast as the wall clock.
#include <windows.h>
#include <audioclient.h>
#include <mmdeviceapi.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cwchar>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "audio/audio_backend.h"
#include "core/wave_data.h"
#include "i18n/msgid.h"
#include "media/audio_endpoints.h"
#include "media/audio_source.h"
#include "media/muxed_file.h"
#include "media/source_track.h"
#include "recording/recording_session.h"
#include "test_support.h"

namespace vistrel {
namespace {

using namespace std::chrono_literals;

constexpr std::uint64_t kSpeed = 5;    // scripted milliseconds per real one
constexpr UINT32 kPacketFrames = 480;  // 10 ms at 48 kHz

bool Eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit = 5s) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition() && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(1ms);
  return condition();
}

class ScriptedAudio;

// An endpoint as Windows keeps it: found by its identifier whatever its state. Scripted objects
// belong to the script, which frees them at its end, so they count no references.
struct Endpoint final : IMMDevice {
  Endpoint(ScriptedAudio& audio, std::wstring id, EDataFlow flow) : audio(audio), id(std::move(id)), flow(flow) {}
  STDMETHODIMP QueryInterface(REFIID, void** object) override { return *object = nullptr, E_NOINTERFACE; }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP Activate(REFIID iid, DWORD, PROPVARIANT*, void** object) override;
  STDMETHODIMP OpenPropertyStore(DWORD, IPropertyStore**) override { return E_NOTIMPL; }
  STDMETHODIMP GetId(LPWSTR* out) override {
    *out = static_cast<LPWSTR>(CoTaskMemAlloc((id.size() + 1) * sizeof(wchar_t)));
    wcscpy(*out, id.c_str());
    return S_OK;
  }
  STDMETHODIMP GetState(DWORD* out) override { return *out = state, S_OK; }

  ScriptedAudio& audio;
  const std::wstring id;
  const EDataFlow flow;
  std::atomic<DWORD> state{DEVICE_STATE_ACTIVE};
  std::atomic<bool> invalidated{false};  // its streams answer AUDCLNT_E_DEVICE_INVALIDATED
  WORD bits = 32;                        // of its mix format: 32 is float, other sizes integer PCM
  // Whether something plays at this time (ms since its first stream started). Meanwhile a loopback
  // stream hands over nothing, a capture stream packets flagged silent.
  std::function<bool(std::int64_t)> playing = [](std::int64_t) { return true; };
  std::atomic<std::int64_t> origin{-1};
};

class ScriptedAudio final : public AudioEndpoints, public IMMDeviceEnumerator {
 public:
  ScriptedAudio() { UseAudioEndpoints(this); }
  ~ScriptedAudio() override { UseAudioEndpoints(nullptr); }

  HRESULT CreateEnumerator(Microsoft::WRL::ComPtr<IMMDeviceEnumerator>& enumerator) override {
    enumerator = this;
    return S_OK;
  }
  std::uint64_t NowMs() override { return (GetTickCount64() - origin_) * kSpeed + advanced_; }
  void Advance(std::uint64_t ms) { advanced_ += ms; }

  // The first endpoint of a flow is its default.
  Endpoint& Add(const std::wstring& id, EDataFlow flow) {
    std::lock_guard guard(lock_);
    endpoints_.push_back(std::make_unique<Endpoint>(*this, id, flow));
    if (defaults_[flow].empty()) defaults_[flow] = id;
    return *endpoints_.back();
  }
  void SetDefault(EDataFlow flow, const std::wstring& id) {
    std::lock_guard guard(lock_);
    defaults_[flow] = id;
  }
  template <typename T>
  T* Keep(std::shared_ptr<T> object) {
    std::lock_guard guard(lock_);
    streams_.push_back(object);
    return object.get();
  }

  STDMETHODIMP QueryInterface(REFIID, void** object) override { return *object = nullptr, E_NOINTERFACE; }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP GetDefaultAudioEndpoint(EDataFlow flow, ERole, IMMDevice** device) override {
    std::wstring id;
    {
      std::lock_guard guard(lock_);
      id = defaults_[flow];
    }
    return GetDevice(id.c_str(), device);
  }
  STDMETHODIMP GetDevice(LPCWSTR id, IMMDevice** device) override {
    std::lock_guard guard(lock_);
    for (const auto& endpoint : endpoints_) {
      if (endpoint->id == id) return *device = endpoint.get(), S_OK;
    }
    return *device = nullptr, HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
  }
  STDMETHODIMP EnumAudioEndpoints(EDataFlow, DWORD, IMMDeviceCollection**) override { return E_NOTIMPL; }
  STDMETHODIMP RegisterEndpointNotificationCallback(IMMNotificationClient*) override { return E_NOTIMPL; }
  STDMETHODIMP UnregisterEndpointNotificationCallback(IMMNotificationClient*) override { return E_NOTIMPL; }

  std::function<void()> onStop;  // called inside every IAudioClient::Stop, on the caller's thread
  std::atomic<int> faults{0};    // a stream released while it is stopped, or stopped once released

 private:
  const ULONGLONG origin_ = GetTickCount64();
  std::atomic<std::uint64_t> advanced_{0};
  std::mutex lock_;
  std::vector<std::unique_ptr<Endpoint>> endpoints_;
  std::map<EDataFlow, std::wstring> defaults_;
  std::vector<std::shared_ptr<void>> streams_;
};

// A stream of an endpoint, its audio client and capture client in one: packets of 10 ms from its
// start with a tone at half scale (440 Hz from a microphone, 660 Hz from loopback), and while nothing
// plays none from loopback (the first packet after such a pause is marked as a discontinuity) and
// silent ones from a microphone.
class Stream final : public IAudioClient, public IAudioCaptureClient {
 public:
  explicit Stream(Endpoint& endpoint) : endpoint_(endpoint) {}

  STDMETHODIMP QueryInterface(REFIID, void** object) override { return *object = nullptr, E_NOINTERFACE; }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override {
    const ULONG left = --refs_;
    if (left == 0 && stopping_ > 0) ++endpoint_.audio.faults;
    return left;
  }

  STDMETHODIMP Initialize(AUDCLNT_SHAREMODE, DWORD flags, REFERENCE_TIME, REFERENCE_TIME, const WAVEFORMATEX*,
                          LPCGUID) override {
    // A render endpoint is captured only through loopback.
    return ((flags & AUDCLNT_STREAMFLAGS_LOOPBACK) != 0) == (endpoint_.flow == eRender) ? Valid()
                                                                                        : AUDCLNT_E_WRONG_ENDPOINT_TYPE;
  }
  STDMETHODIMP GetMixFormat(WAVEFORMATEX** format) override {
    auto* ext = static_cast<WAVEFORMATEXTENSIBLE*>(CoTaskMemAlloc(sizeof(WAVEFORMATEXTENSIBLE)));
    const WORD bits = endpoint_.bits;
    ext->Format = {WAVE_FORMAT_EXTENSIBLE, 2, 48000, 48000u * bits / 4, static_cast<WORD>(bits / 4), bits, 22};
    ext->Samples.wValidBitsPerSample = bits;
    ext->dwChannelMask = SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT;
    ext->SubFormat = bits == 32 ? KSDATAFORMAT_SUBTYPE_IEEE_FLOAT : KSDATAFORMAT_SUBTYPE_PCM;
    *format = &ext->Format;
    return S_OK;
  }
  STDMETHODIMP GetService(REFIID iid, void** object) override {
    if (iid != __uuidof(IAudioCaptureClient)) return *object = nullptr, E_NOINTERFACE;
    AddRef();
    *object = static_cast<IAudioCaptureClient*>(this);
    return Valid();
  }
  STDMETHODIMP Start() override {
    std::lock_guard guard(lock_);
    if (!running_) startedAt_ = endpoint_.audio.NowMs() - position_ / 48;
    running_ = true;
    std::int64_t unset = -1;
    endpoint_.origin.compare_exchange_strong(unset, static_cast<std::int64_t>(startedAt_));
    return Valid();
  }
  STDMETHODIMP Stop() override {
    if (refs_ == 0) ++endpoint_.audio.faults;
    ++stopping_;
    if (endpoint_.audio.onStop) endpoint_.audio.onStop();
    {
      std::lock_guard guard(lock_);
      running_ = false;
    }
    --stopping_;
    return Valid();
  }
  STDMETHODIMP GetNextPacketSize(UINT32* frames) override {
    std::lock_guard guard(lock_);
    *frames = 0;
    const std::uint64_t now = endpoint_.audio.NowMs();
    for (; running_ && startedAt_ + (position_ + kPacketFrames) / 48 <= now; position_ += kPacketFrames) {
      playing_ = endpoint_.playing(static_cast<std::int64_t>(startedAt_ + position_ / 48) - endpoint_.origin);
      if (playing_ || endpoint_.flow == eCapture) {
        *frames = kPacketFrames;
        break;
      }
      discontinuity_ = true;
    }
    return Valid();
  }
  STDMETHODIMP GetBuffer(BYTE** data, UINT32* frames, DWORD* flags, UINT64*, UINT64*) override {
    std::lock_guard guard(lock_);
    samples_.resize(2 * kPacketFrames);
    const double pitch = endpoint_.flow == eCapture ? 440 : 660;
    for (UINT32 i = 0; i < 2 * kPacketFrames; ++i) {
      samples_[i] = static_cast<float>(0.5 * std::sin(2 * 3.14159265358979 * pitch * (position_ + i / 2) / 48000));
    }
    *data = reinterpret_cast<BYTE*>(samples_.data());
    *frames = kPacketFrames;
    *flags = (std::exchange(discontinuity_, false) ? AUDCLNT_BUFFERFLAGS_DATA_DISCONTINUITY : 0) |
             (playing_ ? 0 : AUDCLNT_BUFFERFLAGS_SILENT);
    return Valid();
  }
  STDMETHODIMP ReleaseBuffer(UINT32 frames) override {
    std::lock_guard guard(lock_);
    position_ += frames;
    return S_OK;
  }
  STDMETHODIMP GetBufferSize(UINT32*) override { return E_NOTIMPL; }
  STDMETHODIMP GetStreamLatency(REFERENCE_TIME*) override { return E_NOTIMPL; }
  STDMETHODIMP GetCurrentPadding(UINT32*) override { return E_NOTIMPL; }
  STDMETHODIMP IsFormatSupported(AUDCLNT_SHAREMODE, const WAVEFORMATEX*, WAVEFORMATEX**) override { return E_NOTIMPL; }
  STDMETHODIMP GetDevicePeriod(REFERENCE_TIME*, REFERENCE_TIME*) override { return E_NOTIMPL; }
  STDMETHODIMP Reset() override { return S_OK; }
  STDMETHODIMP SetEventHandle(HANDLE) override { return E_NOTIMPL; }

 private:
  HRESULT Valid() const { return endpoint_.invalidated ? AUDCLNT_E_DEVICE_INVALIDATED : S_OK; }

  Endpoint& endpoint_;
  std::atomic<ULONG> refs_{1};
  std::atomic<int> stopping_{0};
  std::mutex lock_;
  bool running_ = false;
  bool discontinuity_ = false;
  bool playing_ = true;
  std::uint64_t startedAt_ = 0;  // scripted ms at stream position 0
  std::uint64_t position_ = 0;   // frames handed over or skipped
  std::vector<float> samples_;
};

STDMETHODIMP Endpoint::Activate(REFIID iid, DWORD, PROPVARIANT*, void** object) {
  *object = nullptr;
  if (iid != __uuidof(IAudioClient)) return E_NOINTERFACE;
  // An endpoint that is not active cannot be opened: Windows says the device is gone.
  if (state != DEVICE_STATE_ACTIVE || invalidated) return AUDCLNT_E_DEVICE_INVALIDATED;
  *object = static_cast<IAudioClient*>(audio.Keep(std::make_shared<Stream>(*this)));
  return S_OK;
}

// A recording of the audio recorder on the scripted clock, its notices and its log.
class ScriptedRecording : public testing::LoggedTest, public testing::QuietHost {
 protected:
  std::int64_t Now() const override { return static_cast<std::int64_t>(audio_.NowMs()); }
  std::int64_t Frequency() const override { return 1000; }
  void OnEvent(const Event& event) override {
    std::lock_guard guard(lock_);
    if (event.type == Event::Type::kNotice) notices_.push_back(event.message.title + L": " + event.message.text);
  }

  // Records `ms` scripted milliseconds into a WAV file and reads it (16-bit stereo); the
  // recording's length from its log line "... Recorded 12.345 s." goes to `seconds`.
  WaveData Record(AppConfig config, std::uint64_t ms, double* seconds = nullptr) {
    config.AudioPath = folder_.path();
    config.AudioFormat = 2;
    config.PlayAudioEventSounds = false;
    RecordingSession session(*this);
    EXPECT_TRUE(session.Start(MakeAudioBackend(config, MultiTrackConfig{})));
    EXPECT_TRUE(Eventually([&] {
      return session.phase() != RecordingPhase::kCountingDown && session.phase() != RecordingPhase::kStarting;
    }));
    const std::uint64_t began = audio_.NowMs();
    Eventually([&] { return audio_.NowMs() >= began + ms || session.phase() == RecordingPhase::kIdle; }, 60s);
    session.Stop();
    EXPECT_TRUE(session.WaitFinished(30s));
    const std::string log = Log();
    if (seconds) *seconds = std::stod(log.substr(log.rfind("Recorded ") + 9));
    const std::string bytes = testing::ReadBytes(session.LastSavedPath());
    return ParseWave({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()}).value_or(WaveData{});
  }
  // The loudness (RMS, full scale 1) of the recording from `from` to `to` seconds.
  static double Loudness(const WaveData& wave, double from, double to) {
    const auto* samples = reinterpret_cast<const std::int16_t*>(wave.samples.data());
    double sum = 0;
    const auto first = static_cast<std::size_t>(from * 96000), last = static_cast<std::size_t>(to * 96000);
    for (std::size_t i = first; i < last && i < wave.samples.size() / 2; ++i) sum += samples[i] * samples[i] / 1073741824.0;
    return std::sqrt(sum / static_cast<double>(last - first));
  }

  mutable ScriptedAudio audio_;
  std::mutex lock_;
  std::vector<std::wstring> notices_;
};

// Nothing plays for ten seconds: the loopback stream hands over nothing and the microphone silence.
// The chosen microphone is unplugged, and the default one stands in.
TEST_F(ScriptedRecording, TenSecondsWithNothingPlayingAreSilenceAndAnUnpluggedMicrophoneGivesWayToTheDefault) {
  const auto playing = [](std::int64_t ms) { return ms < 1000 || ms >= 11000; };
  audio_.Add(L"{speakers}", eRender).playing = playing;
  audio_.Add(L"{built-in}", eCapture).playing = playing;
  audio_.Add(L"{usb headset}", eCapture).state = DEVICE_STATE_UNPLUGGED;
  AppConfig config;
  config.AudioSource = 3;
  config.MicrophoneID = L"{usb headset}";
  double seconds = 0;
  const WaveData wave = Record(config, 12000, &seconds);
  EXPECT_EQ(notices_, std::vector<std::wstring>{std::wstring(N_(L"Audio Source Changed")) + L": " +
                                                N_(L"The chosen microphone is not connected. The default microphone is recorded instead.")});
  EXPECT_EQ(LogCount("AudioRecorder: [WARNING] Selected audio device is not active (state 8). Falling back to default."), 1);
  EXPECT_EQ(Log().find(" gone"), std::string::npos) << Log();
  EXPECT_EQ(Log().find(" is back"), std::string::npos);
  EXPECT_GE(seconds, 12.0);
  EXPECT_NEAR(wave.samples.size() / 192000.0, seconds, 0.03) << "the file lasts the whole recording";
  // Both tones (RMS 0.354 each) where something plays, silence in the recording's time between.
  EXPECT_NEAR(Loudness(wave, 0.2, 0.9), 0.5, 0.03);
  EXPECT_LT(Loudness(wave, 1.2, 10.8), 0.001);
  EXPECT_NEAR(Loudness(wave, 11.2, 11.9), 0.5, 0.03);
}

// A pause stops a track's stream just as its capture thread finds the device gone and lets go of the
// stream: the pause waits for the capture thread instead of calling a client being released.
TEST(ScriptedTrack, APauseWhileTheDeviceGoesAwayNeverCallsAReleasedClient) {
  testing::TempFolder folder;
  ScriptedAudio audio;
  Endpoint& headset = audio.Add(L"{headset}", eCapture);
  MuxedFile file(L"Test: ");
  ASSERT_EQ(file.Create("mp4", folder / L"track.m4a"), S_OK);
  SourceTrack track(L"Headset", true, 1.0f);
  ASSERT_EQ(track.Open(L"Test: ", L"Default", file, 128000), S_OK);
  std::atomic<bool> lost{false};
  track.StartThread([&](const AudioSource&, SourceChange change) { lost = lost || change == SourceChange::kLost; });
  track.Start();
  std::atomic<int> stops{0};
  std::atomic<bool> captureThreadStopping{false};
  std::atomic<bool> pauseStopping{false};
  audio.onStop = [&] {
    if (++stops == 1) {  // the capture thread's, as it lets go of the stream
      captureThreadStopping = true;
      Eventually([&] { return pauseStopping.load(); }, 1s);
    } else {  // the pause's
      pauseStopping = true;
      Eventually([&] { return lost.load(); }, 1s);
    }
  };
  headset.invalidated = true;
  ASSERT_TRUE(Eventually([&] { return captureThreadStopping.load(); }));
  track.Stop();
  EXPECT_TRUE(Eventually([&] { return lost.load(); }));
  EXPECT_EQ(audio.faults, 0);
}

// A device that comes back in a format that cannot be converted is not taken half-way: the source
// stays lost, and is back only once a usable device is there.
TEST(ScriptedSource, AFailedReopenLeavesTheSourceLostUntilAUsableDeviceComes) {
  ScriptedAudio audio;
  Endpoint& usb = audio.Add(L"{usb}", eCapture);
  AudioSource source;
  ASSERT_EQ(InitAudioDevice(L"Test: ", true, L"Default", source, nullptr), S_OK);
  ASSERT_EQ(InitAudioResampler(L"Test: ", source), S_OK);
  ASSERT_TRUE(CreateSourceFifo(source));
  source.Start();
  const auto watch = [&] { return WatchAudioSource(L"Test: ", source, DrainCaptureClient(L"Test: ", source)); };
  usb.invalidated = true;
  EXPECT_EQ(watch(), SourceChange::kLost);
  audio.Add(L"{24-bit}", eCapture).bits = 24;
  audio.SetDefault(eCapture, L"{24-bit}");
  for (int round = 0; round < 3; ++round) {
    audio.Advance(2500);
    EXPECT_EQ(watch(), SourceChange::kNone) << round;
  }
  audio.Add(L"{good}", eCapture);
  audio.SetDefault(eCapture, L"{good}");
  audio.Advance(2500);
  EXPECT_EQ(watch(), SourceChange::kNone) << "reopened; a microphone is back once it delivers";
  audio.Advance(100);
  EXPECT_EQ(watch(), SourceChange::kBack);
  EXPECT_GE(av_audio_fifo_size(source.fifo.get()), 4800) << "captured again";
}

}  // namespace
}  // namespace vistrel
