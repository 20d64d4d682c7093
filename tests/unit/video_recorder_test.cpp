// The video recorder against what only Windows produces, scripted as Windows documents it: a
// desktop duplication that fails for good, a screen that grows while GDI stands in for the
// duplication, cameras that send MJPG or a format nothing can read; and the quality step-down.
#include "scripted_video.h"  // DirectShow first

#include <memory>
#include <mutex>
#include <thread>

#include <gtest/gtest.h>

#include "core/text.h"
#include "media/ffmpeg_util.h"
#include "media/media_clock.h"
#include "recording/recording_session.h"
#include "test_support.h"
#include "video/screen_source.h"
#include "video/video_backend.h"

namespace vistrel {
namespace {

using testing::ScriptedDisplay;

constexpr RECT k720{0, 0, 1280, 720};
constexpr RECT k1080{0, 0, 1920, 1080};

// A session's surroundings: no countdown, no sounds; what the user is told is kept.
class TestHost final : public testing::QuietHost {
 public:
  std::int64_t Now() const override { return CounterNow(); }
  std::int64_t Frequency() const override { return CounterFrequency(); }
  void OnEvent(const Event& event) override {
    std::lock_guard guard(lock_);
    if (event.type != Event::Type::kStateChanged) told_.push_back(event);
    if (event.phase == RecordingPhase::kStopping) stoppedAt_ = GetTickCount64();
  }
  std::vector<Event> Told() {
    std::lock_guard guard(lock_);
    return told_;
  }
  ULONGLONG StoppedAt() {
    std::lock_guard guard(lock_);
    return stoppedAt_;
  }

 private:
  std::mutex lock_;
  std::vector<Event> told_;
  ULONGLONG stoppedAt_ = 0;
};

class VideoRecorder : public testing::LoggedTest {
 protected:
  VideoPlan Plan(std::shared_ptr<VideoDevices> devices, std::vector<TrackConfig> tracks = {}) {
    VideoPlan plan;
    plan.config.VideoPath = folder_.path();
    plan.config.VideoAudioSource = 0;
    plan.config.VideoQuality = 0;
    plan.config.VideoFramerate = 30;
    plan.config.IncludeCursor = false;
    plan.tracks.SetMultiTrackEnabled(!tracks.empty());
    plan.tracks.Tracks() = std::move(tracks);
    plan.devices = std::move(devices);
    return plan;
  }

