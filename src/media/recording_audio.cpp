#include "media/recording_audio.h"

#include "core/log.h"
#include "i18n/msgid.h"

namespace vistrel {

void RecordingAudio::AddTrackStreams(const TrackConfig& track, MuxedFile& file, int bitRate) {
  for (const bool input : {true, false}) {
    if (input ? !TrackRecordsAudioInput(track) : !TrackRecordsAudioOutput(track)) continue;
    const std::wstring kind = input ? L"input" : L"output";
    LogMessage(L"Initializing audio " + kind + L" stream for track: " + track.name);
    auto source = std::make_unique<SourceTrack>(track.name, input, TrackGain(input ? track.input_volume : track.output_volume));
    if (FAILED(source->Open(prefix_, input ? track.audio_input_id : track.audio_output_id, file, bitRate))) {
      LogMessage(std::wstring(prefix_) + L"[ERROR] Failed to initialize audio " + kind + L" stream for track: " +
                 track.name);
      continue;
    }
    tracks_.push_back(std::move(source));
  }
}

std::pair<const wchar_t*, const wchar_t*> SourceChangeMessage(bool microphone, SourceChange change) {
  switch (change) {
    case SourceChange::kLost:
      return {N_(L"Audio Source Lost"),
              microphone ? N_(L"The microphone is gone. The recording goes on with silence in its place until it is back.")
                         : N_(L"The system audio is gone. The recording goes on with silence in its place until it is back.")};
    case SourceChange::kBack:
      return {N_(L"Audio Source Back"), microphone ? N_(L"The microphone is back in the recording.")
                                                   : N_(L"The system audio is back in the recording.")};
    case SourceChange::kFollowedDefault:
      return {N_(L"Audio Source Changed"),
              microphone ? N_(L"The recording now takes the sound of the new default microphone.")
                         : N_(L"The recording now takes the sound of the new default output.")};
    case SourceChange::kNone:
      break;
  }
  return {nullptr, nullptr};
}

void RecordingAudio::TellReplacedChoices() {
  bool microphone = false;
  bool output = false;
  for (const MixInput& input : mixer_.inputs()) (input.source->isInput ? microphone : output) |= input.source->replacedChosen;
  for (const auto& track : tracks_) (track->microphone() ? microphone : output) |= track->replacedChosen();
  if (!notify_ || !(microphone || output)) return;
  notify_(N_(L"Audio Source Changed"),
          microphone && output ? N_(L"The chosen microphone and audio output are not connected. The default devices are recorded instead.")
          : microphone         ? N_(L"The chosen microphone is not connected. The default microphone is recorded instead.")
                               : N_(L"The chosen audio output is not connected. The default output is recorded instead."));
}

void RecordingAudio::StartCapture() {
  if (!threadsStarted_) {
    TellReplacedChoices();
    for (auto& track : tracks_) {
      track->StartThread([this](const AudioSource& source, SourceChange change) { Tell(source, change); });
    }
    threadsStarted_ = true;
  } else {
    mixer_.ResetFifos();
  }
  mixer_.StartClients();
  for (auto& track : tracks_) track->Start();
  capturing_ = true;
}

void RecordingAudio::StopCapture() {
  mixer_.StopClients();
  for (auto& track : tracks_) track->Stop();
  capturing_ = false;
}

void RecordingAudio::WriteDue(MuxedFile& file, std::int64_t due, bool finishing, bool paused) {
  if (mix_.open()) {
    if (!paused) {
      mixer_.DrainAndWatch(prefix_, [this](const AudioSource& source, SourceChange change) { Tell(source, change); });
    }
    mix_.WriteDue(file, due, finishing, [this](AVFrame* frame, int available) { mixer_.MixInto(frame, available); },
                  L"Audio");
    if (!finishing) {
      mixer_.BoundBacklogs(mix_.samplesWritten(),
                           [this](const std::wstring& source, std::int64_t samples) { LogBacklog(source, samples); });
    }
  }
  for (auto& track : tracks_) {
    const std::int64_t dropped = track->WriteDue(file, due, finishing);
    if (dropped > 0) LogBacklog(L"Track " + track->name(), dropped);
  }
}

void RecordingAudio::Flush(MuxedFile& file) {
  mix_.Flush(file, L"Audio (Flush)");
  for (auto& track : tracks_) track->Flush(file);
}

void RecordingAudio::Release() {
  tracks_.clear();  // each joins its thread and frees its source
  mixer_.Release();
  mix_ = AudioEncoderStream();
  threadsStarted_ = capturing_ = false;
}

void RecordingAudio::Tell(const AudioSource& source, SourceChange change) {
  const auto [title, text] = SourceChangeMessage(source.isInput, change);
  if (title && notify_) notify_(title, text);
}

void RecordingAudio::LogBacklog(const std::wstring& source, std::int64_t samples) {
  if (backlogLogged_) return;
  backlogLogged_ = true;
  LogMessage(std::wstring(prefix_) + L"[WARNING] " + source + L" delivers more than the recording clock; dropped " +
             std::to_wstring(samples * 1000 / kMixSampleRate) + L" ms of its oldest audio (logged once).");
}

}  // namespace vistrel
