// Pictures on their way into a video stream: a camera's
// samples from DirectShow's thread (the newest wins, short samples are never read, bottom-up RGB
// is turned, MJPG is decoded, YUV is read with the matrix it declares and every picture ends up
// in BT.709), and a source that changes size, which must never be read past its end; a recorded
// file's stream ends and colour description, and a copy at the stop that cannot read its input to
// the end; and recorders that end before they recorded anything.
#include "scripted_video.h"  // DirectShow first

#include <array>
#include <cstring>
#include <random>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "core/guarded_buffer.h"
#include "core/text.h"
#include "audio/audio_backend.h"
#include "gif/gif_backend.h"
#include "media/audio_stream.h"
#include "media/fragmented_file.h"
#include "media/muxed_file.h"
#include "media/video_stream.h"
#include "test_support.h"
#include "video/camera_source.h"

namespace vistrel {
namespace {

constexpr int kWidth = 16;
constexpr int kHeight = 8;

// A stream of kWidth x kHeight in a scratch file.
class StreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(file_.Create("mp4", folder_ / L"scratch.mp4"), S_OK);
    ASSERT_EQ(stream_.Open(file_, VideoEncoding{kWidth, kHeight, 100000, 30, AVRational{1, 30}}, L"Test"), S_OK);
    ASSERT_EQ(file_.Open(nullptr), S_OK);
  }
  int Luma(int x, int y) const { return stream_.frame()->data[0][y * stream_.frame()->linesize[0] + x]; }

  vistrel::testing::TempFolder folder_;
  MuxedFile file_{L"Test: "};
  VideoEncoderStream stream_;
};

class CameraFrame : public StreamTest {
 protected:
  void Prepare(const GUID& subtype, DWORD controlFlags = 0, bool bottomUp = false) {
    AM_MEDIA_TYPE format = testing::CameraFormat(subtype, kWidth, kHeight, controlFlags, bottomUp);
    ASSERT_EQ(camera_.SetFormat(format), S_OK);
    CoTaskMemFree(format.pbFormat);
  }
  void Deliver(const std::vector<BYTE>& bytes) { camera_.Deliver(bytes.data(), static_cast<long>(bytes.size())); }
  // The frame's Y, Cb and Cr at a pixel.
  std::array<int, 3> Yuv(int x, int y) const {
    const AVFrame* frame = stream_.frame();
    return {frame->data[0][y * frame->linesize[0] + x], frame->data[1][y / 2 * frame->linesize[1] + x / 2],
            frame->data[2][y / 2 * frame->linesize[2] + x / 2]};
  }

  CameraSource camera_;
};

// Y, Cb and Cr of an RGB colour with the matrix of `kr` and `kb`, in limited or full range.
std::array<double, 3> YuvOf(double r, double g, double b, double kr, double kb, bool full) {
  const double y = kr * r + (1 - kr - kb) * g + kb * b;
  const double cb = (b - y) / (2 * (1 - kb));
  const double cr = (r - y) / (2 * (1 - kr));
  if (full) return {y, 128 + cb, 128 + cr};
  return {16 + y * 219 / 255, 128 + cb * 224 / 255, 128 + cr * 224 / 255};
}
constexpr double kBt709[] = {0.2126, 0.0722};
constexpr double kBt601[] = {0.299, 0.114};

// A picture of 24-bit pixels, all of one grey.
std::vector<BYTE> Grey(BYTE value) { return std::vector<BYTE>(static_cast<size_t>(kWidth) * kHeight * 3, value); }

TEST_F(CameraFrame, AShortSampleIsNeverReadAndTheNewestWholeOneIsTakenOnce) {
  Prepare(MEDIASUBTYPE_RGB24);
  EXPECT_FALSE(camera_.Take(stream_));  // nothing arrived yet
  std::vector<BYTE> shortSample = Grey(220);
  shortSample.pop_back();
  Deliver(shortSample);
  EXPECT_FALSE(camera_.Take(stream_));
  EXPECT_EQ(Luma(3, 3), 16) << "black until the first whole picture";
  Deliver(Grey(40));
  Deliver(Grey(220));
  ASSERT_TRUE(camera_.Take(stream_));
  EXPECT_GT(Luma(3, 3), 180);
  EXPECT_FALSE(camera_.Take(stream_));  // no new sample: the last picture is repeated instead
  EXPECT_GT(Luma(3, 3), 180);
}

