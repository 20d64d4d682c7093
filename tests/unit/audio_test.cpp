// The recorders' audio against Windows behaviour that Wine cannot produce, through scripted Core
// Audio objects: a loopback stream that hands over nothing while nothing plays, a chosen microphone
// that Windows still knows but is unplugged, a device that is invalidated while a pause stops its
// stream, and a device that comes back in a format that cannot be converted. The recordings run
// through the real session, backend and encoder on a clock ten times as fast as the wall clock.
#include <windows.h>
#include <audioclient.h>
#include <mmdeviceapi.h>
#include <wrl/client.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "audio/audio_backend.h"
#include "i18n/msgid.h"
#include "media/audio_endpoints.h"
#include "media/audio_source.h"
#include "media/muxed_file.h"
#include "media/source_track.h"
#include "recording/recording_session.h"
#include "test_support.h"

namespace vistrel {
namespace {

using Microsoft::WRL::ComPtr;
using namespace std::chrono_literals;

constexpr std::uint64_t kSpeed = 10;  // scripted milliseconds per real one
constexpr UINT32 kPacketFrames = 480;  // 10 ms at 48 kHz

// Waits (really) up to five seconds for `condition`.
bool Eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit = 5s) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition() && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(1ms);
  return condition();
}

class ScriptedAudio;

// One endpoint as the script has it.
struct Endpoint {
  std::wstring id;
  EDataFlow flow = eCapture;
  std::atomic<DWORD> state{DEVICE_STATE_ACTIVE};
  std::atomic<bool> invalidated{false};  // its streams answer AUDCLNT_E_DEVICE_INVALIDATED
  WORD bits = 32;                        // of its mix format: 32 float, or integer PCM (24: unsupported)
  // For loopback: whether something plays at this time (ms since its first stream started); a capture
  // endpoint always delivers.
  std::function<bool(std::uint64_t)> playing;
  std::atomic<std::int64_t> origin{-1};  // scripted ms when its first stream started
};

struct Owned {
  virtual ~Owned() = default;
};

// IUnknown for one interface. A scripted object outlives its last Release (the script frees it), so
// that a call on a released object is counted instead of touching freed memory.
template <typename Interface>
class Scripted : public Interface, public Owned {
 public:
  explicit Scripted(ScriptedAudio& audio) : audio_(audio) {}
  STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
    if (iid != __uuidof(IUnknown) && iid != __uuidof(Interface)) {
      *object = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    *object = static_cast<Interface*>(this);
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override;
  bool released() const { return refs_ == 0; }

 protected:
  // Counts a call; one on a released object, or a release during a call, is a fault.
  struct Call {
    explicit Call(Scripted& object);
    ~Call() { --object.calls_; }
    Scripted& object;
  };

  ScriptedAudio& audio_;
  std::atomic<ULONG> refs_{1};
  std::atomic<int> calls_{0};
};

class ScriptedAudio final : public AudioEndpoints {
 public:
  ScriptedAudio() { UseAudioEndpoints(this); }
  ~ScriptedAudio() override { UseAudioEndpoints(nullptr); }

  HRESULT CreateEnumerator(ComPtr<IMMDeviceEnumerator>& enumerator) override;
  std::uint64_t NowMs() override {
    return static_cast<std::uint64_t>(GetTickCount64() - origin_) * kSpeed + advanced_.load();
  }
  void Advance(std::uint64_t ms) { advanced_ += ms; }

  Endpoint& Add(const std::wstring& id, EDataFlow flow) {
    std::lock_guard guard(lock_);
    auto& endpoint = endpoints_[id];
    endpoint = std::make_unique<Endpoint>();
    endpoint->id = id;
    endpoint->flow = flow;
    if (defaults_[flow].empty()) defaults_[flow] = id;
    return *endpoint;
  }
  void SetDefault(EDataFlow flow, const std::wstring& id) {
    std::lock_guard guard(lock_);
    defaults_[flow] = id;
  }
  Endpoint* Find(const std::wstring& id) {
    std::lock_guard guard(lock_);
    const auto it = endpoints_.find(id);
    return it == endpoints_.end() ? nullptr : it->second.get();
  }
  std::wstring DefaultOf(EDataFlow flow) {
    std::lock_guard guard(lock_);
    return defaults_[flow];
  }
  template <typename T, typename... Args>
  T* Make(Args&&... args) {
    auto object = std::make_unique<T>(*this, std::forward<Args>(args)...);
    T* raw = object.get();
    std::lock_guard guard(lock_);
    objects_.push_back(std::move(object));
    return raw;
  }

