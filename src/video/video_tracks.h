// The run-time record of one stream of a multi-track video recording: its encoder, its source
// and, for cameras, the DirectShow graph that feeds it.
//
// DirectShow's headers must come before the audio headers (audioclient.h, endpointvolume.h and
// ksmedia.h define some of the same types differently): include this header first.
#pragma once

#include <windows.h>
#include <dshow.h>
#include <endpointvolume.h>
#include <qedit.h>
#include <wrl/client.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "audio/audio_mix.h"
#include "audio/audio_source.h"
#include "audio/ffmpeg_util.h"
#include "core/handles.h"
#include "tracks/track_config.h"

#include "video/video_streams.h"

namespace vistrel {

class VideoRecorder;
struct TrackRuntime;

// Receives a camera's samples on DirectShow's streaming thread and keeps the newest one for the
// recording thread.
class SampleGrabberCallback final : public ISampleGrabberCB {
 public:
  explicit SampleGrabberCallback(TrackRuntime* runtime) : runtime_(runtime) {}
  SampleGrabberCallback(const SampleGrabberCallback&) = delete;
  SampleGrabberCallback& operator=(const SampleGrabberCallback&) = delete;

  STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  STDMETHODIMP SampleCB(double sampleTime, IMediaSample* sample) override;
  STDMETHODIMP BufferCB(double sampleTime, BYTE* buffer, long length) override;

  // The runtime is going away: later samples are dropped.
  void Detach();

 private:
  ~SampleGrabberCallback() = default;
  std::atomic<ULONG> references_{1};
  std::mutex runtimeLock_;
  TrackRuntime* runtime_;
};

struct TrackRuntime {
  TrackConfig config;
  bool hasVideo = false;
  bool hasAudio = false;
  bool isCamera = false;

  // Encoding.
  AVStream* stream = nullptr;
  CodecContextPtr codec;
  FramePtr frame;
  FramePtr lastFrame;
  SwsPtr scaler;
  int sourceWidth = 0;
  int sourceHeight = 0;
  int sourcePixelFormat = 0;  // AVPixelFormat: BGRA for screens, BGR24 or YUYV422 for cameras
  bool bottomUp = false;      // RGB samples that start with the bottom row

  // Audio.
  std::unique_ptr<AudioSource> audio;
  Microsoft::WRL::ComPtr<IAudioEndpointVolume> endpointVolume;
  bool isMicrophone = true;
  UniqueKernelHandle captureThread;
  std::atomic<bool> stop{false};
  std::int64_t samplesWritten = 0;
  BacklogBound backlog;
  std::mutex fifoLock;  // the capture thread writes the FIFO, the recording thread reads it

  // Camera.
  Microsoft::WRL::ComPtr<IGraphBuilder> graph;
  Microsoft::WRL::ComPtr<ICaptureGraphBuilder2> builder;
  Microsoft::WRL::ComPtr<IMediaControl> control;
  Microsoft::WRL::ComPtr<ISampleGrabber> grabber;
  SampleGrabberCallback* callback = nullptr;  // one reference, released by ReleaseCamera
  std::vector<std::uint8_t> frameBytes;
  std::mutex frameLock;
  std::atomic<bool> newFrame{false};

  VideoRecorder* owner = nullptr;

  TrackRuntime() = default;
  TrackRuntime(const TrackRuntime&) = delete;
  TrackRuntime& operator=(const TrackRuntime&) = delete;
  ~TrackRuntime();
  void ReleaseCamera();
};

// Builds the DirectShow graph of the camera named by the runtime's video_source_id.
HRESULT InitCameraTrack(TrackRuntime& runtime);

// Scales the newest camera sample, if one arrived since the last call, into the runtime's frame.
// A sample shorter than a whole picture is dropped; bottom-up RGB is turned the right way up.
bool TakeCameraFrame(TrackRuntime& runtime);

}  // namespace vistrel
