#include "audio/audio_backend.h"

#include <algorithm>
#include <optional>

#include "core/com_apartment.h"
#include "core/log.h"
#include "i18n/tr.h"
#include "media/audio_mix.h"
#include "media/media_clock.h"
#include "media/muxed_file.h"
#include "media/output_file.h"
#include "media/recording_audio.h"

namespace vistrel {
namespace {

// How often the sources are drained and the due frames written.
constexpr std::int64_t kWritesPerSecond = 100;

class AudioBackend final : public RecordingBackend {
 public:
  AudioBackend(AppConfig config, MultiTrackConfig tracks)
      : RecordingBackend({kAudioLogPrefix, RecordingSoundsOf(config.Sounds, config.PlayAudioEventSounds != 0, true), true,
                          {N_(L"Audio Recording Stopped"), N_(L"Audio saved to: %s")},
                          {N_(L"Audio Recording Failed"), N_(L"Could not start the audio recorder.")},
                          AudioLifecycle(tracks.IsMultiTrackEnabled())}),
        config_(std::move(config)),
        tracks_(std::move(tracks)) {
    multiTrack_ = tracks_.IsMultiTrackEnabled();
    trackSources_ = !multiTrack_ && tracks_.UseSameSourcesInSingleMode() && !tracks_.Tracks().empty();
    if (trackSources_) {
      LogMessage(L"AudioRecorder: Single-track mode will use sources defined in multi-track configuration.");
    }
    LogMessage(multiTrack_ ? L"AudioRecorder: Multi-track mode is enabled." : L"AudioRecorder: Standard mode is enabled.");
  }

  std::wstring ClaimOutput() override {
    const AudioOutputFormat format = AudioOutputFormatOf(config_.AudioFormat);
    if (!multiTrack_ && !format.encoder) LogMessage(L"AudioRecorder: [WARN] Unknown audio format, defaulting to .mp3");
    const OutputPlace place{kAudioLogPrefix, L"audio", L"Music", &FOLDERID_Music, config_.AudioPath};
    return ClaimRecordingFile(place, multiTrack_ || trackSources_ ? L"Mixed_AudioRecording" : L"AudioRecording",
                              multiTrack_ ? L"m4a" : format.extension);
  }

  bool Open(const std::wstring& path, const Notify& notify) override {
    audio_.SetNotify([notify](const std::wstring& title, const std::wstring& text) { notify({title, text}); });
    com_.emplace();
    if (FAILED(com_->result())) {
      LogHresultError(kAudioLogPrefix, L"CoInitializeEx in recording thread", com_->result());
      return false;
    }
    LogMessage(multiTrack_ ? L"AudioRecorder: Initializing Multi-Track recording..." : L"AudioRecorder: Main thread initializing...");
    if (!CounterWorks()) {
      LogMessage(multiTrack_ ? L"AudioRecorder: [FATAL] QueryPerformanceFrequency failed."
                             : L"AudioRecorder: [ERROR] QueryPerformanceFrequency failed.");
      return false;
    }
    if (!multiTrack_) LogMessage(L"AudioRecorder: Initializing FFmpeg...");
    if (!(multiTrack_ ? OpenTracks(path) : OpenMix(path))) {
      LogMessage(multiTrack_ ? L"AudioRecorder: [FATAL] Multi-track initialization failed."
                             : L"AudioRecorder: [FATAL] Single-track initialization failed.");
      return false;
    }
    audio_.StartCapture();  // with the recording clock
    return true;
  }

  TickResult Tick(const TickInfo& info) override {
    TickResult result;
    if (info.paused) return result;
    audio_.WriteDue(file_, DueSamples(info.recorded, info.frequency), false);
    result.nextDue = info.recorded + info.frequency / kWritesPerSecond;
    if (info.recorded >= nextSizeUpdate_) {
      file_.UpdateSizes();
      nextSizeUpdate_ = info.recorded + info.frequency;
    }
    if (file_.writeError()) {
      // A full disk or a lost drive: what is on disk stays playable, and the user hears why.
      result.action = TickResult::Action::kFail;
      result.failure = {N_(L"Audio Recording Failed"), N_(L"The recording stopped: %s"), file_.WriteFailure()};
    }
    return result;
  }

  void Pause() override {
    LogMessage(multiTrack_ ? L"AudioRecorder: Pausing all audio clients." : L"AudioRecorder: Pausing audio clients.");
    audio_.StopCapture();
  }

  void Resume() override {
    LogMessage(multiTrack_ ? L"AudioRecorder: Resuming all audio clients." : L"AudioRecorder: Resuming audio clients.");
    audio_.StartCapture();
  }

