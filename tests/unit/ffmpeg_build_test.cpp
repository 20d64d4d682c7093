// The FFmpeg DLLs beside the program have every encoder and muxer the recorders use (that libx264
// opens for the recorders' picture format is seen in video_stream_test.cpp).
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <gtest/gtest.h>

namespace {

TEST(FfmpegBuild, EncodersAndMuxersArePresent) {
  for (const char* name : {"libx264", "aac", "libmp3lame", "pcm_s16le", "gif"}) {
    EXPECT_NE(avcodec_find_encoder_by_name(name), nullptr) << name;
  }
  for (const char* name : {"mp4", "mp3", "wav", "gif"}) {
    EXPECT_NE(av_guess_format(name, nullptr, nullptr), nullptr) << name;
  }
  EXPECT_EQ(avcodec_version() >> 16, 59u) << "headers and DLL agree";
}

}  // namespace