  // Called inside every IAudioClient::Stop, on the caller's thread.
  std::function<void()> onStop;
  std::atomic<int> faults{0};  // calls on released objects, releases during a call

 private:
  const ULONGLONG origin_ = GetTickCount64();
  std::atomic<std::uint64_t> advanced_{0};
  std::mutex lock_;
  std::map<std::wstring, std::unique_ptr<Endpoint>> endpoints_;
  std::map<EDataFlow, std::wstring> defaults_;
  std::vector<std::unique_ptr<Owned>> objects_;
};

template <typename Interface>
ULONG Scripted<Interface>::Release() {
  const ULONG left = --refs_;
  if (left == 0 && calls_ > 0) ++audio_.faults;
  return left;
}

template <typename Interface>
Scripted<Interface>::Call::Call(Scripted& object) : object(object) {
  if (object.refs_ == 0) ++object.audio_.faults;
  ++object.calls_;
}

// Packets of 10 ms from the moment the stream starts: a 440 Hz tone at half scale while the endpoint
// plays, none while a loopback endpoint has nothing playing (the first packet after such a pause is
// marked as a discontinuity).
class CaptureClient final : public Scripted<IAudioCaptureClient> {
 public:
  CaptureClient(ScriptedAudio& audio, Endpoint& endpoint) : Scripted(audio), endpoint_(endpoint) {}

  void Start() {
    std::lock_guard guard(lock_);
    if (!running_) startedAt_ = audio_.NowMs() - position_ * 1000 / kMixRate;
    running_ = true;
    std::int64_t unset = -1;
    endpoint_.origin.compare_exchange_strong(unset, static_cast<std::int64_t>(startedAt_));
  }
  void Stop() {
    std::lock_guard guard(lock_);
    running_ = false;
  }

  STDMETHODIMP GetNextPacketSize(UINT32* frames) override {
    Call call(*this);
    if (endpoint_.invalidated) return AUDCLNT_E_DEVICE_INVALIDATED;
    std::lock_guard guard(lock_);
    *frames = 0;
    if (!running_) return S_OK;
    const std::uint64_t now = audio_.NowMs() - startedAt_;
    for (; (position_ + kPacketFrames) * 1000 / kMixRate <= now; position_ += kPacketFrames) {
      if (!endpoint_.playing || endpoint_.playing(startedAt_ + position_ * 1000 / kMixRate - endpoint_.origin)) {
        *frames = kPacketFrames;
        return S_OK;
      }
      discontinuity_ = true;
    }
    return S_OK;
  }
  STDMETHODIMP GetBuffer(BYTE** data, UINT32* frames, DWORD* flags, UINT64*, UINT64*) override {
    Call call(*this);
    if (endpoint_.invalidated) return AUDCLNT_E_DEVICE_INVALIDATED;
    std::lock_guard guard(lock_);
    samples_.resize(kPacketFrames * 2);
    for (UINT32 i = 0; i < kPacketFrames; ++i) {
      const double t = static_cast<double>(position_ + i) / kMixRate;
      samples_[2 * i] = samples_[2 * i + 1] = static_cast<float>(0.5 * std::sin(2 * 3.14159265358979 * 440 * t));
    }
    *data = reinterpret_cast<BYTE*>(samples_.data());
    *frames = kPacketFrames;
    *flags = std::exchange(discontinuity_, false) ? AUDCLNT_BUFFERFLAGS_DATA_DISCONTINUITY : 0;
    return S_OK;
  }
  STDMETHODIMP ReleaseBuffer(UINT32 frames) override {
    Call call(*this);
    std::lock_guard guard(lock_);
    position_ += frames;
    return S_OK;
  }