TEST_F(CameraFrame, BottomUpRgbIsTurnedTheRightWayUp) {
  Prepare(MEDIASUBTYPE_RGB24, 0, true);
  // In buffer order: the first half of the rows dark, the second half bright.
  std::vector<BYTE> rows = Grey(0);
  std::fill(rows.begin() + rows.size() / 2, rows.end(), static_cast<BYTE>(255));
  Deliver(rows);
  ASSERT_TRUE(camera_.Take(stream_));
  EXPECT_GT(Luma(5, 0), 200);           // the last rows of the buffer are the top of the picture
  EXPECT_LT(Luma(5, kHeight - 1), 40);
}

// Whatever a camera sends, the stream holds BT.709 in limited range: YUY2 and NV12 are read with
// the matrix and range they declare (BT.601 in limited range when they declare none), MJPG is
// decoded (JPEG is BT.601 in full range).
TEST_F(CameraFrame, EveryFormatEndsUpInTheStreamsColours) {
  const double red = 200, green = 40, blue = 90;
  const auto expected = YuvOf(red, green, blue, kBt709[0], kBt709[1], false);
  const auto packed = [](const std::array<double, 3>& yuv, bool nv12) {
    std::vector<BYTE> bytes;
    const auto [y, u, v] = std::array<BYTE, 3>{static_cast<BYTE>(yuv[0] + 0.5), static_cast<BYTE>(yuv[1] + 0.5),
                                               static_cast<BYTE>(yuv[2] + 0.5)};
    if (!nv12) {
      for (int i = 0; i < kWidth * kHeight / 2; ++i) bytes.insert(bytes.end(), {y, u, y, v});
      return bytes;
    }
    bytes.assign(static_cast<size_t>(kWidth) * kHeight, y);
    for (int i = 0; i < kWidth * kHeight / 4; ++i) bytes.insert(bytes.end(), {u, v});
    return bytes;
  };
  // Extended colour information: full range (1) at bit 12, BT.709 (1) at bit 15.
  const DWORD declared709Full = AMCONTROL_COLORINFO_PRESENT | (1u << 12) | (1u << 15);
  struct Case {
    const char* name;
    GUID subtype;
    DWORD flags;
    std::vector<BYTE> sample;
  } cases[] = {
      {"YUY2 as it comes", MEDIASUBTYPE_YUY2, 0, packed(YuvOf(red, green, blue, kBt601[0], kBt601[1], false), false)},
      {"NV12 declaring BT.709 in full range", MEDIASUBTYPE_NV12, declared709Full,
       packed(YuvOf(red, green, blue, kBt709[0], kBt709[1], true), true)},
      {"MJPG", MEDIASUBTYPE_MJPG, 0, testing::JpegOf(kWidth, kHeight, RGB(200, 40, 90))},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    Prepare(c.subtype, c.flags);
    std::vector<BYTE> shortSample(c.sample.begin(), c.sample.end() - c.sample.size() / 2);
    Deliver(shortSample);
    EXPECT_FALSE(camera_.Take(stream_));
    Deliver(c.sample);
    ASSERT_TRUE(camera_.Take(stream_));
    const auto yuv = Yuv(kWidth / 2, kHeight / 2);
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(yuv[i], expected[i], 3) << i;
  }
}

// A BGRA picture of one grey followed closely by a page that cannot be read: reading rows past the
// picture faults at once instead of going unnoticed.
GuardedBuffer Picture(int width, int height, BYTE value) {
  GuardedBuffer picture(static_cast<size_t>(width) * height * 4);
  std::memset(picture.data(), value, picture.size());
  return picture;
}

