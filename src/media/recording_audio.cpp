#include "media/recording_audio.h"

#include "core/log.h"

namespace vistrel {

void RecordingAudio::AddTrackStreams(const TrackConfig& track, MuxedFile& file, int bitRate) {
  for (const bool input : {true, false}) {
    if (input ? !TrackRecordsAudioInput(track) : !TrackRecordsAudioOutput(track)) continue;
    const std::wstring kind = input ? L"input" : L"output";
    LogMessage(L"Initializing audio " + kind + L" stream for track: " + track.name);
    auto source = std::make_unique<SourceTrack>(track.name, input, input ? track.input_volume : track.output_volume);
    if (FAILED(source->Open(prefix_, input ? track.audio_input_id : track.audio_output_id, file, bitRate))) {
      LogMessage(std::wstring(prefix_) + L"[ERROR] Failed to initialize audio " + kind + L" stream for track: " +
                 track.name);
      continue;
    }
    tracks_.push_back(std::move(source));
  }
}

void RecordingAudio::StartCapture() {
  if (!threadsStarted_) {
    for (auto& track : tracks_) track->StartThread();
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
    if (!paused) mixer_.DrainClients(prefix_);
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

void RecordingAudio::LogBacklog(const std::wstring& source, std::int64_t samples) {
  if (backlogLogged_) return;
  backlogLogged_ = true;
  LogMessage(std::wstring(prefix_) + L"[WARNING] " + source + L" delivers more than the recording clock; dropped " +
             std::to_wstring(samples * 1000 / kMixSampleRate) + L" ms of its oldest audio (logged once).");
}

}  // namespace vistrel