 private:
  static constexpr std::uint64_t kMixRate = 48000;
  Endpoint& endpoint_;
  std::mutex lock_;
  bool running_ = false;
  bool discontinuity_ = false;
  std::uint64_t startedAt_ = 0;  // scripted ms at stream position 0
  std::uint64_t position_ = 0;   // frames handed over or skipped
  std::vector<float> samples_;
};

class AudioClient final : public Scripted<IAudioClient> {
 public:
  AudioClient(ScriptedAudio& audio, Endpoint& endpoint)
      : Scripted(audio), endpoint_(endpoint), capture_(audio.Make<CaptureClient>(endpoint)) {}

  STDMETHODIMP Initialize(AUDCLNT_SHAREMODE, DWORD flags, REFERENCE_TIME, REFERENCE_TIME, const WAVEFORMATEX*,
                          LPCGUID) override {
    Call call(*this);
    if (endpoint_.invalidated) return AUDCLNT_E_DEVICE_INVALIDATED;
    // A render endpoint is captured only through loopback.
    const bool loopback = (flags & AUDCLNT_STREAMFLAGS_LOOPBACK) != 0;
    return loopback == (endpoint_.flow == eRender) ? S_OK : AUDCLNT_E_WRONG_ENDPOINT_TYPE;
  }
  STDMETHODIMP GetMixFormat(WAVEFORMATEX** format) override {
    Call call(*this);
    auto* ext = static_cast<WAVEFORMATEXTENSIBLE*>(CoTaskMemAlloc(sizeof(WAVEFORMATEXTENSIBLE)));
    *ext = {};
    ext->Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
    ext->Format.nChannels = 2;
    ext->Format.nSamplesPerSec = 48000;
    ext->Format.wBitsPerSample = endpoint_.bits;
    ext->Format.nBlockAlign = static_cast<WORD>(2 * endpoint_.bits / 8);
    ext->Format.nAvgBytesPerSec = 48000 * ext->Format.nBlockAlign;
    ext->Format.cbSize = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);
    ext->Samples.wValidBitsPerSample = endpoint_.bits;
    ext->dwChannelMask = SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT;
    ext->SubFormat = endpoint_.bits == 32 ? KSDATAFORMAT_SUBTYPE_IEEE_FLOAT : KSDATAFORMAT_SUBTYPE_PCM;
    *format = &ext->Format;
    return S_OK;
  }
  STDMETHODIMP GetService(REFIID iid, void** object) override {
    Call call(*this);
    if (endpoint_.invalidated) return AUDCLNT_E_DEVICE_INVALIDATED;
    return capture_->QueryInterface(iid, object);
  }
  STDMETHODIMP Start() override {
    Call call(*this);
    capture_->Start();
    return endpoint_.invalidated ? AUDCLNT_E_DEVICE_INVALIDATED : S_OK;
  }
  STDMETHODIMP Stop() override {
    Call call(*this);
    if (audio_.onStop) audio_.onStop();
    capture_->Stop();
    return endpoint_.invalidated ? AUDCLNT_E_DEVICE_INVALIDATED : S_OK;
  }
  STDMETHODIMP GetBufferSize(UINT32* frames) override {
    *frames = 48000;
    return S_OK;
  }
  STDMETHODIMP GetStreamLatency(REFERENCE_TIME*) override { return E_NOTIMPL; }
  STDMETHODIMP GetCurrentPadding(UINT32*) override { return E_NOTIMPL; }
  STDMETHODIMP IsFormatSupported(AUDCLNT_SHAREMODE, const WAVEFORMATEX*, WAVEFORMATEX**) override { return E_NOTIMPL; }
  STDMETHODIMP GetDevicePeriod(REFERENCE_TIME*, REFERENCE_TIME*) override { return E_NOTIMPL; }
  STDMETHODIMP Reset() override { return S_OK; }
  STDMETHODIMP SetEventHandle(HANDLE) override { return E_NOTIMPL; }

 private:
  Endpoint& endpoint_;
  CaptureClient* capture_;
};

