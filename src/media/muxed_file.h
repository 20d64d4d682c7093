// One output file written by FFmpeg's muxer: its streams, the header, every encoder's packets
// (interleaved, one writer at a time) and the trailer. Shared by every recorder.
#pragma once

#include <mutex>
#include <string>

#include "media/ffmpeg_util.h"

namespace vistrel {

class MuxedFile {
 public:
  // Log lines begin with `prefix` ("Recorder: ", ...).
  explicit MuxedFile(const wchar_t* prefix) : prefix_(prefix) {}
  MuxedFile(const MuxedFile&) = delete;
  MuxedFile& operator=(const MuxedFile&) = delete;

  // The muxer (FFmpeg's name: "mp4", "mp3", "wav") for the file at `path`; nothing is written yet.
  // FFmpeg's file protocol takes UTF-8 paths on Windows, so any folder name works.
  HRESULT Create(const char* muxer, const std::wstring& path);
  AVFormatContext* context() const { return context_.get(); }
  const wchar_t* prefix() const { return prefix_; }
  // Encoders for this file must put their global headers in the stream parameters.
  bool wantsGlobalHeader() const;
  // Opens `codec` (set up for `encoder`) and adds its stream, numbered by its index, with the
  // encoder's parameters and time base; null when either fails (logged with `caller`). A stream is
  // added only once its encoder works, so a failed one leaves no empty stream in the header.
  AVStream* OpenStream(AVCodecContext* codec, const AVCodec* encoder, const std::wstring& caller);

  // Opens the file (unless the muxer writes none) and writes the header with `options`
  // ("movflags" and the like; may be null).
  HRESULT Open(AVDictionary** options);
  bool headerWritten() const { return headerWritten_; }

  // Sends `frame` to `codec` (null: drains the encoder) and writes every packet that comes out for
  // `stream`. A video packet without a duration lasts one frame interval.
  HRESULT Encode(AVCodecContext* codec, AVStream* stream, AVFrame* frame, const wchar_t* label);

  // Writes the trailer (only after a header) and closes the file.
  HRESULT Close();
  // Closes without a trailer (a start that failed).
  void Discard() { context_.reset(); }

  // The first error FFmpeg gave while writing (0: none).
  int writeError() const { return writeError_; }

 private:
  const wchar_t* prefix_;
  OutputContextPtr context_;
  std::string path_;
  std::mutex writeLock_;
  bool headerWritten_ = false;
  int writeError_ = 0;
};

}  // namespace vistrel
