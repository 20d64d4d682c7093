// A recording written in fragments (so that a kill leaves a file that plays) and made an ordinary
// file at the stop: every stream must end where the recording did, the audio's encoder priming
// skipped and not stretched onto the first picture, and the last, short audio frame kept.
#include <gtest/gtest.h>

#include "core/text.h"
#include "media/audio_stream.h"
#include "media/muxed_file.h"
#include "media/video_stream.h"
#include "temp_folder.h"

namespace vistrel {
namespace {

TEST(RecordedFile, EveryStreamEndsWhereTheRecordingEnded) {
  vistrel::testing::TempFolder folder;
  const std::wstring path = folder / L"recording.mp4";
  MuxedFile file(L"Test: ");
  VideoEncoderStream video;
  AudioEncoderStream audio;
  ASSERT_EQ(file.Create("mp4", path), S_OK);
  ASSERT_EQ(video.Open(file, VideoEncoding{16, 8, 100000, 30, AVRational{1, 30}}, L"Test"), S_OK);
  ASSERT_EQ(audio.Open(file, AudioEncoding{}, L"Test"), S_OK);
  ASSERT_EQ(file.OpenRecoverable(), S_OK);
  const auto silence = [](AVFrame*, int) {};
  for (int frame = 0; frame < 10; ++frame) {
    ASSERT_EQ(video.Write(file, frame, L"Video"), S_OK);
    audio.WriteDue(file, frame * 1600, false, silence, L"Audio");
  }
  audio.WriteDue(file, 16000, true, silence, L"Audio");  // 15 whole AAC frames and 640 samples
  video.Flush(file, L"Video");
  audio.Flush(file, L"Audio");
  ASSERT_EQ(file.Close(), S_OK);

  AVFormatContext* opened = nullptr;
  ASSERT_GE(avformat_open_input(&opened, WideToUtf8(path).c_str(), nullptr, nullptr), 0);
  const InputContextPtr input(opened);
  ASSERT_GE(avformat_find_stream_info(input.get(), nullptr), 0);
  ASSERT_EQ(input->nb_streams, 2u);
  for (unsigned i = 0; i < 2; ++i) {
    const AVStream* stream = input->streams[i];
    SCOPED_TRACE(i);
    EXPECT_EQ(stream->start_time, 0);
    EXPECT_NEAR(static_cast<double>(stream->duration) * av_q2d(stream->time_base), 1.0 / 3.0, 0.0015);
  }
  // The first picture lasts one interval, as every other one.
  PacketPtr packet(av_packet_alloc());
  std::vector<std::int64_t> times;
  while (times.size() < 2 && av_read_frame(input.get(), packet.get()) >= 0) {
    if (input->streams[packet->stream_index]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) times.push_back(packet->pts);
    av_packet_unref(packet.get());
  }
  ASSERT_EQ(times.size(), 2u);
  EXPECT_NEAR(static_cast<double>(times[1] - times[0]) * av_q2d(input->streams[0]->time_base), 1.0 / 30.0, 0.001);
}

}  // namespace
}  // namespace vistrel
