// A camera's samples on their way from DirectShow's thread to the recording: the newest wins,
// short samples are never read, YUY2 and RGB24 rows have their strides and bottom-up RGB is turned.
#include "video/video_tracks.h"  // DirectShow first

#include <cstring>
#include <vector>

#include <gtest/gtest.h>

extern "C" {
#include <libswscale/swscale.h>
}

namespace vistrel {
namespace {

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

class CameraFrame : public ::testing::Test {
 protected:
  void Prepare(AVPixelFormat format, bool bottomUp = false) {
    runtime_.sourceWidth = kWidth;
    runtime_.sourceHeight = kHeight;
    runtime_.sourcePixelFormat = format;
    runtime_.bottomUp = bottomUp;
    runtime_.frame.reset(av_frame_alloc());
    runtime_.frame->format = AV_PIX_FMT_YUV420P;
    runtime_.frame->width = kWidth;
    runtime_.frame->height = kHeight;
    ASSERT_GE(av_frame_get_buffer(runtime_.frame.get(), 0), 0);
    std::memset(runtime_.frame->data[0], 0, static_cast<size_t>(runtime_.frame->linesize[0]) * kHeight);
    runtime_.scaler.reset(sws_getContext(kWidth, kHeight, format, kWidth, kHeight, AV_PIX_FMT_YUV420P, SWS_POINT,
                                         nullptr, nullptr, nullptr));
    ASSERT_TRUE(runtime_.scaler);
    callback_ = new SampleGrabberCallback(&runtime_);  // a COM object: freed by its last Release
  }
  void TearDown() override {
    if (callback_) callback_->Release();
  }
  void Deliver(std::vector<BYTE> bytes) {
    FakeSample sample(std::move(bytes));
    ASSERT_EQ(callback_->SampleCB(0.0, &sample), S_OK);
  }
  int Luma(int x, int y) const { return runtime_.frame->data[0][y * runtime_.frame->linesize[0] + x]; }

  TrackRuntime runtime_;
  SampleGrabberCallback* callback_ = nullptr;
};

std::vector<BYTE> Grey(int value, int bytesPerPixel = 3) {
  return std::vector<BYTE>(static_cast<size_t>(kWidth) * kHeight * bytesPerPixel, static_cast<BYTE>(value));
}

TEST_F(CameraFrame, TheNewestSampleWinsAndIsTakenOnce) {
  Prepare(AV_PIX_FMT_BGR24);
  EXPECT_FALSE(TakeCameraFrame(runtime_));  // nothing arrived yet
  Deliver(Grey(40));
  Deliver(Grey(220));
  ASSERT_TRUE(TakeCameraFrame(runtime_));
  EXPECT_GT(Luma(3, 3), 180);
  EXPECT_FALSE(TakeCameraFrame(runtime_));  // no new sample: the last picture is repeated instead
}

TEST_F(CameraFrame, AShortSampleIsNeverRead) {
  Prepare(AV_PIX_FMT_BGR24);
  std::vector<BYTE> shortSample = Grey(220);
  shortSample.pop_back();
  Deliver(shortSample);
  EXPECT_FALSE(TakeCameraFrame(runtime_));
  EXPECT_EQ(Luma(0, 0), 0);  // the frame was not touched
  EXPECT_FALSE(runtime_.newFrame.load());
}

TEST_F(CameraFrame, YuyvRowsAreTwoBytesAPixel) {
  Prepare(AV_PIX_FMT_YUYV422);
  std::vector<BYTE> yuyv(static_cast<size_t>(kWidth) * kHeight * 2);
  for (size_t i = 0; i < yuyv.size(); i += 2) {
    yuyv[i] = 200;      // Y
    yuyv[i + 1] = 128;  // U or V
  }
  Deliver(std::vector<BYTE>(yuyv.begin(), yuyv.end() - 1));
  EXPECT_FALSE(TakeCameraFrame(runtime_));
  Deliver(yuyv);
  ASSERT_TRUE(TakeCameraFrame(runtime_));
  EXPECT_NEAR(Luma(kWidth - 1, kHeight - 1), 200, 2);
}

TEST_F(CameraFrame, BottomUpRgbIsTurnedTheRightWayUp) {
  Prepare(AV_PIX_FMT_BGR24, true);
  // In buffer order: the first half of the rows dark, the second half bright.
  std::vector<BYTE> rows = Grey(0);
  std::fill(rows.begin() + rows.size() / 2, rows.end(), static_cast<BYTE>(255));
  Deliver(rows);
  ASSERT_TRUE(TakeCameraFrame(runtime_));
  EXPECT_GT(Luma(5, 0), 200);           // the last rows of the buffer are the top of the picture
  EXPECT_LT(Luma(5, kHeight - 1), 40);
}

}  // namespace
}  // namespace vistrel
