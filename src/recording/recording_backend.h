// What a recorder (video, audio, GIF) offers the recording session that runs it: a narrow table of
// operations, all called on the session's recording thread except the constant facts at the top.
// The session owns the recording's life (countdown, states, pause clock, the output file's removal,
// sounds and outcome events); a backend only opens, captures, pauses and finishes. Windows-free.
#pragma once

#include <cstdint>
#include <string>

namespace vistrel {

// The sound files of a recording's events; played to their end by the session, empty for none.
struct SessionSounds {
  bool enabled = false;
  std::wstring start;
  std::wstring stop;
  std::wstring pause;
  std::wstring resume;
};

// A balloon's title and text, translated.
struct RecordingMessage {
  std::wstring title;
  std::wstring text;
};

// What one tick asks of the session.
struct TickResult {
  enum class Action {
    kContinue,  // call Tick again when the recording time reaches `nextDue`
    kPause,     // pause by itself (no sound); refused while the user has paused
    kResume,    // resume by itself (no sound); refused while the user has paused
    kStop,      // the recording ended by itself (target closed, duration reached): finish and save
    kFail,      // the recording cannot go on (`failure` says why): finish what is on disk, announce it
  };
  Action action = Action::kContinue;
  std::int64_t nextDue = 0;  // recording time, in clock ticks; ignored while paused
  RecordingMessage failure;  // kFail
};

struct TickInfo {
  std::int64_t recorded = 0;  // recording time now, in clock ticks (pauses excluded)
  bool paused = false;        // true: nothing is recorded, the backend may only watch
};

struct FinishResult {
  enum class Outcome {
    kSaved,      // the file is complete
    kDiscarded,  // nothing was recorded: the session removes the file
    kFailed,     // the file could not be completed: `failure` says why (what is on disk is kept)
  };
  Outcome outcome = Outcome::kSaved;
  RecordingMessage failure;
};

class RecordingBackend {
 public:
  virtual ~RecordingBackend() = default;

  // Constant facts, readable from any thread.
  virtual const wchar_t* LogPrefix() const = 0;  // "Recorder: ", "AudioRecorder: ", "GIF Recorder: "
  virtual const SessionSounds& Sounds() const = 0;
  virtual bool CanPause() const = 0;

  // On the recording thread, in this order: ClaimOutput; Open (after a successful claim); then,
  // after a successful Open, Tick, Pause and Resume as the session decides and Finish once; after a
  // failed claim or Open, Abort once. The backend is destroyed on the same thread.
  //
  // The output file created empty (its folder made when missing); empty when none could be made
  // (logged).
  virtual std::wstring ClaimOutput() = 0;
  // Opens sources, encoders and the file; false when the recording cannot start (logged).
  virtual bool Open(const std::wstring& path) = 0;
  virtual TickResult Tick(const TickInfo& info) = 0;
  // Stops capture; Resume starts it again (the session plays the sounds in between).
  virtual void Pause() = 0;
  virtual void Resume() = 0;
  // Writes what is due up to `recorded` (the final recording time) and closes the file.
  virtual FinishResult Finish(std::int64_t recorded, bool paused) = 0;
  // Releases what a failed start left open; the session removes the file.
  virtual void Abort() = 0;

  // The balloons for a saved file and a start that failed.
  virtual RecordingMessage SavedMessage(const std::wstring& path) const = 0;
  virtual RecordingMessage StartFailedMessage() const = 0;
};

}  // namespace vistrel