  // The video streams of a finished file: their durations in seconds.
  static std::vector<double> VideoDurations(const std::wstring& path) {
    std::vector<double> durations;
    AVFormatContext* opened = nullptr;
    if (avformat_open_input(&opened, WideToUtf8(path).c_str(), nullptr, nullptr) < 0) return durations;
    const InputContextPtr input(opened);
    if (avformat_find_stream_info(input.get(), nullptr) < 0) return durations;
    for (unsigned i = 0; i < input->nb_streams; ++i) {
      const AVStream* stream = input->streams[i];
      if (stream->codecpar->codec_type != AVMEDIA_TYPE_VIDEO) continue;
      durations.push_back(static_cast<double>(stream->duration) * av_q2d(stream->time_base));
    }
    return durations;
  }

};

TrackConfig Track(const std::wstring& name, const std::wstring& source) {
  TrackConfig track;
  track.name = name;
  track.type = kTrackVideoOnly;
  track.video_source_id = source;
  return track;
}

// The device is removed two seconds in: the recording stops at once, its file plays, and the user
// hears that it was interrupted (never that it was saved); the error is logged once, not per frame.
TEST_F(VideoRecorder, AnUnexpectedDisplayErrorEndsTheRecordingAsInterrupted) {
  for (const bool multiTrack : {false, true}) {
    SCOPED_TRACE(multiTrack ? "multi-track" : "single track");
    auto display = std::make_shared<ScriptedDisplay>();
    display->Hand(1280, 720, 0xFF306090, std::chrono::milliseconds(2000), DXGI_ERROR_DEVICE_REMOVED);
    TestHost host;
    RecordingSession session(host);
    ASSERT_TRUE(session.Start(MakeVideoBackend(Plan(display, multiTrack ? std::vector{Track(L"Screen", L"Default")}
                                                                         : std::vector<TrackConfig>{}))));
    ASSERT_TRUE(testing::PumpUntil([&] { return display->duplication->failedAt() != 0; }));
    ASSERT_TRUE(testing::PumpUntil([&] { return session.phase() == RecordingPhase::kIdle; }));
    EXPECT_LT(host.StoppedAt() - display->duplication->failedAt(), 1000u);
    EXPECT_EQ(display->duplication->callsAfterFailure(), 1);
    const auto told = host.Told();
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told[0].type, SessionHost::Event::Type::kFailed);
    EXPECT_EQ(told[0].message.title, L"Recording Interrupted");
    EXPECT_EQ(told[0].message.text, L"An unexpected display error occurred.");
    const std::vector<double> durations = VideoDurations(told[0].path);
    ASSERT_EQ(durations.size(), 1u);
    EXPECT_GT(durations[0], 1.8);  // what was recorded before the error
  }
  EXPECT_EQ(LogCount("AcquireNextFrame failed. HRESULT: 0x887A0005"), 2);
}

// Duplication loses access (a mode change) and GDI stands in; the screen grows while duplication
// cannot be had yet: the cursor is drawn in the buffer actually captured (a guard page follows
// it), and GDI captures the screen at its new size until duplication is back.
TEST_F(VideoRecorder, AScreenThatGrowsWhileGdiStandsInIsCapturedAtItsNewSize) {
  auto display = std::make_shared<ScriptedDisplay>();
  display->Hand(1280, 720, 0xFF000000, std::chrono::milliseconds(0), DXGI_ERROR_ACCESS_LOST);
  display->steps = {{k720, S_OK}, {k1080, E_ACCESSDENIED}, {k1080, S_OK}};
  ScreenSource source(L"Test: ", true, nullptr, display);
  ASSERT_EQ(source.OpenScreen(L"Default"), S_OK);
  ASSERT_FALSE(source.gdi());
  Picture picture;
  ASSERT_EQ(source.Take(picture), S_OK);
  EXPECT_TRUE(source.gdi() && source.lost());
  EXPECT_EQ(std::pair(picture.width, picture.height), std::pair(1280, 720));
  source.Release(picture);
  display->Hand(1920, 1080, 0xFF20C040, std::chrono::hours(1), S_OK);

  // The arrow reaches below the old bottom edge.
  ASSERT_TRUE(SetCursorPos(100, 716));
  display->screen = k1080;
  ASSERT_TRUE(testing::PumpUntil([&] {
    source.Recover();  // tried again at most once a second
    return display->duplicateCalls == 2;
  }));
  ASSERT_TRUE(source.gdi());
  ASSERT_EQ(source.Take(picture), S_OK);
  EXPECT_EQ(std::pair(picture.width, picture.height), std::pair(1920, 1080));
  source.Release(picture);

  ASSERT_TRUE(testing::PumpUntil([&] {
    source.Recover();
    return !source.gdi();
  }));
  ASSERT_EQ(source.Take(picture), S_OK);
  ASSERT_TRUE(picture.mapped);
  EXPECT_EQ(picture.pixels[1000 * picture.pitch + 1900 * 4 + 1], 0xC0);
  source.Release(picture);
}

// Two cameras in window mode, recording the window chosen at the start: one sends MJPG, which is
// recorded; the other a format that cannot be read, of which the user hears once. The recording
// goes on until the window closes.
TEST_F(VideoRecorder, CamerasAloneInWindowModeRecordUntilTheWindowCloses) {
  auto display = std::make_shared<ScriptedDisplay>();
  const GUID h264 = {0x34363248, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
  display->cameras[L"usb#jpeg"] = {MEDIASUBTYPE_MJPG, 320, 240, testing::JpegOf(320, 240, RGB(200, 40, 90))};
  display->cameras[L"usb#h264"] = {h264, 320, 240, std::vector<BYTE>(3000, 7)};
  VideoPlan plan = Plan(display, {Track(L"Face", L"usb#jpeg"), Track(L"Slides", L"usb#h264")});
  plan.config.VideoMode = 1;
  UniqueWindow window(CreateWindowExW(0, L"STATIC", L"Recorded window", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 100,
                                      300, 200, nullptr, nullptr, nullptr, nullptr));
  ASSERT_TRUE(window);
  plan.target = window.get();
  TestHost host;
  RecordingSession session(host);
  ASSERT_TRUE(session.Start(MakeVideoBackend(std::move(plan))));
  ASSERT_TRUE(testing::PumpUntil([&] { return !host.Told().empty(); })) << Log();
  EXPECT_EQ(session.phase(), RecordingPhase::kRecording);
  EXPECT_EQ(host.Told()[0].message.title, L"Camera Not Recorded");
  EXPECT_EQ(LogCount("cannot be read"), 1);
  EXPECT_NE(Log().find("The pictures of the camera of track Slides cannot be read"), std::string::npos);

  window.reset();
  ASSERT_TRUE(testing::PumpUntil([&] { return session.phase() == RecordingPhase::kIdle; }));
  const auto told = host.Told();
  ASSERT_EQ(told.size(), 3u);
  EXPECT_EQ(told[1].message.title, L"Recording Stopped");
  EXPECT_EQ(told[2].type, SessionHost::Event::Type::kSaved);
  const std::vector<double> durations = VideoDurations(told[2].path);
  ASSERT_EQ(durations.size(), 2u);
  EXPECT_GT(durations[0], 3.0);
}

// A start that fails after the video encoder opened (here the file cannot be written) steps down,
// and each attempt is smaller than the one before.
TEST_F(VideoRecorder, EachStepDownLowersTheResolution) {
  auto display = std::make_shared<ScriptedDisplay>();
  display->Hand(1920, 1080, 0xFF000000, std::chrono::hours(1), S_OK);
  display->steps = {{k1080, S_OK}};
  VideoPlan plan = Plan(display);
  plan.config.VideoQuality = 2;
  std::unique_ptr<RecordingBackend> backend = MakeVideoBackend(std::move(plan));
  bool opened = true;
  // On a thread of its own, as the session does: the recorder initialises COM for it.
  std::thread([&] {
    opened = backend->Open(folder_ / L"no such folder\\video.mp4", [](const RecordingMessage&) {});
    backend->Abort();
    backend.reset();
  }).join();
  EXPECT_FALSE(opened);
  const std::string log = Log();
  std::vector<std::string> outputs;
  for (size_t at = log.find("Final Output: "); at != std::string::npos; at = log.find("Final Output: ", at + 1)) {
    outputs.push_back(log.substr(at + 14, log.find_first_of("\r\n", at) - at - 14));
  }
  EXPECT_EQ(outputs, (std::vector<std::string>{"1920x1080", "1280x720", "852x480"}));
}

}  // namespace
}  // namespace vistrel