class Device final : public Scripted<IMMDevice> {
 public:
  Device(ScriptedAudio& audio, Endpoint& endpoint) : Scripted(audio), endpoint_(endpoint) {}
  STDMETHODIMP Activate(REFIID iid, DWORD, PROPVARIANT*, void** object) override {
    Call call(*this);
    *object = nullptr;
    if (iid != __uuidof(IAudioClient)) return E_NOINTERFACE;
    // An endpoint that is not active cannot be opened: Windows says the device is gone.
    if (endpoint_.state != DEVICE_STATE_ACTIVE || endpoint_.invalidated) return AUDCLNT_E_DEVICE_INVALIDATED;
    *object = static_cast<IAudioClient*>(audio_.Make<AudioClient>(endpoint_));
    return S_OK;
  }
  STDMETHODIMP OpenPropertyStore(DWORD, IPropertyStore**) override { return E_NOTIMPL; }
  STDMETHODIMP GetId(LPWSTR* id) override {
    const std::size_t bytes = (endpoint_.id.size() + 1) * sizeof(wchar_t);
    *id = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
    memcpy(*id, endpoint_.id.c_str(), bytes);
    return S_OK;
  }
  STDMETHODIMP GetState(DWORD* state) override {
    *state = endpoint_.state;
    return S_OK;
  }

 private:
  Endpoint& endpoint_;
};

// Every endpoint Windows knows, active or not, is found by its identifier; the default of a flow is
// an active one.
class Enumerator final : public Scripted<IMMDeviceEnumerator> {
 public:
  using Scripted::Scripted;
  STDMETHODIMP GetDefaultAudioEndpoint(EDataFlow flow, ERole, IMMDevice** device) override {
    return GetDevice(audio_.DefaultOf(flow).c_str(), device);
  }
  STDMETHODIMP GetDevice(LPCWSTR id, IMMDevice** device) override {
    *device = nullptr;
    Endpoint* endpoint = audio_.Find(id);
    if (!endpoint) return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
    *device = audio_.Make<Device>(*endpoint);
    return S_OK;
  }
  STDMETHODIMP EnumAudioEndpoints(EDataFlow, DWORD, IMMDeviceCollection**) override { return E_NOTIMPL; }
  STDMETHODIMP RegisterEndpointNotificationCallback(IMMNotificationClient*) override { return E_NOTIMPL; }
  STDMETHODIMP UnregisterEndpointNotificationCallback(IMMNotificationClient*) override { return E_NOTIMPL; }
};

HRESULT ScriptedAudio::CreateEnumerator(ComPtr<IMMDeviceEnumerator>& enumerator) {
  enumerator.Attach(Make<Enumerator>());
  return S_OK;
}

// The loudness (RMS, full scale 1) of each tenth of a second of a 16-bit stereo WAV file, as far as
// its data chunk says.
std::vector<double> LoudnessOf(const std::wstring& path) {
  const std::string bytes = testing::ReadBytes(path);
  std::vector<double> tenths;
  std::size_t at = 12;  // "RIFF", size, "WAVE"
  std::uint32_t size = 0;
  for (; at + 8 <= bytes.size(); at += 8 + size) {
    memcpy(&size, bytes.data() + at + 4, 4);
    if (bytes.compare(at, 4, "data") == 0) break;
  }
  if (at + 8 + size > bytes.size()) return tenths;
  const auto* samples = reinterpret_cast<const std::int16_t*>(bytes.data() + at + 8);
  constexpr std::size_t kTenth = 4800 * 2;
  for (std::size_t first = 0; first + kTenth <= size / 2; first += kTenth) {
    double sum = 0;
    for (std::size_t i = first; i < first + kTenth; ++i) sum += (samples[i] / 32768.0) * (samples[i] / 32768.0);
    tenths.push_back(std::sqrt(sum / kTenth));
  }
  return tenths;
}

// A recording of the audio recorder on the scripted clock, its notices and its log.
class ScriptedRecording : public testing::LoggedTest, public SessionHost {
 protected:
  std::int64_t Now() const override { return static_cast<std::int64_t>(audio_.NowMs()); }
  std::int64_t Frequency() const override { return 1000; }
  CountdownOutcome RunCountdown() override { return CountdownOutcome::kNotShown; }
  void CancelCountdown() override {}
  void PlaySoundSync(const std::wstring&) override {}
  void RemoveFile(const std::wstring& path) override { DeleteFileW(path.c_str()); }
  void OnEvent(const Event& event) override {
    if (event.type != Event::Type::kNotice) return;
    std::lock_guard guard(lock_);
    notices_.push_back(event.message.title + L": " + event.message.text);
  }