TEST_F(StreamTest, ASourceThatShrinksOrGrowsIsScaledAtItsNewSize) {
  GuardedBuffer large = Picture(64, 32, 230);
  ASSERT_TRUE(stream_.Scale(large.data(), 64 * 4, 64, 32, AV_PIX_FMT_BGRA));
  EXPECT_GT(Luma(kWidth - 1, kHeight - 1), 200);
  ASSERT_EQ(stream_.Write(file_, 0, L"Test"), S_OK);
  // The display mode changes: the next picture is smaller, and must be read only as far as it goes.
  GuardedBuffer small = Picture(20, 10, 30);
  ASSERT_TRUE(stream_.Scale(small.data(), 20 * 4, 20, 10, AV_PIX_FMT_BGRA));
  EXPECT_LT(Luma(kWidth - 1, kHeight - 1), 50);
  ASSERT_EQ(stream_.Write(file_, 1, L"Test"), S_OK);
  GuardedBuffer again = Picture(64, 32, 120);
  ASSERT_TRUE(stream_.Scale(again.data(), 64 * 4, 64, 32, AV_PIX_FMT_BGRA));
  EXPECT_NEAR(Luma(0, 0), 120 * 219 / 255 + 16, 4);
  EXPECT_FALSE(stream_.Scale(nullptr, 0, 20, 10, AV_PIX_FMT_BGRA));
  EXPECT_FALSE(stream_.Scale(again.data(), 64 * 4, 0, 32, AV_PIX_FMT_BGRA));
}

// One third of a second of 30 frames/s video (noise, so that the file is some 100 KB) and AAC
// audio, written in fragments as every recording is (so that a kill leaves a file that plays), then
// closed.
HRESULT RecordThirdOfASecond(const std::wstring& path) {
  MuxedFile file(L"Test: ");
  VideoEncoderStream video;
  AudioEncoderStream audio;
  if (file.Create("mp4", path) != S_OK ||
      video.Open(file, VideoEncoding{160, 120, 2000000, 30, AVRational{1, 30}}, L"Test") != S_OK ||
      audio.Open(file, AudioEncoding{}, L"Test") != S_OK || file.OpenRecoverable() != S_OK) {
    return E_FAIL;
  }
  const auto silence = [](AVFrame*, int) {};
  std::vector<BYTE> noise(160 * 120 * 4);
  std::minstd_rand random(7);
  for (int frame = 0; frame < 10; ++frame) {
    for (BYTE& byte : noise) byte = static_cast<BYTE>(random());
    if (!video.Scale(noise.data(), 160 * 4, 160, 120, AV_PIX_FMT_BGRA) || video.Write(file, frame, L"Video") != S_OK) {
      return E_FAIL;
    }
    audio.WriteDue(file, frame * 1600, false, silence, L"Audio");
  }
  audio.WriteDue(file, 16000, true, silence, L"Audio");  // 15 whole AAC frames and 640 samples
  video.Flush(file, L"Video");
  audio.Flush(file, L"Audio");
  return file.Close();
}

InputContextPtr OpenRecorded(const std::wstring& path) {
  AVFormatContext* opened = nullptr;
  if (avformat_open_input(&opened, WideToUtf8(path).c_str(), nullptr, nullptr) < 0) return nullptr;
  InputContextPtr input(opened);
  if (avformat_find_stream_info(input.get(), nullptr) < 0) return nullptr;
  return input;
}

