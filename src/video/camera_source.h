// A camera as a video source of a multi-track recording: a DirectShow capture graph ending in a
// Sample Grabber whose callback keeps the newest sample for the recording thread.
//
// DirectShow's headers must come before the audio headers (audioclient.h, endpointvolume.h and
// ksmedia.h define some of the same types differently): include this header first.
#pragma once

#include <windows.h>
#include <dshow.h>
#include <qedit.h>
#include <wrl/client.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "media/video_stream.h"

namespace vistrel {

class CameraSource;

// Receives a camera's samples on DirectShow's streaming thread and hands them to its source.
class SampleGrabberCallback final : public ISampleGrabberCB {
 public:
  explicit SampleGrabberCallback(CameraSource* source) : source_(source) {}
  SampleGrabberCallback(const SampleGrabberCallback&) = delete;
  SampleGrabberCallback& operator=(const SampleGrabberCallback&) = delete;

  STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  STDMETHODIMP SampleCB(double sampleTime, IMediaSample* sample) override;
  STDMETHODIMP BufferCB(double sampleTime, BYTE* buffer, long length) override;

  // The source is going away: later samples are dropped.
  void Detach();

 private:
  ~SampleGrabberCallback() = default;
  std::atomic<ULONG> references_{1};
  std::mutex sourceLock_;
  CameraSource* source_;
};

class CameraSource {
 public:
  CameraSource() = default;
  CameraSource(const CameraSource&) = delete;
  CameraSource& operator=(const CameraSource&) = delete;
  ~CameraSource() { Close(); }

  // Builds the graph of the camera whose device path is `devicePath`; COM must be initialised on
  // the calling thread. `name` is the track's, for the log.
  HRESULT Open(const std::wstring& devicePath, const std::wstring& name);
  void Run();
  void Pause();
  void Close();

  // The picture the camera delivers: its size, FFmpeg pixel format (BGR24 or YUYV422) and whether
  // RGB rows start with the bottom one.
  void SetFormat(int width, int height, int pixelFormat, bool bottomUp);
  int width() const { return width_; }
  int height() const { return height_; }

  // A sample from the grabber (any thread): the newest one wins.
  void Deliver(const std::uint8_t* data, long length);
  // How long (ms, at GetTickCount64 `now`) the camera has sent nothing, counted from its last
  // sample or from Run: a camera that was unplugged stops sending.
  ULONGLONG SilentFor(ULONGLONG now) const { return now - lastSample_.load(); }
  // Scales the newest sample, if one arrived since the last call, into `stream`. A sample shorter
  // than a whole picture is dropped; bottom-up RGB is turned the right way up.
  bool Take(VideoEncoderStream& stream);

 private:
  Microsoft::WRL::ComPtr<IGraphBuilder> graph_;
  Microsoft::WRL::ComPtr<ICaptureGraphBuilder2> builder_;
  Microsoft::WRL::ComPtr<IMediaControl> control_;
  Microsoft::WRL::ComPtr<ISampleGrabber> grabber_;
  SampleGrabberCallback* callback_ = nullptr;  // one reference, released by Close
  int width_ = 0;
  int height_ = 0;
  int pixelFormat_ = 0;
  bool bottomUp_ = false;
  std::mutex frameLock_;
  std::vector<std::uint8_t> frameBytes_;
  std::atomic<bool> newFrame_{false};
  std::atomic<ULONGLONG> lastSample_{0};
};

}  // namespace vistrel
