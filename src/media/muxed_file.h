// One output file written by FFmpeg's muxer: its streams, the header, every encoder's packets
// (interleaved, one writer at a time) and the trailer. Shared by every recorder.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "i18n/msgid.h"
#include "media/ffmpeg_util.h"

namespace vistrel {

// What the user is told when a recording stays in fragments.
inline constexpr const wchar_t* kKeptInFragmentsText =
    N_(L"The recording was saved as it was recorded: it plays, though some programs may not show its length. "
        "Vistrel tries again to make it an ordinary file when it next starts.");

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
  // Opens the file so that what is on disk plays at any moment, should the program be killed: an
  // MP4 is written in fragments (one a second; with video at each keyframe, which comes once a
  // second), a WAV file's sizes are kept up to date by UpdateSizes; an MP3 streams as it is.
  HRESULT OpenRecoverable();
  bool headerWritten() const { return headerWritten_; }
  // Writes a WAV file's sizes for what is on disk so far (call every few seconds).
  void UpdateSizes();

  // Sends `frame` to `codec` (null: drains the encoder) and writes every packet that comes out for
  // `stream`. A video packet without a duration lasts one frame interval.
  HRESULT Encode(AVCodecContext* codec, AVStream* stream, AVFrame* frame, const wchar_t* label);
  // Writes one packet of `stream` whose times are in `timeBase` (for encoders whose packets need
  // a look before they are written).
  HRESULT WritePacket(AVPacket* packet, AVRational timeBase, AVStream* stream, const wchar_t* label);

  // Writes the trailer (only after a header) and closes the file. An MP4 written in fragments is
  // then made an ordinary one with its index at the front (fragmented_file.h), unless `hurry` is
  // set before or while that runs. S_FALSE: the fragmented file stays as it is (it plays).
  HRESULT Close(const std::atomic<bool>* hurry = nullptr);
  // Closes without a trailer (a start that failed).
  void Discard() { context_.reset(); }

  // The first error FFmpeg gave while writing (0: none).
  int writeError() const;
  // Why writing failed, in the system's words: a disk with no room left is named as full whatever
  // the code that reported it (the C library does not always say so).
  std::wstring WriteFailure() const;

 private:
  HRESULT WriteLocked(AVPacket* packet, AVRational timeBase, AVStream* stream, const wchar_t* label);

  const wchar_t* prefix_;
  OutputContextPtr context_;
  std::string path_;
  std::wstring widePath_;
  mutable std::mutex writeLock_;
  bool headerWritten_ = false;
  bool fragmented_ = false;
  std::int64_t lead_ = 0;  // what every packet time of a fragmented file is moved by (AV_TIME_BASE units)
  std::vector<std::int64_t> ends_;  // where each stream of a fragmented file ends (AV_TIME_BASE units)
  std::vector<std::int64_t> packets_;  // how many packets each stream of a fragmented file got
  std::int64_t wavDataSize_ = 0;  // where a WAV file's data size is, once its header is written
  int writeError_ = 0;
};

}  // namespace vistrel
