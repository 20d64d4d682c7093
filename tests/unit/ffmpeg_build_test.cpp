// The FFmpeg DLLs beside the program have every encoder and muxer the recorders use.
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

TEST(FfmpegBuild, X264OpensForYuv420) {
  const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
  ASSERT_NE(codec, nullptr);
  AVCodecContext* context = avcodec_alloc_context3(codec);
  ASSERT_NE(context, nullptr);
  context->width = 320;
  context->height = 240;
  context->pix_fmt = AV_PIX_FMT_YUV420P;
  context->time_base = AVRational{1, 30};
  EXPECT_EQ(avcodec_open2(context, codec, nullptr), 0);
  avcodec_free_context(&context);
}

}  // namespace
