// The recording session with a fake backend and a fake clock: states, requests in every state,
// the recorded time across pauses, set-up that fails or is slow, finishing off the requesting
// thread, and requests racing from two threads.
#include "recording/recording_session.h"

#include <gtest/gtest.h>

#include "log_capture.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cwchar>
#include <functional>
#include <iterator>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

namespace vistrel {
namespace {

using namespace std::chrono_literals;
using Phase = RecordingPhase;
// What the host was told, in order: "sound start.wav", "state IDLE", "saved <path> <text>", ...
using Calls = std::vector<std::wstring>;

// Polls `condition` for up to five seconds (the session works on its own thread).
bool Eventually(const std::function<bool()>& condition) {
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (!condition() && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(1ms);
  return condition();
}

// A door that a test opens: whoever passes it waits until then.
class Gate {
 public:
  explicit Gate(bool open = true) : open_(open) {}
  void Pass() {
    std::unique_lock guard(lock_);
    waiting_ = true;
    changed_.notify_all();
    changed_.wait(guard, [this] { return open_; });
    waiting_ = false;
  }
  void Open() { Set(true); }
  void Set(bool open) {
    std::lock_guard guard(lock_);
    open_ = open;
    changed_.notify_all();
  }
  bool Waiting() const { return waiting_; }

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  bool open_;
  std::atomic<bool> waiting_{false};
};

// Time in milliseconds, moved only by the test.
class FakeHost : public SessionHost {
 public:
  mutable std::atomic<std::int64_t> now{0};
  std::atomic<std::int64_t> drift{0};  // how far each look at the clock moves it
  Gate countdown;
  std::atomic<CountdownOutcome> countdownOutcome{CountdownOutcome::kFinished};
  std::atomic<bool> countdownCancelled{false};

  std::int64_t Now() const override { return now.fetch_add(drift) + drift; }
  std::int64_t Frequency() const override { return 1000; }
  CountdownOutcome RunCountdown() override {
    countdown.Pass();
    return countdownCancelled ? CountdownOutcome::kCancelled : countdownOutcome.load();
  }
  void CancelCountdown() override {
    countdownCancelled = true;
    countdown.Open();
  }
  void PlaySoundSync(const std::wstring& file) override { Record(L"sound " + file); }
  void RemoveFile(const std::wstring& path) override { Record(L"remove " + path); }
  void OnEvent(const Event& event) override {
    switch (event.type) {
      case Event::Type::kStateChanged: Record(std::wstring(L"state ") + PhaseName(event.phase)); break;
      case Event::Type::kSaved: Record(L"saved " + event.message.detail + L" " + event.message.text); break;
      case Event::Type::kFailed: Record(L"failed " + event.message.text); break;
      case Event::Type::kNotice: Record(L"notice " + event.message.text); break;
      case Event::Type::kRefused:
        Record(event.refusal == Refusal::kCountdownRunning ? L"refused countdown"
               : event.refusal == Refusal::kStillSaving   ? L"refused saving"
                                                          : L"refused other countdown");
        break;
    }
  }

  // The calls that start with `prefix`, in order.
  Calls Only(const std::wstring& prefix) {
    std::lock_guard guard(lock_);
    Calls matching;
    std::copy_if(calls_.begin(), calls_.end(), std::back_inserter(matching),
                 [&](const std::wstring& call) { return call.rfind(prefix, 0) == 0; });
    return matching;
  }
  bool Has(const std::wstring& call) { return !Only(call).empty(); }
  void Record(const std::wstring& call) {
    std::lock_guard guard(lock_);
    calls_.push_back(call);
  }

 private:
  std::mutex lock_;
  Calls calls_;
};

struct BackendScript {
  std::wstring claimed = L"C:\\out.mp4";
  std::wstring notice;  // told while opening
  bool openResult = true;
  Gate open;    // Open waits here
  Gate finish;  // Finish waits here
  std::atomic<TickResult::Action> nextAction{TickResult::Action::kContinue};
  FinishResult::Outcome finishOutcome = FinishResult::Outcome::kSaved;
  RecordingMessage finishMessage;  // the outcome's message
  bool canPause = true;
  const wchar_t* prefix = L"Fake: ";
  LifecycleLines lines;
  std::atomic<bool> hurried{false};  // Finish saw the session hurry
  std::atomic<std::int64_t> finishedAt{-1};  // the recording time Finish was given
  std::atomic<bool> finishedPaused{false};
  std::atomic<int> made{0}, opened{0}, finished{0}, aborted{0}, destroyed{0}, pauses{0}, resumes{0};
};

class FakeBackend : public RecordingBackend {
 public:
  explicit FakeBackend(BackendScript& script)
      : RecordingBackend({script.prefix, {true, L"start.wav", L"stop.wav", L"pause.wav", L"resume.wav", L"failed.wav"},
                          script.canPause, {L"Saved", L"ok"}, {L"Failed", L"could not start"}, script.lines}),
        script_(script) {
    ++script_.made;
  }
  ~FakeBackend() override { ++script_.destroyed; }
  std::wstring ClaimOutput() override { return script_.claimed; }
  bool Open(const std::wstring&, const Notify& notify) override {
    if (!script_.notice.empty()) notify(RecordingMessage{L"Note", script_.notice});
    script_.open.Pass();
    ++script_.opened;
    return script_.openResult;
  }
  TickResult Tick(const TickInfo& info) override {
    TickResult result;
    result.action = script_.nextAction.exchange(TickResult::Action::kContinue);
    result.nextDue = info.recorded + 10;
    if (result.action == TickResult::Action::kFail) result.failure = RecordingMessage{L"Failed", L"disk full"};
    return result;
  }
  void Pause() override { ++script_.pauses; }
  void Resume() override { ++script_.resumes; }
  FinishResult Finish(const TickInfo& end, const std::atomic<bool>& hurry) override {
    script_.finish.Pass();
    script_.hurried = hurry.load();
    script_.finishedAt = end.recorded;
    script_.finishedPaused = end.paused;
    ++script_.finished;
    return {script_.finishOutcome, script_.finishMessage};
  }
  void Abort() override { ++script_.aborted; }

 private:
  BackendScript& script_;
};

// A session with its fake host and backend; every gate is opened before the session is destroyed,
// so that a failed check never leaves its thread waiting.
struct Rig {
  FakeHost host;
  BackendScript script;
  RecordingSession session{host};

  ~Rig() { OpenAll(); }
  void OpenAll() {
    host.countdown.Open();
    script.open.Open();
    script.finish.Open();
  }

  std::unique_ptr<RecordingBackend> Backend() { return std::make_unique<FakeBackend>(script); }
  // The phase, and the host told of it (it is told just after the phase changes; never of the first).
  bool Reaches(Phase phase) {
    return Eventually([&] {
      const Calls states = host.Only(L"state ");
      const std::wstring told = states.empty() ? L"state IDLE" : states.back();
      return session.phase() == phase && told == std::wstring(L"state ") + PhaseName(phase);
    });
  }
  void StartRecording() {
    ASSERT_TRUE(session.Start(Backend()));
    ASSERT_TRUE(Reaches(Phase::kRecording));
  }
  void Pause() {
    session.Pause();
    ASSERT_TRUE(Reaches(Phase::kPaused));
  }
  void StopAndWait() {
    session.Stop();
    ASSERT_TRUE(Reaches(Phase::kIdle));
  }
  // Has the backend ask for `action` at its next tick (the clock moved on by one of its ticks each
  // time), and waits until it has.
  void Ask(TickResult::Action action) {
    script.nextAction = action;
    ASSERT_TRUE(Eventually([&] {
      host.now += 10;
      return script.nextAction == TickResult::Action::kContinue;
    }));
  }
  // Waits until a start that did not record is over: idle again, with its one backend gone.
  bool EndsWithoutRecording() {
    return Eventually([&] { return session.phase() == Phase::kIdle && script.destroyed == 1; });
  }
};

class SessionTest : public ::testing::Test, protected Rig {};

// Paused from 1 s to 5 s, recording again until 6.5 s, then paused and stopped without resuming.
TEST_F(SessionTest, AFullRecordingKeepsOnlyItsRecordedTimePlaysItsSoundsAndSaysSavedOnce) {
  StartRecording();
  host.now = 1000;
  Pause();
  host.now = 5000;
  session.Resume();
  ASSERT_TRUE(Reaches(Phase::kRecording));
  host.now = 6500;
  Pause();
  host.now = 9000;
  StopAndWait();
  EXPECT_EQ(script.finishedAt, 2500);
  EXPECT_TRUE(script.finishedPaused);
  EXPECT_EQ(std::pair(script.pauses.load(), script.resumes.load()), std::pair(2, 1));
  EXPECT_EQ(host.Only(L"sound "), (Calls{L"sound start.wav", L"sound pause.wav", L"sound resume.wav",
                                        L"sound pause.wav", L"sound stop.wav"}));
  EXPECT_EQ(host.Only(L"state "), (Calls{L"state COUNTING DOWN", L"state STARTING", L"state RECORDING",
                                        L"state PAUSE REQUESTED", L"state PAUSED", L"state RESUME REQUESTED",
                                        L"state RECORDING", L"state PAUSE REQUESTED", L"state PAUSED",
                                        L"state STOPPING", L"state IDLE"}));
  EXPECT_EQ(host.Only(L"saved "), Calls{L"saved C:\\out.mp4 ok"});
  EXPECT_EQ(session.LastSavedPath(), L"C:\\out.mp4");
  EXPECT_EQ(script.destroyed, 1);
}

// Each request in each state: what the state becomes.
TEST(SessionRequests, InEveryState) {
  // {state, requests, the state each leaves}
  const std::tuple<Phase, const char*, Phase> rows[] = {
      {Phase::kIdle, "pause resume stop", Phase::kIdle},
      {Phase::kCountingDown, "pause resume stop start", Phase::kCountingDown},
      {Phase::kStarting, "pause resume start", Phase::kStarting},
      {Phase::kRecording, "resume start", Phase::kRecording}, {Phase::kRecording, "pause", Phase::kPaused},
      {Phase::kRecording, "stop", Phase::kIdle},              {Phase::kPaused, "pause start", Phase::kPaused},
      {Phase::kPaused, "resume", Phase::kRecording},          {Phase::kPaused, "stop", Phase::kIdle},
      {Phase::kStopping, "pause resume stop start", Phase::kStopping},
  };
  for (const auto& [from, requests, to] : rows) {
    std::istringstream list(requests);
    for (std::string request; list >> request;) {
      SCOPED_TRACE(::testing::Message() << PhaseName(from) << " " << request);
      Rig r;
      r.script.open.Set(from != Phase::kStarting);
      r.script.finish.Set(from != Phase::kStopping);
      r.host.countdown.Set(from != Phase::kCountingDown);
      if (from != Phase::kIdle) {
        ASSERT_TRUE(r.session.Start(r.Backend()));
        ASSERT_TRUE(r.Reaches(from == Phase::kPaused || from == Phase::kStopping ? Phase::kRecording : from));
        if (from == Phase::kPaused) r.Pause();
        if (from == Phase::kStopping) r.session.Stop();
        ASSERT_TRUE(from != Phase::kStopping || Eventually([&] { return r.script.finish.Waiting(); }));
      }
      if (request == "pause") r.session.Pause();
      if (request == "resume") r.session.Resume();
      if (request == "stop") r.session.Stop();
      if (request == "start") EXPECT_FALSE(r.session.Start(r.Backend()));
      EXPECT_TRUE(r.Reaches(to)) << static_cast<int>(r.session.phase());
      r.OpenAll();
      r.session.Stop();
      ASSERT_TRUE(r.session.Shutdown(5s));
      EXPECT_EQ(r.session.phase(), Phase::kIdle);
    }
  }
}

// The countdown cannot be cut short: the second press and the tray's stop are answered instead.
TEST_F(SessionTest, ASecondStartOrAStopDuringTheCountdownIsRefusedAndTheFirstGoesOn) {
  host.countdown.Set(false);
  ASSERT_TRUE(session.Start(Backend()));
  ASSERT_TRUE(Eventually([&] { return host.countdown.Waiting(); }));
  EXPECT_FALSE(session.Start(Backend()));
  session.Toggle([&] {
    ADD_FAILURE() << "no backend is made while a countdown runs";
    return Backend();
  });
  session.Stop();
  EXPECT_EQ(host.Only(L"refused "), (Calls{L"refused countdown", L"refused countdown"}));
  host.countdown.Open();
  ASSERT_TRUE(Reaches(Phase::kRecording));
  StopAndWait();
  EXPECT_EQ(script.opened, 1);
  EXPECT_EQ(script.destroyed, 2);  // the refused one, and the one that recorded
}

TEST_F(SessionTest, AStopDuringSetUpEndsTheRecordingAsSoonAsItHasStarted) {
  script.open.Set(false);
  host.drift = 7;
  ASSERT_TRUE(session.Start(Backend()));
  ASSERT_TRUE(Eventually([&] { return script.open.Waiting(); }));
  session.Stop();  // returns at once: set-up is still running
  EXPECT_EQ(session.phase(), Phase::kStarting);
  script.open.Open();
  ASSERT_TRUE(Reaches(Phase::kIdle));
  EXPECT_EQ(script.finished, 1);
  EXPECT_EQ(script.finishedAt, 0) << "nothing was recorded";
  EXPECT_TRUE(host.Has(L"saved C:\\out.mp4 ok"));
  EXPECT_FALSE(host.Has(L"state RECORDING"));
}

TEST_F(SessionTest, AFailedSetUpRemovesTheFileAndSaysWhy) {
  script.openResult = false;
  script.notice = L"switched to GDI";
  ASSERT_TRUE(session.Start(Backend()));
  ASSERT_TRUE(EndsWithoutRecording());
  EXPECT_EQ(script.aborted, 1);
  EXPECT_EQ(script.finished, 0);
  EXPECT_EQ(host.Only(L"remove "), Calls{L"remove C:\\out.mp4"});
  EXPECT_EQ(host.Only(L"failed "), Calls{L"failed could not start"});
  EXPECT_EQ(host.Only(L"notice "), Calls{L"notice switched to GDI"});
  EXPECT_EQ(host.Only(L"sound "), (Calls{L"sound start.wav", L"sound failed.wav"}));
  EXPECT_TRUE(host.Only(L"saved ").empty());
  EXPECT_EQ(session.LastSavedPath(), L"");

  // No output file claimed: nothing is opened, and nothing is removed.
  Rig none;
  none.script.claimed.clear();
  ASSERT_TRUE(none.session.Start(none.Backend()));
  ASSERT_TRUE(none.EndsWithoutRecording());
  EXPECT_EQ(std::tuple(none.script.opened.load(), none.script.aborted.load(), none.host.Only(L"remove ").size(),
                       none.host.Only(L"failed ").size()),
            std::tuple(0, 1, 0u, 1u));
}

TEST_F(SessionTest, RequestsNeverWaitForAFinishThatHangs) {
  script.finish.Set(false);
  StartRecording();
  const auto began = std::chrono::steady_clock::now();
  session.Stop();
  session.Pause();
  session.Resume();
  EXPECT_FALSE(session.Start(Backend()));
  session.Toggle([&] { return Backend(); });
  EXPECT_EQ(session.phase(), Phase::kStopping);
  EXPECT_LT(std::chrono::steady_clock::now() - began, 1s);
  EXPECT_EQ(host.Only(L"refused "), Calls{L"refused saving"});  // a new start waits for the finish
  ASSERT_TRUE(Eventually([&] { return script.finish.Waiting(); }));
  EXPECT_FALSE(host.Has(L"saved C:\\out.mp4 ok"));
  EXPECT_FALSE(session.Shutdown(50ms));  // still finishing
  session.Hurry();                       // Windows ends the session: the finish is told to hurry
  script.finish.Open();
  ASSERT_TRUE(Reaches(Phase::kIdle));
  EXPECT_TRUE(host.Has(L"saved C:\\out.mp4 ok"));
  EXPECT_TRUE(script.hurried);
  EXPECT_TRUE(session.Shutdown(5s));
}

TEST_F(SessionTest, AutomaticPausesAreSilentAndNeverUndoTheUsersPause) {
  StartRecording();
  Ask(TickResult::Action::kPause);
  ASSERT_TRUE(Reaches(Phase::kPaused));
  Ask(TickResult::Action::kResume);  // while paused the backend is still asked, every 100 ms
  ASSERT_TRUE(Reaches(Phase::kRecording));
  EXPECT_EQ(host.Only(L"sound "), Calls{L"sound start.wav"});
  Pause();  // the user's
  Ask(TickResult::Action::kResume);
  EXPECT_EQ(session.phase(), Phase::kPaused);
  session.Resume();
  ASSERT_TRUE(Reaches(Phase::kRecording));
  StopAndWait();
  EXPECT_EQ(script.pauses, 2);
}

TEST_F(SessionTest, ABackendThatEndsByItselfIsSavedAndOneThatFailsIsAnnounced) {
  StartRecording();
  Ask(TickResult::Action::kStop);
  ASSERT_TRUE(Reaches(Phase::kIdle));
  EXPECT_TRUE(host.Has(L"saved C:\\out.mp4 ok"));

  StartRecording();
  Ask(TickResult::Action::kFail);
  ASSERT_TRUE(Reaches(Phase::kIdle));
  EXPECT_EQ(host.Only(L"failed "), Calls{L"failed disk full"});
  EXPECT_EQ(host.Only(L"sound ").back(), L"sound failed.wav");  // never the stop sound
  EXPECT_EQ(host.Only(L"saved ").size(), 1u);
  EXPECT_TRUE(host.Only(L"remove ").empty());  // what is on disk is kept
  EXPECT_EQ(script.finished, 2);
}

// Only a file that plays is called saved: nothing recorded is removed and said, a failed finish is
// a failure, and a file kept as it was recorded is saved with a word on it. The stop sound means saved.
TEST_F(SessionTest, EveryEndIsToldAsItIs) {
  script.finishOutcome = FinishResult::Outcome::kDiscarded;
  script.finishMessage = {L"Nothing", L"no sound"};
  StartRecording();
  StopAndWait();
  EXPECT_EQ(host.Only(L"remove "), Calls{L"remove C:\\out.mp4"});
  EXPECT_EQ(host.Only(L"failed "), Calls{L"failed no sound"});
  EXPECT_EQ(host.Only(L"sound ").back(), L"sound failed.wav");

  script.finishOutcome = FinishResult::Outcome::kFailed;
  script.finishMessage = {L"Failed", L"trailer"};
  StartRecording();
  StopAndWait();
  EXPECT_EQ(host.Only(L"failed ").back(), L"failed trailer");
  EXPECT_EQ(host.Only(L"sound ").back(), L"sound failed.wav");
  EXPECT_TRUE(host.Only(L"saved ").empty());
  EXPECT_EQ(session.LastSavedPath(), L"");

  script.finishOutcome = FinishResult::Outcome::kSaved;
  script.finishMessage = {L"Saved", L"kept as recorded"};
  StartRecording();
  StopAndWait();
  EXPECT_EQ(host.Only(L"saved "), Calls{L"saved C:\\out.mp4 kept as recorded"});
  EXPECT_EQ(host.Only(L"sound ").back(), L"sound stop.wav");
  EXPECT_EQ(host.Only(L"remove ").size(), 1u);
}

// One life of each recorder (start, pause, resume, stop) and a start that fails, told in the lines
// its log has always had, in their order (the session's own lines stand beside them).
TEST(SessionLog, EachRecorderTellsItsLifeInItsOwnLines) {
  struct Case {
    const wchar_t* prefix;
    LifecycleLines lines;
    bool pauses;
    std::vector<std::wstring> life;
    std::vector<std::wstring> failedStart;
  };
  const std::wstring countdown = L"Countdown finished. Proceeding with recording initialization.";
  const Case cases[] = {
      {L"Recorder: ", VideoLifecycle(false), true,
       {countdown, L"All initializations successful. Recording is now active.",
        L"State changed to RECORDING.", L"Recording thread started, entering main loop.", L"Requesting pause.",
        L"State changed to PAUSED.", L"Requesting resume.", L"State changed to RECORDING.", L"Stop requested.",
        L"Recording loop finished.", L"Recording thread has finished.", L"Starting full cleanup and state reset.",
        L"Cleanup and state reset finished."},
       {countdown, L"Starting full cleanup and state reset.", L"Skipping trailer write as recording did not fully start.",
        L"Cleanup and state reset finished."}},
      {L"Recorder: ", VideoLifecycle(true), true,
       {countdown, L"Multi-track mode active. Starting audio capture threads and main loop.",
        L"State changed to RECORDING.", L"Multi-track recording thread started, entering main loop.",
        L"Requesting pause.", L"State changed to PAUSED.", L"Requesting resume.", L"State changed to RECORDING.",
        L"Stop requested.", L"Multi-track recording loop finished.", L"Recording thread has finished.",
        L"Starting full cleanup and state reset.", L"Cleanup and state reset finished."},
       {countdown, L"Starting full cleanup and state reset.", L"Skipping trailer write as recording did not fully start.",
        L"Cleanup and state reset finished."}},
      {L"AudioRecorder: ", AudioLifecycle(false), true,
       {countdown, L"All initializations successful. Recording is now active.",
        L"Recording thread started, entering main loop.", L"Requesting pause.", L"Now paused.", L"Requesting resume.",
        L"Now recording.", L"Stop requested.", L"Recording loop finished.", L"Recording thread has finished.",
        L"Starting cleanup.", L"Cleanup finished."},
       {countdown, L"Starting cleanup.", L"Skipping trailer write due to initialization failure.", L"Cleanup finished."}},
      {L"AudioRecorder: ", AudioLifecycle(true), true,
       {countdown, L"All initializations successful. Recording is now active.",
        L"Multi-track recording thread started, entering main loop.", L"Requesting pause.", L"Now paused.",
        L"Requesting resume.", L"Now recording.", L"Stop requested.", L"Multi-track recording loop finished.",
        L"Recording thread has finished.", L"Starting cleanup.", L"Cleanup finished."},
       {countdown, L"Starting cleanup.", L"Skipping trailer write due to initialization failure.", L"Cleanup finished."}},
      // A GIF recording cannot pause; it logs its own set-up and clean-up.
      {L"GIF Recorder: ", GifLifecycle(), false, {L"Stop requested by user.", L"Stopped."}, {}},
  };
  for (const Case& c : cases) {
    std::vector<std::wstring> known = c.life;
    known.insert(known.end(), c.failedStart.begin(), c.failedStart.end());
    for (const bool fails : {false, true}) {
      SCOPED_TRACE(::testing::Message() << c.prefix << (c.lines.loopStarted ? c.lines.loopStarted : L"") << (fails ? " failing" : ""));
      testing::ClearCapturedLog();
      {
        Rig r;
        r.script.prefix = c.prefix;
        r.script.lines = c.lines;
        r.script.canPause = c.pauses;
        r.script.openResult = !fails;
        ASSERT_TRUE(r.session.Start(r.Backend()));
        if (fails) {
          ASSERT_TRUE(r.EndsWithoutRecording());
        } else {
          ASSERT_TRUE(r.Reaches(Phase::kRecording));
          if (r.script.canPause) {
            r.Pause();
            r.session.Resume();
            ASSERT_TRUE(r.Reaches(Phase::kRecording));
          }
          r.StopAndWait();
        }
      }
      std::vector<std::wstring> told;
      for (const std::wstring& line : testing::CapturedLog()) {
        if (line.rfind(c.prefix, 0) != 0) continue;
        const std::wstring text = line.substr(std::wcslen(c.prefix));
        if (std::find(known.begin(), known.end(), text) != known.end()) told.push_back(text);
      }
      EXPECT_EQ(told, fails ? c.failedStart : c.life);
    }
  }
}

TEST_F(SessionTest, ABusyOrCancelledCountdownOpensNothing) {
  host.countdownOutcome = CountdownOutcome::kBusy;
  ASSERT_TRUE(session.Start(Backend()));
  ASSERT_TRUE(EndsWithoutRecording());

  host.countdownOutcome = CountdownOutcome::kFinished;
  host.countdown.Set(false);
  ASSERT_TRUE(session.Start(Backend()));
  ASSERT_TRUE(Eventually([&] { return host.countdown.Waiting(); }));
  EXPECT_TRUE(session.Shutdown(5s));  // at exit: the countdown is cancelled
  EXPECT_EQ(script.opened, 0);
  EXPECT_TRUE(host.Only(L"sound ").empty());
  EXPECT_EQ(host.Only(L"refused "), Calls{L"refused other countdown"});  // the busy one, told
}

TEST_F(SessionTest, PauseRequestsAreIgnoredWhenTheBackendCannotPauseAndShutdownFinishesTheRecording) {
  script.canPause = false;
  StartRecording();
  session.Pause();
  session.TogglePause();
  EXPECT_EQ(session.phase(), Phase::kRecording);
  EXPECT_TRUE(session.Shutdown(5s));
  EXPECT_EQ(script.finished, 1);
  EXPECT_EQ(script.pauses, 0);
  EXPECT_FALSE(session.Start(Backend()));  // nothing starts once the program is closing
}

TEST_F(SessionTest, RequestsRacingFromTwoThreadsLeaveOneConsistentLife) {
  std::atomic<bool> go{false};
  auto hammer = [&](int seed) {
    while (!go) std::this_thread::yield();
    for (int i = 0; i < 400; ++i) {
      switch ((i * 7 + seed) % 5) {
        case 0: session.Start(Backend()); break;
        case 1: session.Stop(); break;
        case 2: session.Pause(); break;
        case 3: session.Resume(); break;
        case 4: session.Toggle([&] { return Backend(); }); break;
      }
      host.now += 1;
    }
  };
  std::thread first(hammer, 0);
  std::thread second(hammer, 3);
  go = true;
  first.join();
  second.join();
  session.Stop();
  ASSERT_TRUE(session.Shutdown(10s));
  EXPECT_EQ(session.phase(), Phase::kIdle);
  // Every backend made was destroyed; every one that opened was finished exactly once.
  EXPECT_EQ(script.destroyed, script.made);
  EXPECT_EQ(script.finished, script.opened);
  EXPECT_EQ(script.aborted, 0);
  const auto states = host.Only(L"state ");
  ASSERT_FALSE(states.empty());
  EXPECT_EQ(states.back(), L"state IDLE");
}

}  // namespace
}  // namespace vistrel
