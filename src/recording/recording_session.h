// The life of one recorder's recordings, whatever they record: the one state machine, the
// recording thread, the countdown, the pause clock, the removal of a file that a failed start
// leaves, the event sounds and the outcome events. Video, audio and GIF are backends behind it
// (recording_backend.h). Windows-free, so that it is tested natively with a fake backend and clock.
//
//   Idle -> CountingDown -> Starting -> Recording <-> (PauseRequested) Paused (ResumeRequested)
//        -> Stopping -> Idle
//
// Requests (Start, Stop, Pause, Resume) come from any thread and never wait for the recording
// thread: they change the state under a short lock and wake the thread, which acts on them. The
// state is readable at any time without waiting.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "recording/pause_clock.h"
#include "recording/recording_backend.h"

namespace vistrel {

enum class RecordingPhase : int {
  kIdle,
  kCountingDown,
  kStarting,
  kRecording,
  kPauseRequested,
  kPaused,
  kResumeRequested,
  kStopping,
};

// "IDLE", "COUNTING DOWN", ... as the log's state lines name them.
const wchar_t* PhaseName(RecordingPhase phase);

// True while a recording has been asked for and not finished (anything but Idle).
inline bool IsActive(RecordingPhase phase) { return phase != RecordingPhase::kIdle; }

// True from the moment the recording started until it is finished (the tray shows these).
bool IsRecordingOrStopping(RecordingPhase phase);

enum class CountdownOutcome {
  kFinished,  // shown to its end: record
  kNotShown,  // the window could not be shown: record at once
  kBusy,      // another recorder is counting down: this start is cancelled
  kCancelled, // the countdown was cancelled (the program is closing)
};

// Why a request was refused; the program tells the user (sound and words).
enum class Refusal {
  kCountdownRunning,     // a stop while counting down: the countdown cannot be cut short
  kStillSaving,          // a start while the last recording is still being finished
  kAnotherCountingDown,  // another recorder's countdown is on the screen
};

// What a session needs from the program around it. Every member may be called on the recording
// thread; OnEvent also on the thread that made a request, with the session's lock held (it must
// not call back into the session).
class SessionHost {
 public:
  virtual ~SessionHost() = default;
  // A monotonic clock.
  virtual std::int64_t Now() const = 0;
  virtual std::int64_t Frequency() const = 0;
  // Runs the countdown on the calling (recording) thread; CancelCountdown, from another thread,
  // makes a running one return kCancelled.
  virtual CountdownOutcome RunCountdown() = 0;
  virtual void CancelCountdown() = 0;
  virtual void PlaySoundSync(const std::wstring& file) = 0;
  virtual void RemoveFile(const std::wstring& path) = 0;

  struct Event {
    enum class Type { kStateChanged, kSaved, kFailed, kNotice, kRefused };
    Type type = Type::kStateChanged;
    RecordingPhase phase = RecordingPhase::kIdle;  // kStateChanged
    std::wstring path;                             // kSaved; kFailed when a file was kept
    RecordingMessage message;                      // kSaved, kFailed, kNotice
    Refusal refusal = Refusal::kCountdownRunning;  // kRefused
  };
  virtual void OnEvent(const Event& event) = 0;
};

class RecordingSession {
 public:
  explicit RecordingSession(SessionHost& host);
  RecordingSession(const RecordingSession&) = delete;
  RecordingSession& operator=(const RecordingSession&) = delete;
  // Waits for a recording to finish (see Shutdown).
  ~RecordingSession();

  // Starts a recording with `backend` (countdown first) unless one is active; false when refused
  // (logged). The backend is destroyed on the recording thread.
  bool Start(std::unique_ptr<RecordingBackend> backend);
  // Ends the recording: at once while recording or paused; during set-up as soon as it is done.
  // Refused (kCountdownRunning) while counting down; ignored while idle or already stopping.
  void Stop();
  // Stop when a recording runs; otherwise a start with the backend `make` gives (not called when
  // refused: kStillSaving while the last one is finished; it may return null to give up).
  void Toggle(const std::function<std::unique_ptr<RecordingBackend>()>& make);
  // A pause from Recording, a resume from Paused (the user's; Toggle picks the one that applies).
  // Ignored in other states and by backends that cannot pause.
  void Pause();
  void Resume();
  void TogglePause();

  RecordingPhase phase() const { return phase_.load(); }
  // The last file saved (kept after the recording, for "show me the file").
  std::wstring LastSavedPath() const;
  // The file being recorded, or else the last one saved.
  std::wstring OutputPath() const;

  // At exit: stops the recording (cancelling a countdown); nothing starts any more. Then
  // WaitFinished waits up to `limit` for it to be finished: true when nothing is left running.
  void BeginShutdown();
  bool WaitFinished(std::chrono::milliseconds limit);
  bool Shutdown(std::chrono::milliseconds limit) {
    BeginShutdown();
    return WaitFinished(limit);
  }

 private:
  void Run();
  void RunRecording(RecordingBackend& backend, const std::wstring& path);
  // Handles a pending pause or resume; false when there was none.
  bool ApplyPauseRequest(RecordingBackend& backend, RecordingPhase phase);
  void Finish(RecordingBackend& backend, const std::wstring& path, const RecordingMessage* failure);
  // Waits until `deadline` (recording ticks, or paused: a fixed interval) or a request.
  void WaitForNextTick(RecordingPhase seen, std::int64_t deadline);
  void SetPhaseLocked(RecordingPhase phase);
  void SetPhase(RecordingPhase phase);
  void Emit(SessionHost::Event event);
  void RefuseLocked(Refusal why);
  void Log(const std::wstring& text) const;
  void PlaySound(const std::wstring& file);
  std::int64_t Recorded();

  SessionHost& host_;
  mutable std::mutex lock_;
  std::condition_variable wake_;
  std::atomic<RecordingPhase> phase_{RecordingPhase::kIdle};
  std::unique_ptr<RecordingBackend> backend_;  // handed to the recording thread at its start
  std::wstring prefix_;                        // the running backend's log prefix
  bool canPause_ = false;
  bool stopRequested_ = false;  // a stop arrived during set-up
  bool automatic_ = false;      // the pending pause or resume was the backend's own
  bool pausedByUser_ = false;
  bool shuttingDown_ = false;
  std::wstring lastSaved_;
  std::wstring current_;  // the file of the recording under way
  PauseClock clock_;  // the recording thread's
  std::thread thread_;
  bool finished_ = true;  // the recording thread has done all it will do
  std::condition_variable finishedSignal_;
};

}  // namespace vistrel
