// GIF files written through WIC: frames, their pictures, their delays and the loop block.
#include <windows.h>
#include <wincodec.h>
#include <wrl/client.h>

#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "media/com_apartment.h"
#include "gif/gif_blocks.h"
#include "gif/gif_writer.h"
#include "temp_folder.h"

using Microsoft::WRL::ComPtr;

namespace vistrel {
namespace {

using testing::TempFolder;

constexpr int kWidth = 64;
constexpr int kHeight = 48;

// A frame in four coloured quadrants (BGRA), the colours turning with `shift`.
std::vector<std::uint8_t> Quadrants(int shift) {
  static constexpr std::uint32_t kColours[4] = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF};
  std::vector<std::uint8_t> pixels(static_cast<std::size_t>(kWidth * kHeight * 4));
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      const std::uint32_t rgb = kColours[((y >= kHeight / 2) * 2 + (x >= kWidth / 2) + shift) % 4];
      std::uint8_t* p = &pixels[static_cast<std::size_t>((y * kWidth + x) * 4)];
      p[0] = rgb & 0xFF;
      p[1] = (rgb >> 8) & 0xFF;
      p[2] = (rgb >> 16) & 0xFF;
      p[3] = 0xFF;
    }
  }
  return pixels;
}

// Frame `index` of a GIF decoded to BGRA, as WIC's decoder composes it on its own (no disposal).
std::vector<std::uint8_t> DecodeFrame(const std::wstring& path, UINT index) {
  ComPtr<IWICImagingFactory> factory;
  ComPtr<IWICBitmapDecoder> decoder;
  ComPtr<IWICBitmapFrameDecode> frame;
  ComPtr<IWICFormatConverter> converter;
  std::vector<std::uint8_t> pixels(static_cast<std::size_t>(kWidth * kHeight * 4));
  if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&factory))) ||
      FAILED(factory->CreateDecoderFromFilename(path.c_str(), nullptr, GENERIC_READ,
                                                WICDecodeMetadataCacheOnDemand, &decoder)) ||
      FAILED(decoder->GetFrame(index, &frame)) || FAILED(factory->CreateFormatConverter(&converter)) ||
      FAILED(converter->Initialize(frame.Get(), GUID_WICPixelFormat32bppBGRA, WICBitmapDitherTypeNone,
                                   nullptr, 0.0, WICBitmapPaletteTypeCustom)) ||
      FAILED(converter->CopyPixels(nullptr, kWidth * 4, static_cast<UINT>(pixels.size()), pixels.data()))) {
    return {};
  }
  return pixels;
}

std::uint32_t RgbAt(const std::vector<std::uint8_t>& bgra, int x, int y) {
  const std::uint8_t* p = &bgra[static_cast<std::size_t>((y * kWidth + x) * 4)];
  return (p[2] << 16) | (p[1] << 8) | p[0];
}

TEST(GifWriter, FramesKeepTheirPicturesDelaysAndLoopForever) {
  ComApartment com;
  TempFolder folder;
  const std::wstring path = folder / L"three.gif";
  GifWriter writer;
  ASSERT_EQ(writer.Open(path, kWidth, kHeight), S_OK);
  const std::vector<std::uint16_t> delays{10, 37, 10};
  for (int i = 0; i < 3; ++i) {
    const auto pixels = Quadrants(i);
    ASSERT_EQ(writer.AddFrame(pixels.data(), delays[static_cast<std::size_t>(i)]), S_OK) << i;
  }
  EXPECT_EQ(writer.FrameCount(), 3);
  ASSERT_EQ(writer.Finish(), S_OK);

  std::vector<std::uint8_t> file;
  ASSERT_TRUE(ReadWholeFile(path, file));
  const auto summary = ReadGifSummary(file);
  ASSERT_TRUE(summary);
  EXPECT_EQ(summary->width, kWidth);
  EXPECT_EQ(summary->height, kHeight);
  EXPECT_EQ(summary->frames, 3);
  EXPECT_EQ(summary->delays, (std::vector<int>{10, 37, 10}));
  EXPECT_EQ(summary->loopCount, 0);

  for (UINT i = 0; i < 3; ++i) {
    const auto decoded = DecodeFrame(path, i);
    ASSERT_FALSE(decoded.empty()) << i;
    const auto expected = Quadrants(static_cast<int>(i));
    for (const auto& [x, y] : {std::pair{5, 5}, {kWidth - 5, 5}, {5, kHeight - 5}, {kWidth - 5, kHeight - 5}}) {
      EXPECT_EQ(RgbAt(decoded, x, y), RgbAt(expected, x, y)) << "frame " << i << " at " << x << "," << y;
    }
  }
}

TEST(GifWriter, AFileWithoutFramesIsNotAnnouncedAsTimed) {
  ComApartment com;
  TempFolder folder;
  GifWriter writer;
  ASSERT_EQ(writer.Open(folder / L"none.gif", kWidth, kHeight), S_OK);
  const HRESULT finished = writer.Finish();
  std::vector<std::uint8_t> file;
  if (SUCCEEDED(finished)) {
    // Whatever the encoder commits for no frames must still be a GIF without images.
    ASSERT_TRUE(ReadWholeFile(folder / L"none.gif", file));
    const auto summary = ReadGifSummary(file);
    ASSERT_TRUE(summary);
    EXPECT_EQ(summary->frames, 0);
  }
  EXPECT_EQ(writer.AddFrame(Quadrants(0).data(), 10), E_POINTER) << "no frames after Finish";
}

TEST(GifWriter, OpeningInAMissingFolderFails) {
  ComApartment com;
  TempFolder folder;
  GifWriter writer;
  EXPECT_TRUE(FAILED(writer.Open(folder / L"missing\\x.gif", kWidth, kHeight)));
  writer.Release();
}

TEST(GifFiles, ReplacingContentsKeepsNoTemporaryFile) {
  TempFolder folder;
  const std::wstring path = folder / L"a.gif";
  ASSERT_TRUE(ReplaceFileContents(path, {1, 2, 3}));
  ASSERT_TRUE(ReplaceFileContents(path, {4, 5}));
  std::vector<std::uint8_t> bytes;
  ASSERT_TRUE(ReadWholeFile(path, bytes));
  EXPECT_EQ(bytes, (std::vector<std::uint8_t>{4, 5}));
  EXPECT_EQ(GetFileAttributesW((path + L".part").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_FALSE(ReadWholeFile(folder / L"missing.gif", bytes));
}

}  // namespace
}  // namespace vistrel
