// The FFmpeg DLLs beside the program, and pictures on their way into a video stream: a camera's
// samples from DirectShow's thread (the newest wins, short samples are never read, YUY2 and RGB24
// rows have their strides, bottom-up RGB is turned), and a source that changes size, which must
// never be read past its end; and a recorded file's stream ends and colour description.
#include "video/camera_source.h"  // DirectShow first

#include <cstring>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "core/text.h"
#include "media/audio_stream.h"
#include "media/muxed_file.h"
#include "media/video_stream.h"
#include "test_support.h"

namespace vistrel {
namespace {

// Every encoder and muxer the recorders use is in the DLLs (that libx264 opens for the recorders'
// picture format is seen below).
TEST(FfmpegBuild, EncodersAndMuxersArePresent) {
  for (const char* name : {"libx264", "aac", "libmp3lame", "pcm_s16le", "gif"}) {
    EXPECT_NE(avcodec_find_encoder_by_name(name), nullptr) << name;
  }
  for (const char* name : {"mp4", "mp3", "wav", "gif"}) {
    EXPECT_NE(av_guess_format(name, nullptr, nullptr), nullptr) << name;
  }
  EXPECT_EQ(avcodec_version() >> 16, 59u) << "headers and DLL agree";
}

// Just enough of a media sample for the grabber callback: a buffer and its length.
class FakeSample final : public IMediaSample {
 public:
  explicit FakeSample(std::vector<BYTE> bytes) : bytes_(std::move(bytes)) {}
  STDMETHODIMP QueryInterface(REFIID, void** object) override {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP GetPointer(BYTE** buffer) override {
    *buffer = bytes_.data();
    return S_OK;
  }
  STDMETHODIMP_(long) GetSize() override { return static_cast<long>(bytes_.size()); }
  STDMETHODIMP GetTime(REFERENCE_TIME*, REFERENCE_TIME*) override { return E_NOTIMPL; }
  STDMETHODIMP SetTime(REFERENCE_TIME*, REFERENCE_TIME*) override { return E_NOTIMPL; }
  STDMETHODIMP IsSyncPoint() override { return S_OK; }
  STDMETHODIMP SetSyncPoint(BOOL) override { return S_OK; }
  STDMETHODIMP IsPreroll() override { return S_FALSE; }
  STDMETHODIMP SetPreroll(BOOL) override { return S_OK; }
  STDMETHODIMP_(long) GetActualDataLength() override { return static_cast<long>(bytes_.size()); }
  STDMETHODIMP SetActualDataLength(long) override { return E_NOTIMPL; }
  STDMETHODIMP GetMediaType(AM_MEDIA_TYPE** type) override {
    *type = nullptr;
    return S_FALSE;
  }
  STDMETHODIMP SetMediaType(AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
  STDMETHODIMP IsDiscontinuity() override { return S_FALSE; }
  STDMETHODIMP SetDiscontinuity(BOOL) override { return S_OK; }
  STDMETHODIMP GetMediaTime(LONGLONG*, LONGLONG*) override { return E_NOTIMPL; }
  STDMETHODIMP SetMediaTime(LONGLONG*, LONGLONG*) override { return E_NOTIMPL; }

 private:
  std::vector<BYTE> bytes_;
};

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
  void Prepare(AVPixelFormat format, bool bottomUp = false) {
    camera_.SetFormat(kWidth, kHeight, format, bottomUp);
    callback_ = new SampleGrabberCallback(&camera_);  // a COM object: freed by its last Release
  }
  void TearDown() override { if (callback_) callback_->Release(); }
  void Deliver(std::vector<BYTE> bytes) {
    FakeSample sample(std::move(bytes));
    ASSERT_EQ(callback_->SampleCB(0.0, &sample), S_OK);
  }

  CameraSource camera_;
  SampleGrabberCallback* callback_ = nullptr;
};

// A picture of 24-bit pixels, all of one grey.
std::vector<BYTE> Grey(BYTE value) { return std::vector<BYTE>(static_cast<size_t>(kWidth) * kHeight * 3, value); }

TEST_F(CameraFrame, AShortSampleIsNeverReadAndTheNewestWholeOneIsTakenOnce) {
  Prepare(AV_PIX_FMT_BGR24);
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

TEST_F(CameraFrame, YuyvRowsAreTwoBytesAPixel) {
  Prepare(AV_PIX_FMT_YUYV422);
  std::vector<BYTE> yuyv;
  for (int i = 0; i < kWidth * kHeight; ++i) yuyv.insert(yuyv.end(), {200, 128});  // Y, then U or V
  Deliver(std::vector<BYTE>(yuyv.begin(), yuyv.end() - 1));
  EXPECT_FALSE(camera_.Take(stream_));
  Deliver(yuyv);
  ASSERT_TRUE(camera_.Take(stream_));
  EXPECT_NEAR(Luma(kWidth - 1, kHeight - 1), 200, 2);
}

TEST_F(CameraFrame, BottomUpRgbIsTurnedTheRightWayUp) {
  Prepare(AV_PIX_FMT_BGR24, true);
  // In buffer order: the first half of the rows dark, the second half bright.
  std::vector<BYTE> rows = Grey(0);
  std::fill(rows.begin() + rows.size() / 2, rows.end(), static_cast<BYTE>(255));
  Deliver(rows);
  ASSERT_TRUE(camera_.Take(stream_));
  EXPECT_GT(Luma(5, 0), 200);           // the last rows of the buffer are the top of the picture
  EXPECT_LT(Luma(5, kHeight - 1), 40);
}

// A BGRA picture followed closely by a page that cannot be read: reading rows past the picture
// faults at once instead of going unnoticed. (The 64 bytes between leave room for the vector
// loads of the scaler, which may read a few bytes past a row's end.)
struct GuardedPicture {
  GuardedPicture(int width, int height, BYTE value) : pitch(width * 4) {
    SYSTEM_INFO info{};
    GetSystemInfo(&info);
    const size_t page = info.dwPageSize;
    const size_t bytes = static_cast<size_t>(width) * height * 4;
    const size_t pages = (bytes + 64 + page - 1) / page;
    base = static_cast<BYTE*>(VirtualAlloc(nullptr, (pages + 1) * page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    DWORD old = 0;
    VirtualProtect(base + pages * page, page, PAGE_NOACCESS, &old);
    pixels = base + pages * page - 64 - bytes;
    std::memset(pixels, value, bytes);
  }
  ~GuardedPicture() { VirtualFree(base, 0, MEM_RELEASE); }

  int pitch;
  BYTE* base = nullptr;
  BYTE* pixels = nullptr;
};

TEST_F(StreamTest, ASourceThatShrinksOrGrowsIsScaledAtItsNewSize) {
  GuardedPicture large(64, 32, 230);
  ASSERT_TRUE(stream_.Scale(large.pixels, large.pitch, 64, 32, AV_PIX_FMT_BGRA));
  EXPECT_GT(Luma(kWidth - 1, kHeight - 1), 200);
  ASSERT_EQ(stream_.Write(file_, 0, L"Test"), S_OK);
  // The display mode changes: the next picture is smaller, and must be read only as far as it goes.
  GuardedPicture small(20, 10, 30);
  ASSERT_TRUE(stream_.Scale(small.pixels, small.pitch, 20, 10, AV_PIX_FMT_BGRA));
  EXPECT_LT(Luma(kWidth - 1, kHeight - 1), 50);
  ASSERT_EQ(stream_.Write(file_, 1, L"Test"), S_OK);
  GuardedPicture again(64, 32, 120);
  ASSERT_TRUE(stream_.Scale(again.pixels, again.pitch, 64, 32, AV_PIX_FMT_BGRA));
  EXPECT_NEAR(Luma(0, 0), 120 * 219 / 255 + 16, 4);
  EXPECT_FALSE(stream_.Scale(nullptr, 0, 20, 10, AV_PIX_FMT_BGRA));
  EXPECT_FALSE(stream_.Scale(again.pixels, again.pitch, 0, 32, AV_PIX_FMT_BGRA));
}

// A recording written in fragments (so that a kill leaves a file that plays) and made an ordinary
// file at the stop: every stream ends where the recording did, the audio's encoder priming skipped
// and not stretched onto the first picture, and the last, short audio frame kept.
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

}  // namespace
}  // namespace vistrel
