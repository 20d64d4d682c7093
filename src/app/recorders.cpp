#include "app/recorders.h"

#include <shellapi.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <vector>

#include "app/app_state.h"
#include "app/commands.h"
#include "app/countdown.h"
#include "app/tray.h"
#include "audio/audio_backend.h"
#include "capture/window_capture.h"
#include "config/app_config.h"
#include "core/balloon.h"
#include "core/log.h"
#include "core/no_destructor.h"
#include "core/sound.h"
#include "core/ui_task.h"
#include "gif/gif_backend.h"
#include "i18n/msgid.h"
#include "i18n/tr.h"
#include "media/media_clock.h"
#include "media/output_file.h"
#include "media/recovery.h"
#include "video/video_backend.h"

namespace vistrel {
namespace {

constexpr Recorder kAllRecorders[] = {Recorder::kVideo, Recorder::kAudio, Recorder::kGif};

// A recorder as the log and the user name it; `countingDown` tells which recording is in the way.
struct RecorderWords {
  const wchar_t* logPrefix;
  const wchar_t* kind;
  const wchar_t* countingDown;
};

const RecorderWords& WordsOf(Recorder recorder) {
  static const RecorderWords words[] = {  // in the order of Recorder
      {L"Recorder: ", L"video",
       N_(L"The video recording is counting down; start this one when the countdown is over.")},
      {L"AudioRecorder: ", L"audio",
       N_(L"The audio recording is counting down; start this one when the countdown is over.")},
      {L"GIF Recorder: ", L"GIF", N_(L"The GIF recording is counting down; start this one when the countdown is over.")},
  };
  return words[static_cast<int>(recorder)];
}

// Whether the recorder's event sounds are on (its refusals are heard with them).
bool EventSoundsOn(Recorder recorder) {
  const AppConfig config = ConfigSnapshot();
  switch (recorder) {
    case Recorder::kVideo: return config.PlayVideoEventSounds;
    case Recorder::kAudio: return config.PlayAudioEventSounds;
    case Recorder::kGif: return config.PlayGifEventSounds;
  }
  return true;
}

// The refused sound and a balloon (which the screen reader tells too).
void Refuse(Recorder recorder, const wchar_t* title, const wchar_t* text) {
  if (EventSoundsOn(recorder)) PlaySoundAsync(kRefusedSound);
  ShowBalloon(tr(title), tr(text));
}

void TellRefusal(Recorder recorder, Refusal why) {
  switch (why) {
    case Refusal::kCountdownRunning:
      Refuse(recorder, N_(L"Countdown Running"), N_(L"Recording starts after the countdown; press again to stop it."));
      break;
    case Refusal::kStillSaving:
      Refuse(recorder, N_(L"Recording Not Started"),
             N_(L"The last recording is still being saved. Try again in a moment."));
      break;
    case Refusal::kAnotherCountingDown:
      Refuse(recorder, N_(L"Recording Not Started"),
             N_(L"Another recording is counting down. Try again when its countdown is over."));
      break;
  }
}

// What the sessions need of the program: the performance counter, the countdown window, sounds,
// the file system and the tray.
class AppSessionHost final : public SessionHost {
 public:
  explicit AppSessionHost(Recorder recorder) : recorder_(recorder) {}

  std::int64_t Now() const override { return CounterNow(); }
  std::int64_t Frequency() const override { return CounterFrequency(); }

