// Records the microphone, the system audio or both mixed into one MP3, M4A or WAV file.
#pragma once

#include <windows.h>
#include <endpointvolume.h>
#include <wrl/client.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "audio/audio_mix.h"
#include "audio/audio_mixer.h"
#include "audio/audio_source.h"
#include "audio/ffmpeg_util.h"
#include "audio/recorder_util.h"
#include "tracks/track_config.h"

namespace vistrel {

inline constexpr wchar_t kAudioLogPrefix[] = L"AudioRecorder: ";

class AudioRecorder {
 public:
  AudioRecorder() = default;
  AudioRecorder(const AudioRecorder&) = delete;
  AudioRecorder& operator=(const AudioRecorder&) = delete;
  ~AudioRecorder() { Stop(); }

  // Starts the countdown and then the recording; false when a recording runs or is starting.
  bool Start(HWND owner);
  // Ends the recording, writes the file and waits for the recording thread.
  void Stop();
  void Pause();
  void Resume();
  void Toggle(HWND owner);
  std::uint32_t GetState() const { return state_.load(); }

 private:
  // One source of a multi-track recording with its own AAC stream and capture thread.
  struct TrackStream {
    TrackConfig track;
    bool isInput = true;
    std::unique_ptr<AudioSource> source;
    CodecContextPtr codec;
    FramePtr frame;
    AVStream* stream = nullptr;
    UniqueKernelHandle captureThread;
    std::atomic<bool> stop{false};
    std::mutex fifoLock;  // the capture thread writes the FIFO, the recording thread reads it
    std::int64_t samplesWritten = 0;
    BacklogBound backlog;
    AudioRecorder* owner = nullptr;
  };

  static unsigned __stdcall StartThreadMain(void* self);
  static unsigned __stdcall CaptureThreadMain(void* stream);
  HRESULT InitializeMultiTrack();
  void OpenTrackSources(const TrackConfig& track, bool isInput);
  HRESULT InitMultiTrackAudioEncoder(TrackStream& record);
  void OpenConfiguredSources();
  void WriteDueTrackFrames(bool finishing);
  void LogBacklogDrop(const std::wstring& source, std::int64_t samples);
  void CleanupMultiTrack();
  static unsigned __stdcall RecordingThreadMain(void* self);
  void RunStart();
  HRESULT Initialize();
  void OpenSettingsSources();
  HRESULT InitFFmpeg();
  HRESULT InitAudioEncoder();
  HRESULT OpenOutputFile();
  // Opens the output file (unless the muxer needs none) and writes its header.
  HRESULT OpenFileAndWriteHeader(const std::string& path);
  std::wstring MakeOutputPath();
  void RecordingLoop();
  void PauseClients();
  void ResumeClients();
  HRESULT MixAndEncodeAudio(bool finishing);
  HRESULT EncodeMixFrame(int samples);
  HRESULT EncodeAndWrite(AVFrame* frame);
  HRESULT EncodeAndWrite(AVFrame* frame, AVCodecContext* codec, AVStream* stream, const std::wstring& label);
  void FlushFinalResampler();
  std::int64_t ElapsedTicks() const;
  void Cleanup();
  void ShowBalloon(const std::wstring& title, const std::wstring& text) const;
  void PlayEventSound(const std::wstring& sound) const;

  std::atomic<std::uint32_t> state_{kStateIdle};
  std::atomic<bool> starting_{false};
  std::mutex lock_;
  std::mutex writeLock_;
  UniqueKernelHandle recordingThread_;
  HWND owner_ = nullptr;
  std::wstring outputPath_;
  bool playSounds_ = true;
  bool configuredSources_ = false;
  bool multiTrack_ = false;
  std::vector<TrackConfig> tracks_;  // copied at the start from the multi-track configuration
  std::vector<std::unique_ptr<TrackStream>> trackStreams_;
  bool headerWritten_ = false;
  int audioFormat_ = 0;
  int quality_ = 2;

  LARGE_INTEGER frequency_{};
  LARGE_INTEGER startCounter_{};
  LARGE_INTEGER pauseStart_{};
  std::int64_t pausedTotal_ = 0;
  std::int64_t framesEncoded_ = 0;
  std::int64_t samplesWritten_ = 0;
  bool backlogLogged_ = false;  // the first drop of old audio is logged, later ones are not

  AudioMixer mixer_;
  OutputContextPtr format_;
  CodecContextPtr codec_;
  AVStream* stream_ = nullptr;
  FramePtr mixFrame_;
  FramePtr encoderFrame_;
  SwrPtr finalResampler_;
};

// The process-wide audio recorder.
AudioRecorder& TheAudioRecorder();

}  // namespace vistrel
