#include "recording/recording_session.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <system_error>
#include <utility>

#include "core/log.h"

namespace vistrel {
namespace {

// While paused the backend is still given a look this often (a window recorder watches the focus).
constexpr std::chrono::milliseconds kPausedTickInterval{100};

// A message for the log: the English text with its detail in place of "%s".
std::wstring Describe(const RecordingMessage& message) {
  std::wstring text = message.text;
  const std::size_t at = text.find(L"%s");
  if (at != std::wstring::npos) {
    text.replace(at, 2, message.detail);
  } else if (!message.detail.empty()) {
    text += L" (" + message.detail + L")";
  }
  return text;
}

}  // namespace

const wchar_t* PhaseName(RecordingPhase phase) {
  switch (phase) {
    case RecordingPhase::kIdle: return L"IDLE";
    case RecordingPhase::kCountingDown: return L"COUNTING DOWN";
    case RecordingPhase::kStarting: return L"STARTING";
    case RecordingPhase::kRecording: return L"RECORDING";
    case RecordingPhase::kPauseRequested: return L"PAUSE REQUESTED";
    case RecordingPhase::kPaused: return L"PAUSED";
    case RecordingPhase::kResumeRequested: return L"RESUME REQUESTED";
    case RecordingPhase::kStopping: return L"STOPPING";
  }
  return L"?";
}

bool IsRecordingOrStopping(RecordingPhase phase) {
  return phase != RecordingPhase::kIdle && phase != RecordingPhase::kCountingDown &&
         phase != RecordingPhase::kStarting;
}

RecordingSession::RecordingSession(SessionHost& host) : host_(host) {}

RecordingSession::~RecordingSession() { Shutdown(std::chrono::milliseconds::max()); }

void RecordingSession::Log(const std::wstring& text) const { LogMessage(prefix_ + text); }

void RecordingSession::SetPhaseLocked(RecordingPhase phase) {
  if (phase_.load() == phase) return;
  phase_.store(phase);
  Log(std::wstring(L"State changed to ") + PhaseName(phase) + L".");
  SessionHost::Event event;
  event.type = SessionHost::Event::Type::kStateChanged;
  event.phase = phase;
  host_.OnEvent(event);
  wake_.notify_all();
}

void RecordingSession::SetPhase(RecordingPhase phase) {
  std::lock_guard guard(lock_);
  SetPhaseLocked(phase);
}

void RecordingSession::Emit(SessionHost::Event event) {
  std::lock_guard guard(lock_);
  host_.OnEvent(event);
}

void RecordingSession::RefuseLocked(Refusal why) {
  SessionHost::Event event;
  event.type = SessionHost::Event::Type::kRefused;
  event.refusal = why;
  host_.OnEvent(event);
}

void RecordingSession::PlaySound(const std::wstring& file) {
  if (!file.empty()) host_.PlaySoundSync(file);
}

std::int64_t RecordingSession::Recorded() { return clock_.Recorded(host_.Now()); }

bool RecordingSession::Start(std::unique_ptr<RecordingBackend> backend) {
  if (!backend) return false;
  std::lock_guard guard(lock_);
  const RecordingPhase phase = phase_.load();
  const std::wstring prefix = backend->facts().prefix;
  if (phase == RecordingPhase::kCountingDown || phase == RecordingPhase::kStarting) {
    LogMessage(prefix + L"[WARNING] A recording is already starting. Request ignored.");
    return false;
  }
  if (phase != RecordingPhase::kIdle || !finished_) {
    LogMessage(prefix + L"Start requested but state is not idle. Ignoring.");
    return false;
  }
  if (shuttingDown_) return false;
  // The thread of the last recording has done everything but return.
  if (thread_.joinable()) thread_.join();
  prefix_ = prefix;
  canPause_ = backend->facts().canPause;
  backend_ = std::move(backend);
  stopRequested_ = automatic_ = pausedByUser_ = false;
  finished_ = false;
  SetPhaseLocked(RecordingPhase::kCountingDown);
  try {
    thread_ = std::thread(&RecordingSession::Run, this);
  } catch (const std::system_error&) {
    Log(L"[FATAL] Failed to create countdown thread.");
    backend_.reset();
    finished_ = true;
    SetPhaseLocked(RecordingPhase::kIdle);
    finishedSignal_.notify_all();
    return false;
  }
  return true;
}

void RecordingSession::Stop() {
  std::lock_guard guard(lock_);
  switch (phase_.load()) {
    case RecordingPhase::kIdle:
    case RecordingPhase::kStopping:
      return;
    case RecordingPhase::kCountingDown:
      Log(L"Stop requested during the countdown. Ignored.");
      RefuseLocked(Refusal::kCountdownRunning);
      return;
    case RecordingPhase::kStarting:
      if (!stopRequested_) Log(L"Stop requested. The recording ends as soon as it has started.");
      stopRequested_ = true;
      return;
    default:
      Log(L"Stop requested.");
      SetPhaseLocked(RecordingPhase::kStopping);
      return;
  }
}

void RecordingSession::Toggle(const std::function<std::unique_ptr<RecordingBackend>()>& make) {
  const RecordingPhase phase = phase_.load();
  if (phase == RecordingPhase::kCountingDown) {
    std::lock_guard guard(lock_);
    Log(L"[WARNING] A recording is already starting. Request ignored.");
    RefuseLocked(Refusal::kCountdownRunning);
    return;
  }
  if (phase == RecordingPhase::kStopping) {
    std::lock_guard guard(lock_);
    Log(L"Start requested but state is not idle. Ignoring.");
    RefuseLocked(Refusal::kStillSaving);
    return;
  }
  if (phase == RecordingPhase::kIdle) {
    // Made only when it may start: making one can ask the user (which window to record).
    std::unique_ptr<RecordingBackend> backend = make ? make() : nullptr;
    if (backend) Start(std::move(backend));
    return;
  }
  Stop();
}

void RecordingSession::Pause() {
  std::lock_guard guard(lock_);
  if (!canPause_ || phase_.load() != RecordingPhase::kRecording) return;
  automatic_ = false;
  pausedByUser_ = true;
  Log(L"Requesting pause.");
  SetPhaseLocked(RecordingPhase::kPauseRequested);
}

void RecordingSession::Resume() {
  std::lock_guard guard(lock_);
  if (!canPause_ || phase_.load() != RecordingPhase::kPaused) return;
  automatic_ = false;
  pausedByUser_ = false;
  Log(L"Requesting resume.");
  SetPhaseLocked(RecordingPhase::kResumeRequested);
}

void RecordingSession::TogglePause() {
  if (phase_.load() == RecordingPhase::kPaused) {
    Resume();
  } else {
    Pause();
  }
}

std::wstring RecordingSession::LastSavedPath() const {
  std::lock_guard guard(lock_);
  return lastSaved_;
}

std::wstring RecordingSession::OutputPath() const {
  std::lock_guard guard(lock_);
  return current_.empty() ? lastSaved_ : current_;
}

void RecordingSession::BeginShutdown() {
  std::lock_guard guard(lock_);
  shuttingDown_ = true;
  switch (phase_.load()) {
    case RecordingPhase::kIdle:
    case RecordingPhase::kStopping:
      break;
    case RecordingPhase::kCountingDown:
      // Should the countdown end before it hears of the cancel, the recording stops at once.
      stopRequested_ = true;
      host_.CancelCountdown();
      break;
    case RecordingPhase::kStarting:
      stopRequested_ = true;
      break;
    default:
      Log(L"Stop requested.");
      SetPhaseLocked(RecordingPhase::kStopping);
      break;
  }
}

bool RecordingSession::WaitFinished(std::chrono::milliseconds limit) {
  std::unique_lock guard(lock_);
  const bool done = limit == std::chrono::milliseconds::max()
                        ? (finishedSignal_.wait(guard, [this] { return finished_; }), true)
                        : finishedSignal_.wait_for(guard, limit, [this] { return finished_; });
  guard.unlock();
  if (done && thread_.joinable()) thread_.join();
  return done;
}

void RecordingSession::Run() {
  std::unique_ptr<RecordingBackend> backend;
  {
    std::lock_guard guard(lock_);
    backend = std::move(backend_);
  }
  bool record = true;
  switch (host_.RunCountdown()) {
    case CountdownOutcome::kFinished:
      Log(L"Countdown finished. Proceeding with recording initialization.");
      break;
    case CountdownOutcome::kNotShown:
      Log(L"Countdown window failed to create. Starting recording immediately.");
      break;
    case CountdownOutcome::kBusy: {
      std::lock_guard guard(lock_);
      Log(L"[WARNING] Another recording is counting down. Start cancelled.");
      RefuseLocked(Refusal::kAnotherCountingDown);
      record = false;
      break;
    }
    case CountdownOutcome::kCancelled:
      Log(L"The countdown was cancelled. Start cancelled.");
      record = false;
      break;
  }
  if (record) {
    SetPhase(RecordingPhase::kStarting);
    const RecordingSounds& sounds = backend->facts().sounds;
    PlaySound(sounds.enabled ? sounds.start : std::wstring());
    const std::wstring path = backend->ClaimOutput();
    {
      std::lock_guard guard(lock_);
      current_ = path;
    }
    const RecordingBackend::Notify notify = [this](const RecordingMessage& message) {
      SessionHost::Event event;
      event.type = SessionHost::Event::Type::kNotice;
      event.message = message;
      Log(L"Notice: " + Describe(message));
      Emit(event);
    };
    if (!path.empty() && backend->Open(path, notify)) {
      RunRecording(*backend, path);
    } else {
      backend->Abort();
      if (!path.empty()) host_.RemoveFile(path);
      SessionHost::Event event;
      event.type = SessionHost::Event::Type::kFailed;
      event.message = backend->facts().startFailed;
      Log(L"Failed: " + Describe(event.message));
      const RecordingSounds& sounds = backend->facts().sounds;
      if (sounds.enabled) PlaySound(sounds.failed);
      Emit(event);
    }
  }
  backend.reset();  // released on this thread, where its sources were opened
  std::lock_guard guard(lock_);
  current_.clear();
  finished_ = true;
  SetPhaseLocked(RecordingPhase::kIdle);
  finishedSignal_.notify_all();
}

void RecordingSession::RunRecording(RecordingBackend& backend, const std::wstring& path) {
  clock_.Start(host_.Now());
  {
    std::lock_guard guard(lock_);
    Log(L"All initializations successful. Recording is now active.");
    SetPhaseLocked(stopRequested_ ? RecordingPhase::kStopping : RecordingPhase::kRecording);
  }
  std::optional<RecordingMessage> failure;
  std::int64_t nextDue = 0;
  for (;;) {
    const RecordingPhase phase = phase_.load();
    if (phase == RecordingPhase::kStopping) break;
    if (ApplyPauseRequest(backend, phase)) continue;
    const bool paused = phase == RecordingPhase::kPaused;
    const std::int64_t recorded = Recorded();
    if (!paused && recorded < nextDue) {
      WaitForNextTick(phase, nextDue);
      continue;
    }
    const TickResult result = backend.Tick(TickInfo{recorded, host_.Frequency(), paused});
    std::unique_lock guard(lock_);
    const RecordingPhase now = phase_.load();
    switch (result.action) {
      case TickResult::Action::kContinue:
        break;
      case TickResult::Action::kPause:
        if (now == RecordingPhase::kRecording && !pausedByUser_) {
          automatic_ = true;
          Log(L"Requesting pause.");
          SetPhaseLocked(RecordingPhase::kPauseRequested);
        }
        break;
      case TickResult::Action::kResume:
        if (now == RecordingPhase::kPaused && !pausedByUser_) {
          automatic_ = true;
          Log(L"Requesting resume.");
          SetPhaseLocked(RecordingPhase::kResumeRequested);
        }
        break;
      case TickResult::Action::kFail:
        failure = result.failure;
        [[fallthrough]];
      case TickResult::Action::kStop:
        if (now != RecordingPhase::kStopping) {
          Log(L"Stop requested.");
          SetPhaseLocked(RecordingPhase::kStopping);
        }
        break;
    }
    if (!paused) nextDue = result.nextDue;
    if (paused && phase_.load() == RecordingPhase::kPaused) {
      wake_.wait_for(guard, kPausedTickInterval);
    }
  }
  Finish(backend, path, failure ? &*failure : nullptr);
}

bool RecordingSession::ApplyPauseRequest(RecordingBackend& backend, RecordingPhase phase) {
  const RecordingSounds& sounds = backend.facts().sounds;
  bool automatic = false;
  {
    std::lock_guard guard(lock_);
    automatic = automatic_;
  }
  if (phase == RecordingPhase::kPauseRequested) {
    // The pause counts from the moment capture stops, so the sound that confirms it is not
    // recorded and leaves no gap in the file.
    backend.Pause();
    clock_.Pause(host_.Now());
    if (!automatic && sounds.enabled) PlaySound(sounds.pause);
    std::lock_guard guard(lock_);
    if (phase_.load() == RecordingPhase::kPauseRequested) SetPhaseLocked(RecordingPhase::kPaused);
    return true;
  }
  if (phase == RecordingPhase::kResumeRequested) {
    if (!automatic && sounds.enabled) PlaySound(sounds.resume);
    backend.Resume();
    clock_.Resume(host_.Now());
    std::lock_guard guard(lock_);
    if (phase_.load() == RecordingPhase::kResumeRequested) SetPhaseLocked(RecordingPhase::kRecording);
    return true;
  }
  return false;
}

void RecordingSession::WaitForNextTick(RecordingPhase seen, std::int64_t deadline) {
  const std::int64_t frequency = std::max<std::int64_t>(host_.Frequency(), 1);
  // At most a second at a time: the clock is read again after every wake-up.
  const std::int64_t left = std::min(deadline - Recorded(), frequency);
  if (left <= 0) return;
  std::unique_lock guard(lock_);
  wake_.wait_for(guard, std::chrono::microseconds(left * 1000000 / frequency),
                 [&] { return phase_.load() != seen; });
}

void RecordingSession::Finish(RecordingBackend& backend, const std::wstring& path, const RecordingMessage* failure) {
  const bool paused = clock_.paused();
  const std::int64_t recorded = Recorded();
  wchar_t seconds[64];
  std::swprintf(seconds, 64, L"Recorded %.3f s.",
                static_cast<double>(recorded) / static_cast<double>(std::max<std::int64_t>(host_.Frequency(), 1)));
  Log(seconds);
  const FinishResult result = backend.Finish(TickInfo{recorded, host_.Frequency(), paused});
  const RecordingSounds& sounds = backend.facts().sounds;
  const bool failed = failure || result.outcome == FinishResult::Outcome::kFailed;
  if (sounds.enabled) PlaySound(failed ? sounds.failed : sounds.stop);
  SessionHost::Event event;
  event.path = path;
  if (failed) {
    event.type = SessionHost::Event::Type::kFailed;
    event.message = failure ? *failure : result.failure;
    Log(L"Failed: " + Describe(event.message));
  } else if (result.outcome == FinishResult::Outcome::kDiscarded) {
    host_.RemoveFile(path);
    return;
  } else {
    event.type = SessionHost::Event::Type::kSaved;
    event.message = backend.facts().saved;
    event.message.detail = path;
    Log(L"Saved: " + path);
    std::lock_guard guard(lock_);
    lastSaved_ = path;
  }
  Emit(event);
}

}  // namespace vistrel
