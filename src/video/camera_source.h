// A camera as a video source of a multi-track recording: the picture stream of a CameraReader,
// whose callback keeps the newest sample for the recording thread, which converts it into the
// track's stream: RGB24, YUY2 and NV12 as they are (YUV read with the matrix the camera declares),
// MJPG decoded first.
#pragma once

#include "video/video_devices.h"  // first: see there

#include <atomic>
#include <cstdint>
#include <memory>
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
  CameraSource();
  CameraSource(const CameraSource&) = delete;
  CameraSource& operator=(const CameraSource&) = delete;
  ~CameraSource();

  // Connects the camera whose device path is `devicePath` through a reader of `devices`; COM must
  // be initialised on the calling thread. `name` is the track's, for the log.
  HRESULT Open(VideoDevices& devices, const std::wstring& devicePath, const std::wstring& name);
  void Run();
  void Pause();
  void Close();

  // The pictures the camera sends, from the format it connected with (logged).
  HRESULT SetFormat(const AM_MEDIA_TYPE& format);
  int width() const { return width_; }
  int height() const { return height_; }
  // The connected subtype, as text.
  const std::wstring& subtype() const { return subtype_; }

  // A sample from the callback (any thread): the newest one wins.
  void Deliver(const std::uint8_t* data, long length);
  // How long (ms, at GetTickCount64 `now`) the camera has sent nothing, and how long none of what
  // it sent could be used, each counted from Run at the latest: a camera that was unplugged stops
  // sending, one whose pictures cannot be read goes on sending.
  ULONGLONG SilentFor(ULONGLONG now) const { return now - lastSample_.load(); }
  ULONGLONG UnusedFor(ULONGLONG now) const { return now - lastUsed_.load(); }
  // Converts the newest sample, if one arrived since the last call, into `stream`. A sample that
  // cannot be read whole is dropped.
  bool Take(VideoEncoderStream& stream);

 private:
  enum class Kind { kRgb24, kYuy2, kNv12, kMjpg };
  bool Convert(VideoEncoderStream& stream, std::size_t length);

  std::unique_ptr<CameraReader> reader_;
  Microsoft::WRL::ComPtr<SampleGrabberCallback> callback_;  // the reference made with it
  Kind kind_ = Kind::kRgb24;
  int width_ = 0;
  int height_ = 0;
  bool bottomUp_ = false;
  YuvColour colour_;
  std::wstring subtype_;
  CodecContextPtr decoder_;  // MJPG
  FramePtr decoded_;
  PacketPtr packet_;
  std::mutex frameLock_;
  std::vector<std::uint8_t> frameBytes_;
  std::atomic<bool> newFrame_{false};
  std::vector<std::uint8_t> taken_;  // the recording thread's: the sample being converted
  std::atomic<ULONGLONG> lastSample_{0};
  std::atomic<ULONGLONG> lastUsed_{0};
};

}  // namespace vistrel