  // Records for `ms` scripted milliseconds into a WAV file; its path, or empty when none was saved.
  std::wstring Record(AppConfig config, std::uint64_t ms) {
    config.AudioPath = folder_.path();
    config.AudioFormat = 2;
    config.PlayAudioEventSounds = false;
    RecordingSession session(*this);
    EXPECT_TRUE(session.Start(MakeAudioBackend(config, MultiTrackConfig{})));
    EXPECT_TRUE(Eventually([&] { return session.phase() != RecordingPhase::kCountingDown &&
                                        session.phase() != RecordingPhase::kStarting; }));
    const std::uint64_t began = audio_.NowMs();
    Eventually([&] { return audio_.NowMs() >= began + ms || session.phase() == RecordingPhase::kIdle; }, 60s);
    session.Stop();
    EXPECT_TRUE(session.WaitFinished(30s));
    return session.LastSavedPath();
  }
  std::vector<std::wstring> Notices() {
    std::lock_guard guard(lock_);
    return notices_;
  }
  // The recording's length from its log line "... Recorded 12.345 s.".
  double RecordedSeconds() const {
    const std::string log = Log();
    const std::size_t at = log.rfind("Recorded ");
    return at == std::string::npos ? 0.0 : std::stod(log.substr(at + 9));
  }

  mutable ScriptedAudio audio_;
  std::mutex lock_;
  std::vector<std::wstring> notices_;
};

TEST_F(ScriptedRecording, LoopbackThatDeliversNothingForTenSecondsIsSilenceNotALostDevice) {
  audio_.Add(L"{speakers}", eRender).playing = [](std::uint64_t ms) { return ms < 1000 || ms >= 11000; };
  AppConfig config;
  config.AudioSource = 2;
  const std::wstring path = Record(config, 12000);
  ASSERT_FALSE(path.empty()) << Log();
  EXPECT_EQ(Notices(), std::vector<std::wstring>{});
  EXPECT_EQ(Log().find(" gone"), std::string::npos) << Log();
  EXPECT_EQ(Log().find(" is back"), std::string::npos) << Log();
  const std::vector<double> loudness = LoudnessOf(path);
  const double recorded = RecordedSeconds();
  EXPECT_GE(recorded, 12.0);
  EXPECT_NEAR(static_cast<double>(loudness.size()) / 10, recorded, 0.11) << "the file lasts the whole recording";
  ASSERT_GE(loudness.size(), 119u);
  for (std::size_t tenth = 0; tenth < 119; ++tenth) {
    const bool sounding = (tenth >= 2 && tenth < 9) || tenth >= 112;
    const bool silent = tenth >= 12 && tenth < 108;
    if (sounding || silent) {
      EXPECT_NEAR(loudness[tenth], sounding ? 0.354 : 0.0, 0.03) << tenth;
    }
  }
}

TEST_F(ScriptedRecording, AChosenMicrophoneThatIsUnpluggedGivesWayToTheDefaultAndTheUserIsTold) {
  audio_.Add(L"{built-in}", eCapture);
  audio_.Add(L"{usb headset}", eCapture).state = DEVICE_STATE_UNPLUGGED;
  AppConfig config;
  config.AudioSource = 1;
  config.MicrophoneID = L"{usb headset}";
  const std::wstring path = Record(config, 1500);
  ASSERT_FALSE(path.empty()) << Log();
  const std::vector<double> loudness = LoudnessOf(path);
  ASSERT_GE(loudness.size(), 10u);
  EXPECT_NEAR(loudness[5], 0.354, 0.03) << "the default microphone is recorded";
  EXPECT_EQ(Notices(), std::vector<std::wstring>{std::wstring(N_(L"Audio Source Changed")) + L": " +
                                                 N_(L"The chosen microphone is not connected. The default microphone is recorded instead.")});
  EXPECT_EQ(LogCount("AudioRecorder: [WARNING] Selected audio device is not active (state 8). Falling back to default."), 1);
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
