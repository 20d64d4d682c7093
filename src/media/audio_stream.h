// One encoded audio stream of an output file, fed 48 kHz stereo planar float in whole frames on
// the recording clock: AAC in MP4 and M4A, MP3, or PCM in WAV. Shared by every recorder.
#pragma once

#include <cstdint>
#include <functional>

#include "media/ffmpeg_util.h"
#include "media/muxed_file.h"

namespace vistrel {

struct AudioEncoding {
  const char* encoder = nullptr;  // FFmpeg's encoder name; null: its AAC encoder
  int bitRate = 192000;
};

class AudioEncoderStream {
 public:
  // A stream of `file` with its encoder opened; log lines name `caller` ("InitAudioEncoder").
  HRESULT Open(MuxedFile& file, const AudioEncoding& encoding, const wchar_t* caller);
  bool open() const { return codec_ != nullptr; }
  int frameSize() const { return frame_ ? frame_->nb_samples : 0; }
  // The presentation time of the next frame, in samples.
  std::int64_t samplesWritten() const { return samplesWritten_; }

  // Puts the audio of one frame into `frame` (planar float stereo, frameSize() long, silent when
  // called): `available` is the frame's length for a whole frame, less for the last one.
  using Fill = std::function<void(AVFrame* frame, int available)>;
  // Writes every whole frame due by `due` samples; when `finishing`, also the last, partial frame,
  // padded with silence.
  void WriteDue(MuxedFile& file, std::int64_t due, bool finishing, const Fill& fill, const wchar_t* label);
  // Drains the sample converter and the encoder at the end.
  void Flush(MuxedFile& file, const wchar_t* label);

 private:
  void EncodeFrame(MuxedFile& file, const wchar_t* label);

  CodecContextPtr codec_;
  AVStream* stream_ = nullptr;
  FramePtr frame_;      // planar float, what Fill writes into
  FramePtr converted_;  // the encoder's own sample format, when it takes another
  SwrPtr converter_;
  std::int64_t samplesWritten_ = 0;
};

}  // namespace vistrel
