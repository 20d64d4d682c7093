// Opening the H.264 and AAC streams of a video file, shared by the single and multi-track paths.
#pragma once

#include <cstdint>
#include <memory>

#include "audio/ffmpeg_util.h"

struct SwsContext;

namespace vistrel {

struct SwsContextDeleter {
  void operator()(SwsContext* context) const;
};
using SwsPtr = std::unique_ptr<SwsContext, SwsContextDeleter>;

// The texts an encoder set-up logs, which differ between the single and the multi-track streams.
struct StreamTexts {
  const wchar_t* caller;      // "InitVideoEncoder", "InitAudioTrack", ...
  const wchar_t* open;        // label of a failed avcodec_open2
  const wchar_t* parameters;  // label of a failed avcodec_parameters_from_context (audio)
  const wchar_t* buffer;      // label of a failed av_frame_get_buffer (audio)
  const wchar_t* lastFrame;   // the name of the repeated frame (video)
};

struct H264Settings {
  int width;
  int height;
  std::int32_t bitRate;
  int framerate;
  AVRational timeBase;
};

// libx264 ("ultrafast", "zerolatency") into a new stream of `format`, with the frame the scaler
// fills and the last frame (black until the first picture), both YUV 4:2:0 of the output size.
HRESULT OpenH264Stream(AVFormatContext* format, const StreamTexts& texts, const H264Settings& settings,
                       CodecContextPtr& codec, AVStream*& stream, FramePtr& frame, FramePtr& lastFrame);

// FFmpeg's AAC encoder, 48 kHz stereo planar float at 192 kbit/s, into a new stream of `format`,
// with a frame of the encoder's frame size.
HRESULT OpenAacStream(AVFormatContext* format, const StreamTexts& texts, CodecContextPtr& codec, AVStream*& stream,
                      FramePtr& frame);

}  // namespace vistrel
