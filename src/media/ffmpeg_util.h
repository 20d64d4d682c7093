// Owners for FFmpeg objects and the error lines both recorders write.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libswresample/swresample.h>
}

#include <windows.h>

#include <memory>
#include <string>

namespace vistrel {

struct CodecContextDeleter {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameDeleter {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketDeleter {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct SwrDeleter {
  void operator()(SwrContext* s) const { swr_free(&s); }
};
struct FifoDeleter {
  void operator()(AVAudioFifo* f) const { av_audio_fifo_free(f); }
};
// An output file: closes its I/O context (when the muxer has a file) and frees the context.
struct OutputContextDeleter {
  void operator()(AVFormatContext* c) const {
    if (c->oformat && !(c->oformat->flags & AVFMT_NOFILE)) avio_closep(&c->pb);
    avformat_free_context(c);
  }
};
// A file opened for reading: closes and frees it.
struct InputContextDeleter {
  void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
// Sample buffers from av_samples_alloc_array_and_samples: the planes, then the pointer array.
struct SampleBufferDeleter {
  void operator()(std::uint8_t** planes) const {
    if (planes) av_freep(&planes[0]);
    av_freep(&planes);
  }
};

using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using SwrPtr = std::unique_ptr<SwrContext, SwrDeleter>;
using FifoPtr = std::unique_ptr<AVAudioFifo, FifoDeleter>;
using OutputContextPtr = std::unique_ptr<AVFormatContext, OutputContextDeleter>;
using InputContextPtr = std::unique_ptr<AVFormatContext, InputContextDeleter>;
using SampleBufferPtr = std::unique_ptr<std::uint8_t*, SampleBufferDeleter>;

// "<prefix>[ERROR] <label> failed. HRESULT: 0x%08X - <system text>"
void LogHresultError(const wchar_t* prefix, const std::wstring& label, HRESULT hr);
// "<prefix>[FFMPEG ERROR] <label> failed. Code: %d, Message: <av_strerror>"
void LogFfmpegError(const wchar_t* prefix, const std::wstring& label, int code);

// Why writing failed, in the system's words and language: "There is not enough space on the
// disk." for a full disk, and so on; FFmpeg's own text for errors the system has no words for.
std::wstring WriteErrorText(int averror);

// A planar float buffer of `samples` samples per channel for the mix format, silent.
SampleBufferPtr AllocateMixSamples(int samples);

}  // namespace vistrel
