// One audio source written to a stream of its own (multi-track recordings): the WASAPI source, a
// thread that drains it into its FIFO while capturing, and its AAC stream in the output file.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "media/audio_mix.h"
#include "media/audio_source.h"
#include "media/audio_stream.h"
#include "media/muxed_file.h"

namespace vistrel {

class SourceTrack {
 public:
  // `name` is the track's, for the log; `gain` scales what is written.
  SourceTrack(std::wstring name, bool microphone, float gain);
  SourceTrack(const SourceTrack&) = delete;
  SourceTrack& operator=(const SourceTrack&) = delete;
  // Stops the thread and the source.
  ~SourceTrack();

  // Opens the endpoint (falling back to the default), its converter and FIFO, and its stream in
  // `file`. The file's header must not have been written yet.
  HRESULT Open(const wchar_t* prefix, const std::wstring& deviceId, MuxedFile& file, int bitRate);
  const std::wstring& name() const { return name_; }
  bool microphone() const { return microphone_; }
  // The chosen endpoint was not there at the open: the default stands in.
  bool replacedChosen() const { return source_.replacedChosen; }

  // Starts the thread that drains the source whenever it captures and watches that it is still
  // there; `onChange` (called on that thread) hears of a source that went away or came back.
  void StartThread(std::function<void(const AudioSource&, SourceChange)> onChange);
  // Capture on and off (pause); a restart forgets what was captured before it.
  void Start();
  void Stop();

  // Writes the frames due by `due` samples: silence where the source lags (its samples are used
  // later); when `finishing`, first what the source still holds, and the last partial frame.
  // Returns the samples of a standing backlog dropped (see BacklogBound).
  std::int64_t WriteDue(MuxedFile& file, std::int64_t due, bool finishing);
  void Flush(MuxedFile& file);

 private:
  void Drain();

  const std::wstring name_;
  const bool microphone_;
  const float gain_;
  const wchar_t* prefix_ = L"";
  AudioSource source_;
  AudioEncoderStream stream_;
  BacklogBound backlog_;
  std::mutex fifoLock_;  // over the source: the thread drains and watches it; the recorder reads, starts, stops it
  std::thread thread_;
  std::atomic<bool> capturing_{false};
  std::atomic<bool> quit_{false};
};

}  // namespace vistrel
