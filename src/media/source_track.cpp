#include "media/source_track.h"

#include <algorithm>
#include <chrono>

#include "core/log.h"
#include "core/com_apartment.h"

namespace vistrel {

SourceTrack::SourceTrack(std::wstring name, bool microphone, float gain)
    : name_(std::move(name)), microphone_(microphone), gain_(gain) {}

SourceTrack::~SourceTrack() {
  quit_ = true;
  if (thread_.joinable()) thread_.join();
  source_.Release();
}

HRESULT SourceTrack::Open(const wchar_t* prefix, const std::wstring& deviceId, MuxedFile& file, int bitRate) {
  prefix_ = prefix;
  if (deviceId.empty()) return E_INVALIDARG;
  if (HRESULT hr = InitAudioDevice(prefix, microphone_, deviceId, source_, nullptr); FAILED(hr)) return hr;
  if (FAILED(InitAudioResampler(prefix, source_))) return E_FAIL;
  if (!CreateSourceFifo(source_)) {
    LogMessage(std::wstring(prefix) + L"[ERROR] av_audio_fifo_alloc for track " + name_ + L" failed.");
    return E_OUTOFMEMORY;
  }
  return stream_.Open(file, AudioEncoding{nullptr, bitRate}, L"InitAudioTrack");
}

void SourceTrack::StartThread(std::function<void(const AudioSource&, SourceChange)> onChange) {
  thread_ = std::thread([this, onChange = std::move(onChange)] {
    ComApartment com;
    LogMessage(L"Audio capture thread started for track: " + name_);
    while (!quit_) {
      if (capturing_) {
        SourceChange change = SourceChange::kNone;
        {
          std::lock_guard guard(fifoLock_);
          change = WatchAudioSource(prefix_, source_, DrainCaptureClient(prefix_, source_));
        }
        if (change != SourceChange::kNone && onChange) onChange(source_, change);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
    }
    LogMessage(L"Audio capture thread stopped for track: " + name_);
  });
}

void SourceTrack::Drain() {
  std::lock_guard guard(fifoLock_);
  DrainCaptureClient(prefix_, source_);
}

// The capture thread may be letting go of the source's client or replacing it (WatchAudioSource)
// under the lock: the client is only touched under it.
void SourceTrack::Start() {
  std::lock_guard guard(fifoLock_);
  if (source_.fifo) av_audio_fifo_reset(source_.fifo.get());
  source_.Start();
  capturing_ = true;
}

void SourceTrack::Stop() {
  std::lock_guard guard(fifoLock_);
  capturing_ = false;
  source_.Stop();
}

std::int64_t SourceTrack::WriteDue(MuxedFile& file, std::int64_t due, bool finishing) {
  if (finishing && capturing_) Drain();
  const int frameSamples = stream_.frameSize();
  stream_.WriteDue(file, due, finishing, [&](AVFrame* frame, int available) {
    {
      std::lock_guard guard(fifoLock_);
      AVAudioFifo* fifo = source_.fifo.get();
      const int queued = av_audio_fifo_size(fifo);
      // A whole frame only when the source has one; the last frame takes what there is.
      const int take = available < frameSamples ? std::min(available, queued) : (queued >= frameSamples ? frameSamples : 0);
      if (take > 0) av_audio_fifo_read(fifo, reinterpret_cast<void**>(frame->data), take);
    }
    if (gain_ != 1.0f) {
      for (int channel = 0; channel < kMixChannels; ++channel) {
        ScaleSamples(reinterpret_cast<float*>(frame->data[channel]), frameSamples, gain_);
      }
    }
  }, L"Audio Track");
  if (finishing) return 0;
  std::lock_guard guard(fifoLock_);
  AVAudioFifo* fifo = source_.fifo.get();
  const std::int64_t excess = backlog_.Excess(av_audio_fifo_size(fifo), stream_.samplesWritten());
  if (excess > 0) av_audio_fifo_drain(fifo, static_cast<int>(excess));
  return excess;
}

void SourceTrack::Flush(MuxedFile& file) { stream_.Flush(file, L"Flush"); }

}  // namespace vistrel
