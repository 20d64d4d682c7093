#include "media/ffmpeg_util.h"

#include <cerrno>

#include "media/audio_mix.h"
#include "core/log.h"
#include "core/system_error.h"
#include "core/text.h"

namespace vistrel {

void LogHresultError(const wchar_t* prefix, const std::wstring& label, HRESULT hr) {
  std::wstring line = std::wstring(prefix) + L"[ERROR] " + label + L" failed. HRESULT: " + HresultCode(hr);
  const std::wstring message = SystemErrorText(static_cast<DWORD>(hr));
  if (!message.empty()) line += L" - " + message;
  LogMessage(line);
}

void LogFfmpegError(const wchar_t* prefix, const std::wstring& label, int code) {
  char message[64] = {};
  av_strerror(code, message, sizeof message);
  LogMessage(std::wstring(prefix) + L"[FFMPEG ERROR] " + label + L" failed. Code: " +
             std::to_wstring(code) + L", Message: " + Utf8ToWide(message));
}

std::wstring WriteErrorText(int averror) {
  DWORD code = 0;
  switch (AVUNERROR(averror)) {
    case ENOSPC: code = ERROR_DISK_FULL; break;
    case EACCES:
    case EPERM: code = ERROR_ACCESS_DENIED; break;
    case EROFS: code = ERROR_WRITE_PROTECT; break;
    case EIO: code = ERROR_WRITE_FAULT; break;
    case ENOENT: code = ERROR_PATH_NOT_FOUND; break;
    default: break;
  }
  std::wstring text = code ? SystemErrorText(code) : std::wstring();
  if (text.empty()) {
    char message[64] = {};
    av_strerror(averror, message, sizeof message);
    text = Utf8ToWide(message);
  }
  return text;
}

SampleBufferPtr AllocateMixSamples(int samples) {
  std::uint8_t** planes = nullptr;
  if (av_samples_alloc_array_and_samples(&planes, nullptr, kMixChannels, samples, AV_SAMPLE_FMT_FLTP, 0) < 0) {
    return SampleBufferPtr(nullptr);
  }
  SampleBufferPtr buffer(planes);
  av_samples_set_silence(planes, 0, samples, kMixChannels, AV_SAMPLE_FMT_FLTP);
  return buffer;
}

}  // namespace vistrel