  FinishResult Finish(const TickInfo& end, const std::atomic<bool>& hurry) override {
    const std::int64_t due = DueSamples(end.recorded, end.frequency);
    if (due == 0) {
      // Stopped before the first sample: a file without sound is no recording.
      audio_.StopCapture();
      file_.Discard();
      return FinishResult::Discarded(
          {N_(L"Nothing Recorded"), N_(L"The recording ended before any sound was recorded. No file was kept.")});
    }
    // What was captured up to the stop is part of the recording.
    audio_.WriteDue(file_, due, true, end.paused);
    audio_.StopCapture();
    if (multiTrack_) {
      LogMessage(L"AudioRecorder: Cleaning up multi-track resources.");
      LogMessage(L"AudioRecorder: Flushing multi-track encoders and writing file trailer.");
    } else {
      const std::int64_t frameSize = std::max(audio_.mix().frameSize(), 1);
      LogMessage(L"AudioRecorder: Total frames written before flush: " +
                 std::to_wstring((audio_.mix().samplesWritten() + frameSize - 1) / frameSize));
      LogMessage(L"AudioRecorder: Flushing encoder...");
    }
    audio_.Flush(file_);
    if (!multiTrack_) LogMessage(L"AudioRecorder: Writing file trailer.");
    const HRESULT closed = file_.Close(&hurry);
    if (FAILED(closed)) {
      return FinishResult::Failed({N_(L"Audio Recording Failed"), N_(L"The audio file could not be completed.")});
    }
    if (closed == S_FALSE) return {FinishResult::Outcome::kSaved, {facts().saved.title, kKeptInFragmentsText}};
    return {};
  }

  void Abort() override {
    if (multiTrack_) LogMessage(L"AudioRecorder: Cleaning up multi-track resources.");
    audio_.Release();
    file_.Discard();
  }

 private:
  bool OpenMix(const std::wstring& path) {
    AudioMixer& mixer = audio_.mixer();
    if (trackSources_) {
      LogMessage(L"AudioRecorder: Initializing audio devices from multi-track config for single-track mode.");
      AddTrackSources(mixer, kAudioLogPrefix, tracks_.Tracks());
    } else {
      SettingsSources sources;
      sources.microphone = config_.AudioSource == 1 || config_.AudioSource == 3;
      sources.system = config_.AudioSource == 2 || config_.AudioSource == 3;
      sources.microphoneId = config_.MicrophoneID;
      sources.systemId = config_.SystemAudioID;
      sources.systemGain = SystemAudioGain(config_.SystemAudioRecVolume, -1.0f);
      sources.systemFollowsVolume = true;
      AddSettingsSources(mixer, kAudioLogPrefix, sources);
    }
    if (mixer.empty()) {
      LogMessage(L"AudioRecorder: No audio sources available or selected. Cannot record.");
      return false;
    }
    const AudioOutputFormat format = AudioOutputFormatOf(config_.AudioFormat);
    if (!format.encoder) {
      LogMessage(L"InitAudioEncoder: Could not find a suitable encoder for the selected format.");
      return false;
    }
    return SUCCEEDED(file_.Create(format.muxer, path)) &&
           SUCCEEDED(audio_.mix().Open(file_, AudioEncoding{format.encoder, AudioBitRate(config_.AudioQuality)},
                                       L"InitAudioEncoder")) &&
           SUCCEEDED(mixer.PrepareInputs(kAudioLogPrefix, trackSources_)) && SUCCEEDED(file_.OpenRecoverable());
  }

  bool OpenTracks(const std::wstring& path) {
    if (FAILED(file_.Create("mp4", path))) return false;
    if (tracks_.Tracks().empty()) {
      LogMessage(L"AudioRecorder: [ERROR] Multi-track is enabled, but no tracks are configured.");
      return false;
    }
    for (const TrackConfig& track : tracks_.Tracks()) audio_.AddTrackStreams(track, file_, AudioBitRate(config_.AudioQuality));
    if (!audio_.hasTracks()) {
      LogMessage(L"AudioRecorder: [FATAL] No audio tracks could be successfully initialized.");
      return false;
    }
    return SUCCEEDED(file_.OpenRecoverable());
  }

  const AppConfig config_;
  const MultiTrackConfig tracks_;
  bool multiTrack_ = false;
  bool trackSources_ = false;
  std::int64_t nextSizeUpdate_ = 0;  // recording time at which a WAV's sizes are written next
  // COM on the recording thread, which opens the sources; released after everything below.
  std::optional<ComApartment> com_;
  MuxedFile file_{kAudioLogPrefix};
  RecordingAudio audio_{kAudioLogPrefix};
};

}  // namespace

std::unique_ptr<RecordingBackend> MakeAudioBackend(AppConfig config, MultiTrackConfig tracks) {
  return std::make_unique<AudioBackend>(std::move(config), std::move(tracks));
}

}  // namespace vistrel