  CountdownOutcome RunCountdown() override {
    // A message queue first, so that a cancel posted from now on reaches the countdown's loop.
    MSG msg;
    PeekMessageW(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
    countingThread_ = GetCurrentThreadId();
    const CountdownResult result = vistrel::RunCountdown(GetModuleHandleW(nullptr));
    countingThread_ = 0;
    switch (result) {
      case CountdownResult::kFinished: return CountdownOutcome::kFinished;
      case CountdownResult::kNotShown: return CountdownOutcome::kNotShown;
      case CountdownResult::kBusy: return CountdownOutcome::kBusy;
      case CountdownResult::kInterrupted: return CountdownOutcome::kCancelled;
    }
    return CountdownOutcome::kCancelled;
  }

  void CancelCountdown() override {
    if (const DWORD thread = countingThread_.load()) PostThreadMessageW(thread, WM_QUIT, 0, 0);
  }

  void PlaySoundSync(const std::wstring& file) override { vistrel::PlaySoundSync(file); }
  void RemoveFile(const std::wstring& path) override { DeleteFileW(path.c_str()); }

  void OnEvent(const Event& event) override {
    switch (event.type) {
      case Event::Type::kStateChanged:
        PostUiTask([] {
          RefreshTrayIcon();
          ContinueExit();
        });
        break;
      case Event::Type::kSaved:
      case Event::Type::kFailed:
      case Event::Type::kNotice:
        if (!event.message.title.empty()) ShowBalloon(tr(event.message.title), tr(event.message.text, event.message.detail));
        break;
      case Event::Type::kRefused:
        TellRefusal(recorder_, event.refusal);
        break;
    }
  }

 private:
  Recorder recorder_;
  std::atomic<DWORD> countingThread_{0};
};

struct Sessions {
  AppSessionHost videoHost{Recorder::kVideo};
  AppSessionHost audioHost{Recorder::kAudio};
  AppSessionHost gifHost{Recorder::kGif};
  RecordingSession video{videoHost};
  RecordingSession audio{audioHost};
  RecordingSession gif{gifHost};
  Recovery recovery;
};

Sessions& TheSessions() {
  // Never destroyed: ShutdownRecorders ends the recordings at exit, and a session still finishing
  // past its time must not be torn down under its thread.
  static NoDestructor<Sessions> sessions;
  return *sessions;
}

// The multi-track configuration as its file says now.
MultiTrackConfig ReadTracks() {
  MultiTrackConfig tracks;
  tracks.Load();
  return tracks;
}

std::vector<HWND> OwnWindows() {
  const AppState& app = App();
  return {app.coreWindow.load(), app.trayOwner};
}

// Window mode records the foreground window, or one the user picks when that cannot be recorded.
std::unique_ptr<RecordingBackend> MakeVideo() {
  VideoPlan plan{ConfigSnapshot(), ReadTracks(), nullptr, OwnWindows()};
  if (plan.config.VideoMode == 1) {
    plan.target = GetForegroundWindow();
    if (!IsValidTargetWindow(plan.target, plan.ownWindows)) {
      LogMessage(L"Foreground window is not a valid target. Opening selection dialog.");
      plan.target = ShowWindowPicker();
      if (!plan.target) {
        LogMessage(L"Window selection cancelled by user. Aborting start.");
        return nullptr;
      }
    }
  }
  return MakeVideoBackend(std::move(plan));
}

// The window the user works in. A tray menu command can arrive while the hidden owner of the
// menu still has the foreground; the window it hands the foreground back to is the one meant.
HWND ForegroundTarget() {
  HWND window = GetForegroundWindow();
  const AppState& app = App();
  if (window && window == app.trayOwner && app.foregroundBeforeMenu) window = app.foregroundBeforeMenu;
  return window;
}

std::unique_ptr<RecordingBackend> MakeGif() {
  AppConfig config = ConfigSnapshot();
  HWND target = nullptr;
  if (config.GifMode == 1) {
    target = ForegroundTarget();
    if (!target || !IsWindow(target) || !IsWindowVisible(target)) {
      LogMessage(L"GIF Recorder: Invalid target window for capture. Aborting start.");
      Refuse(Recorder::kGif, N_(L"Recording Not Started"),
             N_(L"There is no window to record. Bring the window you want to record to the front and try again."));
      return nullptr;
    }
  }
  return MakeGifBackend(std::move(config), target);
}

std::unique_ptr<RecordingBackend> MakeBackend(Recorder recorder) {
  switch (recorder) {
    case Recorder::kVideo: return MakeVideo();
    case Recorder::kAudio: return MakeAudioBackend(ConfigSnapshot(), ReadTracks());
    case Recorder::kGif: return MakeGif();
  }
  return nullptr;
}

}  // namespace

RecordingSession& SessionOf(Recorder recorder) {
  Sessions& sessions = TheSessions();
  switch (recorder) {
    case Recorder::kVideo: return sessions.video;
    case Recorder::kAudio: return sessions.audio;
    case Recorder::kGif: return sessions.gif;
  }
  return sessions.video;
}

void ToggleRecorder(Recorder recorder) {
  RecordingSession& session = SessionOf(recorder);
  if (session.phase() == RecordingPhase::kIdle) {
    // One countdown at a time: the user is told which recording is on its way, rather than hear
    // its beeps and take them for this one's.
    for (Recorder other : kAllRecorders) {
      if (other == recorder || SessionOf(other).phase() != RecordingPhase::kCountingDown) continue;
      LogMessage(std::wstring(WordsOf(recorder).logPrefix) + L"[WARNING] Start refused: the " + WordsOf(other).kind +
                 L" recording is counting down.");
      Refuse(recorder, N_(L"Recording Not Started"), WordsOf(other).countingDown);
      return;
    }
  }
  session.Toggle([recorder] { return MakeBackend(recorder); });
}

void TogglePauseRecorder(Recorder recorder) { SessionOf(recorder).TogglePause(); }

int LegacyState(RecordingPhase phase) {
  switch (phase) {
    case RecordingPhase::kIdle:
    case RecordingPhase::kCountingDown:
    case RecordingPhase::kStarting:
      return 0;
    case RecordingPhase::kRecording: return 1;
    case RecordingPhase::kPauseRequested: return 2;
    case RecordingPhase::kPaused: return 3;
    case RecordingPhase::kResumeRequested: return 4;
    case RecordingPhase::kStopping: return 5;
  }
  return 0;
}

bool AnyRecordingShownInTray() {
  return LegacyState(SessionOf(Recorder::kVideo).phase()) != 0 ||
         IsRecordingOrStopping(SessionOf(Recorder::kGif).phase());
}

bool BeginFinishingRecorders() {
  // Every recording is asked to end first, so that they finish side by side.
  for (Recorder recorder : kAllRecorders) SessionOf(recorder).BeginShutdown();
  return RecordersIdle();
}

bool RecordersIdle() {
  for (Recorder recorder : kAllRecorders) {
    if (IsActive(SessionOf(recorder).phase())) return false;
  }
  return true;
}

bool WaitRecordersIdle(std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!RecordersIdle()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    Sleep(20);
  }
  return true;
}

void HurryRecorders() {
  for (Recorder recorder : kAllRecorders) SessionOf(recorder).Hurry();
}

void ShutdownRecorders() {
  TheSessions().recovery.Stop();
  for (Recorder recorder : kAllRecorders) SessionOf(recorder).Shutdown(std::chrono::milliseconds::max());
}

void StartRecovery() {
  const AppConfig config = ConfigSnapshot();
  std::vector<std::wstring> folders;
  // The folders the video and audio recorders write MP4 and M4A files to.
  for (const OutputPlace& place : {OutputPlace{kVideoLogPrefix, L"video", L"Videos", &FOLDERID_Videos, config.VideoPath},
                                   OutputPlace{kAudioLogPrefix, L"audio", L"Music", &FOLDERID_Music, config.AudioPath}}) {
    const std::wstring folder = RecordingFolder(place);
    if (!folder.empty()) folders.push_back(folder);
  }
  TheSessions().recovery.Start(std::move(folders), [](const std::vector<std::wstring>& names) {
    std::wstring list;
    for (const std::wstring& name : names) list += (list.empty() ? L"" : L", ") + name;
    ShowBalloon(tr(L"Recording Recovered"),
                tr(L"A recording left unfinished when Vistrel last closed has been finished: %s", list));
  });
}

void OpenVideoLocation() {
  const std::wstring path = SessionOf(Recorder::kVideo).OutputPath();
  if (path.empty()) {
    LogMessage(L"Recorder: No last video path to open.");
    return;
  }
  LogMessage(L"Recorder: Opening video location.");
  // Explorer's "explore" verb takes folders only; /select opens the folder with the video chosen.
  const std::wstring parameters = L"/select,\"" + path + L"\"";
  ShellExecuteW(nullptr, L"open", L"explorer.exe", parameters.c_str(), nullptr, SW_SHOW);
}

}  // namespace vistrel
