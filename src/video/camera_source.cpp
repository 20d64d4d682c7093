// DirectShow first: see video_devices.h.
#include "video/camera_source.h"

#include <dvdmedia.h>
#include <dxva.h>

#include <cstring>

#include "core/log.h"

extern "C" {
#include <libavutil/pixfmt.h>
}

namespace vistrel {
namespace {

std::wstring GuidText(const GUID& guid) {
  wchar_t text[40] = {};
  StringFromGUID2(guid, text, 40);
  return text;
}

void FreeMediaType(AM_MEDIA_TYPE& type) {
  if (type.cbFormat) CoTaskMemFree(type.pbFormat);
  type.cbFormat = 0;
  type.pbFormat = nullptr;
  if (type.pUnk) type.pUnk->Release();
  type.pUnk = nullptr;
}

// The colours of a YUV camera: as its format declares them, or else BT.601 in limited range, what
// USB cameras use unless they say otherwise.
YuvColour DeclaredColour(DWORD controlFlags) {
  YuvColour colour;
  if (!(controlFlags & AMCONTROL_COLORINFO_PRESENT)) return colour;
  // The flags' upper 24 bits are a DXVA_ExtendedFormat from its chroma siting on.
  const DWORD range = (controlFlags >> 12) & 7;
  const DWORD matrix = (controlFlags >> 15) & 7;
  if (matrix == DXVA_VideoTransferMatrix_BT709) colour.matrix = AVCOL_SPC_BT709;
  if (matrix == DXVA_VideoTransferMatrix_SMPTE240M) colour.matrix = AVCOL_SPC_SMPTE240M;
  colour.fullRange = range == DXVA_NominalRange_0_255;
  return colour;
}

// The picture formats JPEG decodes to, which say full range by their name, as their plain twins.
int WithoutRange(int format) {
  switch (format) {
    case AV_PIX_FMT_YUVJ420P: return AV_PIX_FMT_YUV420P;
    case AV_PIX_FMT_YUVJ422P: return AV_PIX_FMT_YUV422P;
    case AV_PIX_FMT_YUVJ444P: return AV_PIX_FMT_YUV444P;
    case AV_PIX_FMT_YUVJ440P: return AV_PIX_FMT_YUV440P;
    case AV_PIX_FMT_YUVJ411P: return AV_PIX_FMT_YUV411P;
    default: return format;
  }
}

}  // namespace

STDMETHODIMP SampleGrabberCallback::QueryInterface(REFIID riid, void** object) {
  if (!object) return E_POINTER;
  if (riid == IID_IUnknown || riid == __uuidof(ISampleGrabberCB)) {
    *object = static_cast<ISampleGrabberCB*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) SampleGrabberCallback::AddRef() { return ++references_; }

STDMETHODIMP_(ULONG) SampleGrabberCallback::Release() {
  const ULONG left = --references_;
  if (left == 0) delete this;
  return left;
}

void SampleGrabberCallback::Detach() {
  std::lock_guard guard(sourceLock_);
  source_ = nullptr;
}

STDMETHODIMP SampleGrabberCallback::SampleCB(double, IMediaSample* sample) {
  std::lock_guard guard(sourceLock_);
  if (!sample || !source_) return E_POINTER;
  const long length = sample->GetActualDataLength();
  BYTE* data = nullptr;
  if (SUCCEEDED(sample->GetPointer(&data)) && data && length > 0) source_->Deliver(data, length);
  return S_OK;
}

STDMETHODIMP SampleGrabberCallback::BufferCB(double, BYTE*, long) { return E_NOTIMPL; }

CameraSource::CameraSource() {
  callback_.Attach(new SampleGrabberCallback(this));  // COM: freed by its last Release
  lastSample_ = lastUsed_ = GetTickCount64();
}

CameraSource::~CameraSource() {
  Close();
  callback_->Detach();
}

void CameraSource::Deliver(const std::uint8_t* data, long length) {
  std::lock_guard frame(frameLock_);
  frameBytes_.assign(data, data + length);
  newFrame_ = true;
  lastSample_ = GetTickCount64();
}

HRESULT CameraSource::SetFormat(const AM_MEDIA_TYPE& format) {
  const BITMAPINFOHEADER* header = nullptr;
  DWORD controlFlags = 0;
  if (format.formattype == FORMAT_VideoInfo && format.cbFormat >= sizeof(VIDEOINFOHEADER) && format.pbFormat) {
    header = &reinterpret_cast<const VIDEOINFOHEADER*>(format.pbFormat)->bmiHeader;
  } else if (format.formattype == FORMAT_VideoInfo2 && format.cbFormat >= sizeof(VIDEOINFOHEADER2) && format.pbFormat) {
    const auto* info = reinterpret_cast<const VIDEOINFOHEADER2*>(format.pbFormat);
    header = &info->bmiHeader;
    controlFlags = info->dwControlFlags;
  }
  if (!header) {
    LogMessage(L"InitCameraTrack: [ERROR] Unknown media type format.");
    return E_FAIL;
  }
  width_ = header->biWidth;
  height_ = header->biHeight < 0 ? -header->biHeight : header->biHeight;
  subtype_ = GuidText(format.subtype);
  colour_ = DeclaredColour(controlFlags);
  bottomUp_ = false;
  if (format.subtype == MEDIASUBTYPE_YUY2) {
    kind_ = Kind::kYuy2;
  } else if (format.subtype == MEDIASUBTYPE_NV12) {
    kind_ = Kind::kNv12;
  } else if (format.subtype == MEDIASUBTYPE_MJPG) {
    kind_ = Kind::kMjpg;
    const AVCodec* mjpeg = avcodec_find_decoder(AV_CODEC_ID_MJPEG);
    decoder_.reset(mjpeg ? avcodec_alloc_context3(mjpeg) : nullptr);
    decoded_.reset(av_frame_alloc());
    packet_.reset(av_packet_alloc());
    if (!decoder_ || !decoded_ || !packet_ || avcodec_open2(decoder_.get(), mjpeg, nullptr) < 0) {
      LogMessage(L"InitCameraTrack: [ERROR] The MJPG decoder could not be opened.");
      decoder_.reset();
    }
  } else {
    if (format.subtype != MEDIASUBTYPE_RGB24) {
      LogMessage(L" -> [WARNING] Camera connected with an unsupported format, attempting BGR24 fallback: " + subtype_);
    }
    kind_ = Kind::kRgb24;
    // Uncompressed RGB with a positive height starts with the bottom row.
    bottomUp_ = format.subtype == MEDIASUBTYPE_RGB24 && header->biHeight > 0;
  }
  LogMessage(L" -> Camera connected with format: " + subtype_);
  return S_OK;
}

bool CameraSource::Take(VideoEncoderStream& stream) {
  if (!newFrame_.load()) return false;
  {
    // The sample is taken out, so that the camera's thread is not held up while it is converted.
    std::lock_guard frame(frameLock_);
    newFrame_ = false;
    taken_.swap(frameBytes_);
  }
  if (!Convert(stream, taken_.size())) return false;
  lastUsed_ = GetTickCount64();
  return true;
}

bool CameraSource::Convert(VideoEncoderStream& stream, std::size_t length) {
  const std::uint8_t* data = taken_.data();
  if (width_ <= 0 || height_ <= 0) return false;
  const auto w = static_cast<std::size_t>(width_);
  const auto h = static_cast<std::size_t>(height_);
  switch (kind_) {
    case Kind::kRgb24: {
      // Rows of a bitmap end on a four-byte boundary.
      const std::size_t stride = (w * 3 + 3) & ~std::size_t{3};
      if (length < stride * h) return false;
      // Bottom-up rows: start at the last row and step backwards.
      const std::uint8_t* first = bottomUp_ ? data + stride * (h - 1) : data;
      const int pitch = static_cast<int>(stride);
      return stream.Scale(first, bottomUp_ ? -pitch : pitch, width_, height_, AV_PIX_FMT_BGR24);
    }
    case Kind::kYuy2: {
      if (length < w * 2 * h) return false;
      const std::uint8_t* planes[4] = {data};
      const int pitches[4] = {width_ * 2};
      return stream.Scale(planes, pitches, width_, height_, AV_PIX_FMT_YUYV422, colour_);
    }
    case Kind::kNv12: {
      // A plane of luma, then one of interleaved chroma at half the height.
      if (length < w * h + w * ((h + 1) / 2)) return false;
      const std::uint8_t* planes[4] = {data, data + w * h};
      const int pitches[4] = {width_, width_};
      return stream.Scale(planes, pitches, width_, height_, AV_PIX_FMT_NV12, colour_);
    }
    case Kind::kMjpg: {
      if (!decoder_ || length == 0) return false;
      // The decoder reads a little past the end of what it is given.
      taken_.resize(length + AV_INPUT_BUFFER_PADDING_SIZE);
      std::memset(taken_.data() + length, 0, AV_INPUT_BUFFER_PADDING_SIZE);
      packet_->data = taken_.data();
      packet_->size = static_cast<int>(length);
      const int sent = avcodec_send_packet(decoder_.get(), packet_.get());
      av_packet_unref(packet_.get());
      if (sent < 0 || avcodec_receive_frame(decoder_.get(), decoded_.get()) < 0) return false;
      const AVFrame& picture = *decoded_;
      // JPEG pictures are BT.601 in full range unless they say otherwise.
      YuvColour colour{AVCOL_SPC_BT470BG, true};
      if (picture.colorspace != AVCOL_SPC_UNSPECIFIED && picture.colorspace != AVCOL_SPC_RGB) {
        colour.matrix = picture.colorspace;
      }
      const int format = WithoutRange(picture.format);
      colour.fullRange = picture.color_range != AVCOL_RANGE_MPEG || format != picture.format;
      const bool scaled = stream.Scale(picture.data, picture.linesize, picture.width, picture.height, format, colour);
      av_frame_unref(decoded_.get());
      return scaled;
    }
  }
  return false;
}

void CameraSource::Run() {
  lastSample_ = lastUsed_ = GetTickCount64();
  if (reader_) reader_->Run();
}

void CameraSource::Pause() {
  if (reader_) reader_->Pause();
}

void CameraSource::Close() {
  if (reader_) reader_->Stop();
  reader_.reset();
}

HRESULT CameraSource::Open(VideoDevices& devices, const std::wstring& devicePath, const std::wstring& name) {
  reader_ = devices.MakeCameraReader();
  if (!reader_) return E_FAIL;
  AM_MEDIA_TYPE connected{};
  HRESULT hr = reader_->Connect(devicePath, callback_.Get(), connected);
  if (SUCCEEDED(hr)) hr = SetFormat(connected);
  FreeMediaType(connected);  // also a format given before a later step of the connection failed
  if (FAILED(hr)) {
    Close();
    return hr;
  }
  LogMessage(L" -> Camera Initialized successfully: " + name + L", " + std::to_wstring(width_) + L"x" +
             std::to_wstring(height_));
  return S_OK;
}

}  // namespace vistrel