// Made an ordinary file at the stop: every stream ends where the recording did, the audio's
// encoder priming skipped and not stretched onto the first picture, and the last, short audio frame
// kept.
TEST(RecordedFile, EveryStreamEndsWhereTheRecordingEnded) {
  vistrel::testing::TempFolder folder;
  const std::wstring path = folder / L"recording.mp4";
  ASSERT_EQ(RecordThirdOfASecond(path), S_OK);
  const InputContextPtr input = OpenRecorded(path);
  ASSERT_TRUE(input);
  ASSERT_EQ(input->nb_streams, 2u);
  for (unsigned i = 0; i < 2; ++i) {
    const AVStream* stream = input->streams[i];
    SCOPED_TRACE(i);
    EXPECT_EQ(stream->start_time, 0);
    EXPECT_NEAR(static_cast<double>(stream->duration) * av_q2d(stream->time_base), 1.0 / 3.0, 0.0015);
  }
  EXPECT_EQ(vistrel::testing::ReadBytes(path).find("moof"), std::string::npos) << "no fragment left";
  // The video says which colours it holds.
  const AVCodecParameters* picture = input->streams[0]->codecpar;
  EXPECT_EQ(std::tuple(picture->color_space, picture->color_primaries, picture->color_trc, picture->color_range),
            std::tuple(AVCOL_SPC_BT709, AVCOL_PRI_BT709, AVCOL_TRC_BT709, AVCOL_RANGE_MPEG));
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

// How many packets each stream of a media file has.
std::vector<int> PacketCounts(const std::wstring& path) {
  const InputContextPtr input = OpenRecorded(path);
  if (!input) return {};
  std::vector<int> packets(input->nb_streams, 0);
  PacketPtr packet(av_packet_alloc());
  while (av_read_frame(input.get(), packet.get()) >= 0) {
    ++packets[static_cast<size_t>(packet->stream_index)];
    av_packet_unref(packet.get());
  }
  return packets;
}

// A disk that reads the start of the recorded file and every box's header, but fails on the
// samples further on: a read that begins inside an mdat box past the first 32 KB.
BOOL WINAPI FailingAfterTheFirstSamples(HANDLE file, LPVOID buffer, DWORD count, LPDWORD got, LPOVERLAPPED at) {
  const auto offset = static_cast<LONGLONG>(at ? (static_cast<ULONGLONG>(at->OffsetHigh) << 32 | at->Offset) : 0);
  BYTE header[8];
  DWORD read = 0;
  for (LONGLONG box = 0, size = 0; offset >= 32768; box += size) {
    OVERLAPPED place{};
    place.Offset = static_cast<DWORD>(box);
    if (!ReadFile(file, header, 8, &read, &place) || read < 8) break;
    size = static_cast<LONGLONG>(header[0]) << 24 | header[1] << 16 | header[2] << 8 | header[3];
    if (size < 8) break;
    if (std::memcmp(header + 4, "mdat", 4) == 0 && offset > box + 8 && offset < box + size) {
      SetLastError(ERROR_CRC);
      return FALSE;
    }
  }
  return ReadFile(file, buffer, count, got, at);
}

// A copy that cannot read its input to the end leaves the fragments as they were recorded, whole,
// and the stop is told so (S_FALSE), never that a shorter copy is the recording.
TEST(RecordedFile, ACopyThatCannotReadToTheEndLeavesTheFragmentsWhole) {
  vistrel::testing::TempFolder folder;
  const std::wstring path = folder / L"recording.mp4";
  SetFragmentReaderForTest(&FailingAfterTheFirstSamples);
  const HRESULT closed = RecordThirdOfASecond(path);
  SetFragmentReaderForTest(nullptr);
  EXPECT_EQ(closed, S_FALSE);
  EXPECT_NE(vistrel::testing::ReadBytes(path).find("moof"), std::string::npos) << "still in fragments";
  EXPECT_EQ(GetFileAttributesW((path + L".part").c_str()), INVALID_FILE_ATTRIBUTES);
  // It plays whole: as many pictures and audio frames as the same recording made ordinary.
  const std::wstring ordinary = folder / L"ordinary.mp4";
  ASSERT_EQ(RecordThirdOfASecond(ordinary), S_OK);
  EXPECT_EQ(PacketCounts(path), PacketCounts(ordinary));
  EXPECT_EQ(PacketCounts(path).size(), 2u);
}

// Recorders stopped before they recorded anything keep no file and say why, never "saved".
TEST(RecorderEnds, NothingRecordedIsNeverCalledSaved) {
  vistrel::testing::TempFolder folder;
  AppConfig config;
  config.AudioPath = config.GifPath = folder.path();
  config.AudioSource = 1;
  config.GifMode = 0;
  std::unique_ptr<RecordingBackend> backends[] = {MakeAudioBackend(config, MultiTrackConfig()),
                                                  MakeGifBackend(config, nullptr)};
  for (auto& backend : backends) {
    SCOPED_TRACE(backend->facts().prefix);
    const std::wstring path = backend->ClaimOutput();
    ASSERT_TRUE(backend->Open(path, [](const RecordingMessage&) {}));
    const std::atomic<bool> hurry{false};
    const FinishResult result = backend->Finish(TickInfo{0, 1000, false}, hurry);
    EXPECT_EQ(result.outcome, FinishResult::Outcome::kDiscarded);
    EXPECT_EQ(result.message.title, L"Nothing Recorded");
    backend.reset();
  }
}

}  // namespace
}  // namespace vistrel
