#include "gif/gif_writer.h"

#include <algorithm>
#include <cwchar>

#include "media/ffmpeg_util.h"
#include "media/media_clock.h"
#include "core/handles.h"
#include "core/log.h"
#include "gif/gif_blocks.h"

namespace vistrel {
namespace {

constexpr wchar_t kLogPrefix[] = L"GIF Recorder: ";
constexpr std::uint16_t kLoopForever = 0;

PROPVARIANT ByteVector(const void* bytes, ULONG count) {
  PROPVARIANT value;
  PropVariantInit(&value);
  value.vt = VT_UI1 | VT_VECTOR;
  value.caub.cElems = count;
  value.caub.pElems = static_cast<UCHAR*>(const_cast<void*>(bytes));
  return value;
}

}  // namespace

HRESULT GifWriter::Open(const std::wstring& path, int width, int height) {
  path_ = path;
  width_ = static_cast<UINT>(width);
  height_ = static_cast<UINT>(height);
  delays_.clear();
  timingByWic_ = true;
  quantiseTicks_ = 0;
  encodeTicks_ = 0;
  HRESULT hr = CoCreateInstance(CLSID_WICImagingFactory2, nullptr, CLSCTX_INPROC_SERVER,
                                IID_PPV_ARGS(&factory_));
  if (FAILED(hr)) {
    LogHresultError(kLogPrefix, L"CoCreateInstance(WICImagingFactory)", hr);
    return hr;
  }
  if (FAILED(hr = factory_->CreateStream(&stream_)) ||
      FAILED(hr = stream_->InitializeFromFilename(path.c_str(), GENERIC_WRITE))) {
    LogHresultError(kLogPrefix, L"Creating the output stream", hr);
    return hr;
  }
  if (FAILED(hr = factory_->CreateEncoder(GUID_ContainerFormatGif, nullptr, &encoder_)) ||
      FAILED(hr = encoder_->Initialize(stream_.Get(), WICBitmapEncoderNoCache))) {
    LogHresultError(kLogPrefix, L"Creating the GIF encoder", hr);
    return hr;
  }
  WriteLoopMetadata();
  return S_OK;
}

void GifWriter::WriteLoopMetadata() {
  Microsoft::WRL::ComPtr<IWICMetadataQueryWriter> writer;
  HRESULT hr = encoder_->GetMetadataQueryWriter(&writer);
  if (SUCCEEDED(hr)) {
    static constexpr char kApplication[] = "NETSCAPE2.0";
    // Sub-block size, loop sub-block identifier, loop count (little-endian), terminator.
    static constexpr UCHAR kLoopData[] = {3, 1, kLoopForever & 0xFF, kLoopForever >> 8, 0};
    PROPVARIANT application = ByteVector(kApplication, 11);
    PROPVARIANT data = ByteVector(kLoopData, sizeof kLoopData);
    hr = writer->SetMetadataByName(L"/appext/Application", &application);
    if (SUCCEEDED(hr)) hr = writer->SetMetadataByName(L"/appext/Data", &data);
  }
  if (FAILED(hr)) {
    timingByWic_ = false;
    wchar_t code[16];
    std::swprintf(code, 16, L"0x%08X", static_cast<unsigned>(hr));
    LogMessage(std::wstring(kLogPrefix) + L"GIF metadata cannot be written here (HRESULT: " + code +
               L"); frame delays and looping will be written into the file after recording.");
  }
}

bool GifWriter::WriteDelayMetadata(IWICBitmapFrameEncode* frame, std::uint16_t delay) {
  Microsoft::WRL::ComPtr<IWICMetadataQueryWriter> writer;
  if (FAILED(frame->GetMetadataQueryWriter(&writer))) return false;
  PROPVARIANT value;
  PropVariantInit(&value);
  value.vt = VT_UI2;
  value.uiVal = delay;
  return SUCCEEDED(writer->SetMetadataByName(L"/grctlext/Delay", &value));
}

HRESULT GifWriter::AddFrame(const std::uint8_t* bgra, std::uint16_t delay) {
  if (!encoder_) return E_POINTER;
  const std::int64_t began = CounterNow();
  QuantizeFrame(bgra, static_cast<int>(width_), static_cast<int>(height_), indexed_);
  const std::int64_t quantised = CounterNow();
  const HRESULT hr = EncodeIndexedFrame(delay);
  quantiseTicks_ += quantised - began;
  encodeTicks_ += CounterNow() - quantised;
  if (SUCCEEDED(hr)) delays_.push_back(delay);
  return hr;
}

HRESULT GifWriter::EncodeIndexedFrame(std::uint16_t delay) {
  // Every frame carries the palette computed from it alone, as its local colour table. GIF
  // tables hold at least two entries.
  std::vector<WICColor> colours;
  for (std::uint32_t rgb : indexed_.palette) colours.push_back(0xFF000000 | rgb);
  if (colours.size() < 2) colours.resize(2, 0xFF000000);
  Microsoft::WRL::ComPtr<IWICPalette> palette;
  HRESULT hr = factory_->CreatePalette(&palette);
  if (FAILED(hr) || FAILED(hr = palette->InitializeCustom(colours.data(), static_cast<UINT>(colours.size())))) {
    return hr;
  }
  Microsoft::WRL::ComPtr<IWICBitmapFrameEncode> frame;
  Microsoft::WRL::ComPtr<IPropertyBag2> options;
  if (FAILED(hr = encoder_->CreateNewFrame(&frame, &options))) return hr;
  if (FAILED(hr = frame->Initialize(options.Get()))) return hr;
  if (FAILED(hr = frame->SetSize(width_, height_))) return hr;
  WICPixelFormatGUID format = GUID_WICPixelFormat8bppIndexed;
  if (FAILED(hr = frame->SetPixelFormat(&format))) return hr;
  if (format != GUID_WICPixelFormat8bppIndexed) return WINCODEC_ERR_UNSUPPORTEDPIXELFORMAT;
  if (FAILED(hr = frame->SetPalette(palette.Get()))) return hr;
  if (timingByWic_ && !WriteDelayMetadata(frame.Get(), delay)) {
    timingByWic_ = false;
    LogMessage(std::wstring(kLogPrefix) +
               L"Frame delay metadata cannot be written here; it will be written into the file after recording.");
  }
  hr = frame->WritePixels(height_, width_, width_ * height_, indexed_.indices.data());
  if (FAILED(hr)) return hr;
  return frame->Commit();
}

HRESULT GifWriter::Finish() {
  if (!encoder_) return E_POINTER;
  const HRESULT hr = encoder_->Commit();
  // The file stays open until both the encoder and the stream are gone.
  encoder_.Reset();
  stream_.Reset();
  factory_.Reset();
  if (FAILED(hr)) {
    LogHresultError(kLogPrefix, L"Committing the GIF file", hr);
    return hr;
  }
  return timingByWic_ ? S_OK : RewriteTiming();
}

HRESULT GifWriter::RewriteTiming() {
  std::vector<std::uint8_t> file;
  if (!ReadWholeFile(path_, file)) {
    LogMessage(std::wstring(kLogPrefix) + L"[ERROR] Could not read the GIF back to write its frame delays.");
    return E_FAIL;
  }
  const std::vector<std::uint8_t> timed = RewriteGifTiming(file, delays_, kLoopForever);
  if (timed.empty()) {
    LogMessage(std::wstring(kLogPrefix) + L"[ERROR] The written GIF has an unexpected block structure; "
                                          L"its frame delays could not be written.");
    return E_FAIL;
  }
  if (!ReplaceFileContents(path_, timed)) {
    LogMessage(std::wstring(kLogPrefix) + L"[ERROR] Could not write the frame delays into the GIF file.");
    return E_FAIL;
  }
  LogMessage(std::wstring(kLogPrefix) + L"Frame delays and looping written into the file.");
  return S_OK;
}

void GifWriter::Release() {
  encoder_.Reset();
  stream_.Reset();
  factory_.Reset();
}

bool ReadWholeFile(const std::wstring& path, std::vector<std::uint8_t>& bytes) {
  UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER size{};
  if (!file || !GetFileSizeEx(file.get(), &size) || size.QuadPart < 0) return false;
  bytes.resize(static_cast<std::size_t>(size.QuadPart));
  std::size_t done = 0;
  while (done < bytes.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 24));
    DWORD read = 0;
    if (!ReadFile(file.get(), bytes.data() + done, chunk, &read, nullptr) || read == 0) return false;
    done += read;
  }
  return true;
}

bool ReplaceFileContents(const std::wstring& path, const std::vector<std::uint8_t>& bytes) {
  const std::wstring temporary = path + L".part";
  {
    UniqueFile file(CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    std::size_t done = 0;
    while (done < bytes.size()) {
      const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 24));
      DWORD written = 0;
      if (!WriteFile(file.get(), bytes.data() + done, chunk, &written, nullptr) || written == 0) {
        file.reset();
        DeleteFileW(temporary.c_str());
        return false;
      }
      done += written;
    }
  }
  if (!MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    DeleteFileW(temporary.c_str());
    return false;
  }
  return true;
}

}  // namespace vistrel
