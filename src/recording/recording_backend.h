// What a recorder (video, audio, GIF) offers the recording session that runs it: a narrow table of
// operations, all called on the session's recording thread except the constant facts at the top.
// The session owns the recording's life (countdown, states, pause clock, the output file's removal,
// sounds and outcome events); a backend only opens, captures, pauses and finishes. Windows-free.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>

#include "core/sound.h"
#include "recording/lifecycle_lines.h"

namespace vistrel {

// What the user is told: a balloon's title and text as msgids, translated where they are shown;
// a "%s" in the text takes `detail` (the file's path, or why a recording failed).
struct RecordingMessage {
  std::wstring title;
  std::wstring text;
  std::wstring detail;
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
  std::int64_t recorded = 0;   // recording time now, in clock ticks (pauses excluded)
  std::int64_t frequency = 1;  // clock ticks per second
  bool paused = false;         // true: nothing is recorded, the backend may only watch
};

struct FinishResult {
  enum class Outcome {
    kSaved,      // the file plays; `message`, when set, is told instead of the usual one
    kDiscarded,  // nothing was recorded: the session removes the file and tells `message`
    kFailed,     // the file could not be completed: `message` says why (what is on disk is kept)
  };
  Outcome outcome = Outcome::kSaved;
  RecordingMessage message;

  static FinishResult Failed(RecordingMessage why) { return {Outcome::kFailed, std::move(why)}; }
  static FinishResult Discarded(RecordingMessage why) { return {Outcome::kDiscarded, std::move(why)}; }
};

class RecordingBackend {
 public:
  // What the session needs to know of a backend, fixed when it is made.
  struct Facts {
    const wchar_t* prefix = L"";    // of its log lines: "Recorder: ", "AudioRecorder: ", ...
    RecordingSounds sounds;
    bool canPause = false;
    RecordingMessage saved;         // its detail becomes the file's path
    RecordingMessage startFailed;
    LifecycleLines lines;           // what its log says at each point of a recording's life
  };

  explicit RecordingBackend(Facts facts) : facts_(std::move(facts)) {}
  virtual ~RecordingBackend() = default;
  // Readable from any thread.
  const Facts& facts() const { return facts_; }

  // On the recording thread, in this order: ClaimOutput; Open (after a successful claim); then,
  // after a successful Open, Tick, Pause and Resume as the session decides and Finish once; after a
  // failed claim or Open, Abort once. The backend is destroyed on the same thread.
  //
  // The output file created empty (its folder made when missing); empty when none could be made
  // (logged).
  virtual std::wstring ClaimOutput() = 0;
  // Tells the user something while recording goes on (a changed capture method, a lost device).
  using Notify = std::function<void(const RecordingMessage&)>;
  // Opens sources, encoders and the file and starts capture; false when the recording cannot
  // start (logged). `notify` stays usable until the backend is destroyed.
  virtual bool Open(const std::wstring& path, const Notify& notify) = 0;
  virtual TickResult Tick(const TickInfo& info) = 0;
  // Stops capture; Resume starts it again (the session plays the sounds in between).
  virtual void Pause() = 0;
  virtual void Resume() = 0;
  // Writes what is due up to the final recording time and closes the file; `end.paused` when the
  // recording was stopped while paused (capture is stopped then). `hurry` may be set meanwhile from
  // another thread (Windows is ending the session): work that a later start can do is left to it.
  virtual FinishResult Finish(const TickInfo& end, const std::atomic<bool>& hurry) = 0;
  // Releases what a failed start left open; the session removes the file.
  virtual void Abort() = 0;

 private:
  Facts facts_;
};

}  // namespace vistrel
