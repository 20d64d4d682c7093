// PNG encoding, file writing and output paths of screenshots.
#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>
#include <wrl/client.h>

#include <string>

#include <gtest/gtest.h>

#include "capture/capture_output.h"
#include "capture/screen_capture.h"
#include "config/app_config.h"
#include "core/handles.h"
#include "core/log.h"
#include "core/unique_file.h"
#include "temp_folder.h"

using Microsoft::WRL::ComPtr;

namespace vistrel {
namespace {

using testing::ReadBytes;
using testing::TempFolder;

class GdiplusEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { StartGdiPlus(); }
  void TearDown() override { StopGdiPlus(); }
};
const auto* const kGdiplus = ::testing::AddGlobalTestEnvironment(new GdiplusEnvironment);

// A 4 x 3 bitmap whose top-left pixel is red and the rest blue.
UniqueBitmap TestBitmap() {
  ScreenDC screen;
  UniqueMemoryDC memory(CreateCompatibleDC(screen.get()));
  UniqueBitmap bitmap(CreateCompatibleBitmap(screen.get(), 4, 3));
  HGDIOBJ previous = SelectObject(memory.get(), bitmap.get());
  const RECT all{0, 0, 4, 3};
  UniqueGdiObject blue(CreateSolidBrush(RGB(0, 0, 255)));
  FillRect(memory.get(), &all, static_cast<HBRUSH>(blue.get()));
  SetPixel(memory.get(), 0, 0, RGB(255, 0, 0));
  SelectObject(memory.get(), previous);
  return bitmap;
}

TEST(PngEncoding, ArgumentsAreChecked) {
  EXPECT_EQ(EncodeBitmapToPngStream(nullptr, nullptr), E_POINTER);
  IStream* stream = reinterpret_cast<IStream*>(1);
  EXPECT_EQ(EncodeBitmapToPngStream(nullptr, &stream), E_INVALIDARG);
  EXPECT_EQ(stream, nullptr);
}

TEST(PngEncoding, BitmapBecomesAPngFileWithItsPixels) {
  TempFolder folder;
  UniqueBitmap bitmap = TestBitmap();
  ComPtr<IStream> stream;
  ASSERT_EQ(EncodeBitmapToPngStream(static_cast<HBITMAP>(bitmap.get()), stream.GetAddressOf()), S_OK);
  const std::wstring path = folder / L"out.png";
  ASSERT_TRUE(SaveStreamToFile(path, stream.Get()));
  const std::string bytes = ReadBytes(path);
  ASSERT_GT(bytes.size(), 8u);
  EXPECT_EQ(bytes.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
  Gdiplus::Bitmap decoded(path.c_str());
  ASSERT_EQ(decoded.GetWidth(), 4u);
  ASSERT_EQ(decoded.GetHeight(), 3u);
  Gdiplus::Color pixel;
  decoded.GetPixel(0, 0, &pixel);
  EXPECT_EQ(pixel.GetR(), 255);
  EXPECT_EQ(pixel.GetB(), 0);
  decoded.GetPixel(3, 2, &pixel);
  EXPECT_EQ(pixel.GetB(), 255);
}

TEST(PngEncoding, SavingFailsForAMissingFolderOrStream) {
  TempFolder folder;
  UniqueBitmap bitmap = TestBitmap();
  ComPtr<IStream> stream;
  ASSERT_EQ(EncodeBitmapToPngStream(static_cast<HBITMAP>(bitmap.get()), stream.GetAddressOf()), S_OK);
  EXPECT_FALSE(SaveStreamToFile(folder / L"no\\such\\folder.png", stream.Get()));
  EXPECT_FALSE(SaveStreamToFile(folder / L"x.png", nullptr));
}

TEST(ClaimNewFile, NeverReturnsAnExistingFile) {
  TempFolder folder;
  const std::wstring wanted = folder / L"FullScreen_2026-01-01_00-00-00.png";
  EXPECT_EQ(ClaimNewFile(wanted), wanted);
  EXPECT_EQ(ClaimNewFile(wanted), folder / L"FullScreen_2026-01-01_00-00-00_2.png");
  EXPECT_EQ(ClaimNewFile(wanted), folder / L"FullScreen_2026-01-01_00-00-00_3.png");
  EXPECT_EQ(ClaimNewFile(folder / L"missing\\x.png"), L"");
}

class SavePath : public ::testing::Test {
 protected:
  void SetUp() override {
    UseLogFile(folder_ / L"log.txt");
    saved_ = ConfigSnapshot();
  }
  void TearDown() override {
    ReplaceConfig(saved_);
    UseLogFile(L"");
  }
  void UseScreenshotFolder(const std::wstring& folder) {
    AppConfig config = saved_;
    config.ScreenshotPath = folder;
    ReplaceConfig(config);
  }

  TempFolder folder_;
  AppConfig saved_;
};

TEST_F(SavePath, ConfiguredFolderIsCreatedAndNamesCountUp) {
  UseScreenshotFolder(folder_ / L"shots");
  const std::wstring first = BuildCaptureSavePath(kCaptureFullScreen);
  const std::wstring second = BuildCaptureSavePath(kCaptureFullScreen);
  ASSERT_FALSE(first.empty());
  EXPECT_EQ(first.rfind(folder_ / L"shots\\FullScreen_", 0), 0u) << first.c_str();
  EXPECT_NE(first, second) << "a second capture in the same second keeps the first";
  EXPECT_NE(GetFileAttributesW(first.c_str()), INVALID_FILE_ATTRIBUTES);
  const std::string log = ReadBytes(folder_ / L"log.txt");
  EXPECT_NE(log.find("Capture: Using configured screenshot path: "), std::string::npos);
  EXPECT_NE(log.find("Capture: Generated final save path: "), std::string::npos);
}

TEST_F(SavePath, EmptySettingUsesPicturesVistrel) {
  UseScreenshotFolder(L"");
  const std::wstring path = BuildCaptureSavePath(kCaptureMouseControl);
  ASSERT_FALSE(path.empty());
  EXPECT_NE(path.find(L"\\Pictures\\Vistrel\\Capture_"), std::wstring::npos) << path.c_str();
  DeleteFileW(path.c_str());
  EXPECT_NE(ReadBytes(folder_ / L"log.txt").find("Falling back to default Pictures folder."),
            std::string::npos);
}

TEST_F(SavePath, APictureThatCannotBeEncodedIsNeitherSavedNorCalledSaved) {
  AppConfig config = saved_;
  config.ScreenshotPath = folder_ / L"shots";
  config.OutputMode = 1;
  config.PlayCaptureSound = false;
  ReplaceConfig(config);
  // A handle that no longer names a bitmap: GDI+ cannot read it.
  HBITMAP gone = static_cast<HBITMAP>(TestBitmap().release());
  DeleteObject(gone);
  ProcessCapture(UniqueBitmap(gone), kCaptureFullScreen);
  const std::string log = ReadBytes(folder_ / L"log.txt");
  EXPECT_NE(log.find("Capture: Failed: The picture could not be converted to PNG, so it was not saved."),
            std::string::npos) << log;
  EXPECT_EQ(log.find("Generated final save path"), std::string::npos) << "no file was claimed";
}

}  // namespace
}  // namespace vistrel
