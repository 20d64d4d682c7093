// The video recorder's requests, accepted and ignored, on a real (small, silent) recording.
#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "config/app_config.h"
#include "config/settings.h"
#include "temp_folder.h"
#include "tracks/track_config.h"
#include "video/video_recorder.h"

namespace vistrel {
namespace {

bool WaitForState(const VideoRecorder& recorder, std::uint32_t state, DWORD timeoutMs = 20000) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  while (recorder.GetRecorderState() != state) {
    if (GetTickCount64() > deadline) return false;
    Sleep(20);
  }
  return true;
}

int CountFiles(const std::wstring& folder) {
  WIN32_FIND_DATAW found{};
  HANDLE search = FindFirstFileW((folder + L"\\*.mp4").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return 0;
  int count = 0;
  do {
    ++count;
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return count;
}

// Moves the prefix's multi-track file aside, so that the recorder starts in single-track mode.
class NoTrackFile {
 public:
  NoTrackFile() : path_(MultiTrackFilePathFor(GetConfigPath())), aside_(path_ + L".aside") {
    moved_ = MoveFileExW(path_.c_str(), aside_.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
  }
  ~NoTrackFile() {
    if (moved_) MoveFileExW(aside_.c_str(), path_.c_str(), MOVEFILE_REPLACE_EXISTING);
  }
  NoTrackFile(const NoTrackFile&) = delete;
  NoTrackFile& operator=(const NoTrackFile&) = delete;

 private:
  std::wstring path_, aside_;
  bool moved_ = false;
};

TEST(VideoRecorder, AcceptsAndIgnoresRequestsByState) {
  NoTrackFile noTracks;
  testing::TempFolder folder;
  const AppConfig saved = ConfigSnapshot();
  AppConfig config = saved;
  config.VideoPath = folder.path();
  config.VideoAudioSource = 0;  // video only
  config.VideoQuality = 0;
  config.VideoFramerate = 10;
  config.VideoMode = 0;
  config.PlayVideoEventSounds = false;
  ReplaceConfig(config);

  VideoRecorder recorder;
  // Nothing to stop, pause or resume while idle.
  recorder.StopRecording();
  recorder.RequestPause(false);
  recorder.RequestResume(false);
  EXPECT_EQ(recorder.GetRecorderState(), kStateIdle);

  ASSERT_TRUE(recorder.StartRecording(nullptr));
  // The countdown keeps the state idle; a second start and a stop are not acted on meanwhile.
  EXPECT_EQ(recorder.GetRecorderState(), kStateIdle);
  EXPECT_FALSE(recorder.StartRecording(nullptr));
  recorder.StopRecording();
  ASSERT_TRUE(WaitForState(recorder, kStateRecording));
  EXPECT_FALSE(recorder.StartRecording(nullptr));

  recorder.RequestResume(false);  // not paused
  EXPECT_EQ(recorder.GetRecorderState(), kStateRecording);
  recorder.RequestPause(false);
  ASSERT_TRUE(WaitForState(recorder, kStatePaused, 5000));
  recorder.RequestPause(false);
  EXPECT_EQ(recorder.GetRecorderState(), kStatePaused);
  // A user pause is not lifted by the recorder's own (automatic) resume.
  recorder.RequestResume(true);
  Sleep(300);
  EXPECT_EQ(recorder.GetRecorderState(), kStatePaused);
  recorder.RequestResume(false);
  ASSERT_TRUE(WaitForState(recorder, kStateRecording, 5000));

  recorder.StopRecording();
  EXPECT_EQ(recorder.GetRecorderState(), kStateIdle);
  EXPECT_EQ(CountFiles(folder.path()), 1);

  // An automatic pause is lifted by an automatic resume.
  ASSERT_TRUE(recorder.StartRecording(nullptr));
  ASSERT_TRUE(WaitForState(recorder, kStateRecording));
  recorder.RequestPause(true);
  ASSERT_TRUE(WaitForState(recorder, kStatePaused, 5000));
  recorder.RequestResume(true);
  ASSERT_TRUE(WaitForState(recorder, kStateRecording, 5000));
  recorder.StopRecording();
  // Two recordings within seconds of each other: two files.
  EXPECT_EQ(CountFiles(folder.path()), 2);
  ReplaceConfig(saved);
}

}  // namespace
}  // namespace vistrel
