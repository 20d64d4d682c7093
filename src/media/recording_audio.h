// The audio of a recording: the configured sources mixed into one stream, or each source in a
// stream of its own (multi-track), written on the recording clock. Shared by the video and audio
// recorders.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <utility>
#include <string>
#include <vector>

#include "media/audio_mixer.h"
#include "media/audio_stream.h"
#include "media/muxed_file.h"
#include "media/source_track.h"

namespace vistrel {

class RecordingAudio {
 public:
  explicit RecordingAudio(const wchar_t* prefix) : prefix_(prefix) {}
  RecordingAudio(const RecordingAudio&) = delete;
  RecordingAudio& operator=(const RecordingAudio&) = delete;

  // The mixed stream's sources and its encoder; `mix` stays closed when the sources go to tracks.
  AudioMixer& mixer() { return mixer_; }
  AudioEncoderStream& mix() { return mix_; }
  // The microphone and the output of `track` (as far as it records them), each in a stream of its
  // own in `file`; one that cannot be opened is logged and left out.
  void AddTrackStreams(const TrackConfig& track, MuxedFile& file, int bitRate);
  bool hasTracks() const { return !tracks_.empty(); }

  // Tells the user of a source that went away, came back or followed the default device; from
  // the recording thread or a track's capture thread.
  using Notify = std::function<void(const std::wstring& title, const std::wstring& text)>;
  void SetNotify(Notify notify) { notify_ = std::move(notify); }

  // Capture on (at the start and after a pause) and off; what a restart finds queued from before
  // the pause is forgotten. At the start the user hears of chosen devices that were not there.
  void StartCapture();
  void StopCapture();

  // Writes the audio due by `due` samples; when `finishing`, first what the sources still hold
  // (unless `paused`) and then the last, partial frames.
  void WriteDue(MuxedFile& file, std::int64_t due, bool finishing, bool paused = false);
  // Drains every encoder at the end.
  void Flush(MuxedFile& file);
  // Stops and frees every source.
  void Release();

 private:
  void LogBacklog(const std::wstring& source, std::int64_t samples);
  // Tells once that the default stands in for a chosen microphone or output that was not there.
  void TellReplacedChoices();
  void Tell(const AudioSource& source, SourceChange change);

  const wchar_t* prefix_;
  AudioMixer mixer_;
  AudioEncoderStream mix_;
  std::vector<std::unique_ptr<SourceTrack>> tracks_;
  bool threadsStarted_ = false;
  bool capturing_ = false;
  bool backlogLogged_ = false;  // the first drop of old audio is logged, later ones are not
  Notify notify_;
};

// The message (title and text, msgids) that tells of a change of a source.
std::pair<const wchar_t*, const wchar_t*> SourceChangeMessage(bool microphone, SourceChange change);

}  // namespace vistrel
