#include "media/fragmented_file.h"

#include <algorithm>
#include <atomic>
#include <memory>

#include "core/handles.h"
#include "core/safe_file.h"
#include "core/log.h"
#include "core/system_error.h"
#include "core/text.h"
#include "media/ffmpeg_util.h"
#include "media/mp4_layout.h"

namespace vistrel {
namespace {

std::atomic<ReadFileFunction> g_read{nullptr};

// A byte this far out marks a file as being finished; no file reaches it.
constexpr std::uint64_t kMarkerOffset = 0x7FFFFFFFFFFFFFF0ull;
// Room left on the disk besides the copy, for the index.
constexpr std::uint64_t kSpareBytes = 16ull << 20;

BOOL ReadAtOffset(HANDLE file, std::uint64_t offset, void* buffer, DWORD count, DWORD* got) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  const ReadFileFunction read = g_read.load();
  return (read ? read : ReadFile)(file, buffer, count, got, &at);
}

// The recorded file as FFmpeg reads it: through the handle that keeps writers out, and only as far
// as it is whole. A read that fails, or finds the file shorter than it was, is an error, never its end.
struct InputFile {
  HANDLE handle;
  std::uint64_t limit;
  std::uint64_t position = 0;
  DWORD error = 0;  // the system's code of a failed read

  static int Read(void* opaque, std::uint8_t* buffer, int size) {
    auto* in = static_cast<InputFile*>(opaque);
    if (in->position >= in->limit) return AVERROR_EOF;
    const auto count =
        static_cast<DWORD>(std::min<std::uint64_t>(static_cast<std::uint64_t>(size), in->limit - in->position));
    DWORD got = 0;
    if (!ReadAtOffset(in->handle, in->position, buffer, count, &got)) {
      in->error = GetLastError();
      return AVERROR(EIO);
    }
    if (got == 0) {
      in->error = ERROR_HANDLE_EOF;  // cut short while it was read
      return AVERROR(EIO);
    }
    in->position += got;
    return static_cast<int>(got);
  }

  static std::int64_t Seek(void* opaque, std::int64_t offset, int whence) {
    auto* in = static_cast<InputFile*>(opaque);
    whence &= ~AVSEEK_FORCE;
    if (whence == AVSEEK_SIZE) return static_cast<std::int64_t>(in->limit);
    const std::int64_t base = whence == SEEK_CUR   ? static_cast<std::int64_t>(in->position)
                              : whence == SEEK_END ? static_cast<std::int64_t>(in->limit)
                                                   : 0;
    if (base + offset < 0) return AVERROR(EINVAL);
    in->position = static_cast<std::uint64_t>(base + offset);
    return base + offset;
  }
};

struct IoContextDeleter {
  void operator()(AVIOContext* io) const {
    av_freep(&io->buffer);
    avio_context_free(&io);
  }
};
using IoContextPtr = std::unique_ptr<AVIOContext, IoContextDeleter>;

int Interrupted(void* cancel) { return cancel && static_cast<const std::atomic<bool>*>(cancel)->load() ? 1 : 0; }

bool Cancelled(const std::atomic<bool>* cancel) { return cancel && cancel->load(); }

// The file opened for reading from its start; null when FFmpeg cannot read it (logged).
class Reader {
 public:
  Reader(const wchar_t* prefix, InputFile& file, const std::atomic<bool>* cancel) {
    file.position = 0;
    constexpr int kBufferSize = 1 << 16;
    auto* buffer = static_cast<std::uint8_t*>(av_malloc(kBufferSize));
    if (!buffer) return;
    io_.reset(avio_alloc_context(buffer, kBufferSize, 0, &file, &InputFile::Read, nullptr, &InputFile::Seek));
    if (!io_) {
      av_free(buffer);
      return;
    }
    AVFormatContext* context = avformat_alloc_context();
    if (!context) return;
    context->pb = io_.get();
    context->flags |= AVFMT_FLAG_CUSTOM_IO;
    context->interrupt_callback = {&Interrupted, const_cast<std::atomic<bool>*>(cancel)};
    const int result = avformat_open_input(&context, nullptr, nullptr, nullptr);
    if (result < 0) {
      LogFfmpegError(prefix, L"avformat_open_input of the recorded file", result);
      return;  // the context is freed
    }
    input_.reset(context);
  }
  AVFormatContext* get() const { return input_.get(); }

 private:
  IoContextPtr io_;
  InputContextPtr input_;  // closed before the I/O context it reads through
};

// How late the packets were written: the earliest time any stream starts at, since every one of
// them was moved by the same amount.
std::int64_t MeasureLead(AVFormatContext* input) {
  std::vector<bool> seen(input->nb_streams, false);
  std::int64_t lead = INT64_MAX;
  PacketPtr packet(av_packet_alloc());
  if (!packet) return 0;
  for (unsigned left = input->nb_streams; left > 0 && av_read_frame(input, packet.get()) >= 0;) {
    const auto index = static_cast<unsigned>(packet->stream_index);
    const std::int64_t time = packet->dts != AV_NOPTS_VALUE ? packet->dts : packet->pts;
    if (index < seen.size() && !seen[index] && time != AV_NOPTS_VALUE) {
      seen[index] = true;
      --left;
      lead = std::min(lead, av_rescale_q(time, input->streams[index]->time_base, AV_TIME_BASE_Q));
    }
    av_packet_unref(packet.get());
  }
  return lead == INT64_MAX ? 0 : std::max<std::int64_t>(lead, 0);
}

// Copies every packet of the fragmented MP4 `input` into an ordinary one at `to`, with its index at
// the front; nothing is held in memory but the last packet of each stream. The packets were
// written `lead` (AV_TIME_BASE units) late, the audio encoders' priming: here the audio starts
// that much before zero again, which the muxer turns into an edit list that skips it, and the
// other streams lose the lead from their first packet. A fragment does not keep how long its last
// sample lasts, so each stream's last packet is made to end where it ended in the recording, when
// that is known. Succeeds only when the input was read to its true end and, where the recorder
// counted them, every packet it wrote was copied.
HRESULT CopyUnfragmented(const wchar_t* prefix, AVFormatContext* input, InputFile& file, const std::string& to,
                         const FragmentFacts& facts, std::int64_t lead, const std::atomic<bool>* cancel) {
  AVFormatContext* allocated = nullptr;
  int result = avformat_alloc_output_context2(&allocated, nullptr, "mp4", to.c_str());
  OutputContextPtr output(allocated);
  if (result < 0 || !output) return E_FAIL;
  output->interrupt_callback = {&Interrupted, const_cast<std::atomic<bool>*>(cancel)};
  std::vector<PacketPtr> held;
  std::vector<std::int64_t> copied(input->nb_streams, 0);
  for (unsigned i = 0; i < input->nb_streams; ++i) {
    AVStream* stream = avformat_new_stream(output.get(), nullptr);
    if (!stream || avcodec_parameters_copy(stream->codecpar, input->streams[i]->codecpar) < 0) return E_FAIL;
    stream->codecpar->codec_tag = 0;
    stream->time_base = input->streams[i]->time_base;
    held.emplace_back(av_packet_alloc());
    if (!held.back()) return E_OUTOFMEMORY;
  }
  if ((result = avio_open(&output->pb, to.c_str(), AVIO_FLAG_WRITE)) < 0) {
    LogFfmpegError(prefix, L"avio_open for the final file", result);
    return E_FAIL;
  }
  AVDictionary* options = nullptr;
  av_dict_set(&options, "movflags", "faststart", 0);
  result = avformat_write_header(output.get(), &options);
  av_dict_free(&options);
  if (result < 0) {
    LogFfmpegError(prefix, L"avformat_write_header for the final file", result);
    return E_FAIL;
  }
  const auto write = [&](AVPacket* packet) {
    if (!packet->data) return true;  // nothing held yet
    result = av_interleaved_write_frame(output.get(), packet);
    av_packet_unref(packet);
    if (result < 0) LogFfmpegError(prefix, L"av_interleaved_write_frame for the final file", result);
    return result >= 0;
  };
  PacketPtr packet(av_packet_alloc());
  if (!packet) return E_OUTOFMEMORY;
  while ((result = av_read_frame(input, packet.get())) >= 0) {
    if (Cancelled(cancel)) return E_ABORT;
    const auto index = static_cast<size_t>(packet->stream_index);
    if (index >= held.size()) {
      av_packet_unref(packet.get());
      continue;
    }
    ++copied[index];
    const AVStream* out = output->streams[index];
    av_packet_rescale_ts(packet.get(), input->streams[index]->time_base, out->time_base);
    if (lead > 0) {
      const std::int64_t back = av_rescale_q(lead, AV_TIME_BASE_Q, out->time_base);
      if (packet->pts != AV_NOPTS_VALUE) packet->pts -= back;
      if (packet->dts != AV_NOPTS_VALUE) packet->dts -= back;
      const std::int64_t first = packet->dts != AV_NOPTS_VALUE ? packet->dts : packet->pts;
      if (out->codecpar->codec_type != AVMEDIA_TYPE_AUDIO && first != AV_NOPTS_VALUE && first < 0) {
        // The demuxer shows a stream without priming as starting at zero, its first picture
        // held for the lead: it is shown for its own interval again.
        if (packet->pts != AV_NOPTS_VALUE) packet->pts -= first;
        if (packet->dts != AV_NOPTS_VALUE) packet->dts -= first;
        packet->duration = std::max<std::int64_t>(packet->duration + first, 1);
      }
    }
    packet->pos = -1;
    if (!write(held[index].get())) return E_FAIL;
    av_packet_move_ref(held[index].get(), packet.get());
  }
  if (result != AVERROR_EOF) {
    // Anything but the end: what follows was not read, and the copy would be short.
    if (file.error != 0) {
      LogMessage(std::wstring(prefix) + L"[ERROR] Reading the recorded file failed: " + SystemErrorText(file.error));
    } else {
      LogFfmpegError(prefix, L"av_read_frame of the recorded file", result);
    }
    return Cancelled(cancel) ? E_ABORT : E_FAIL;
  }
  for (size_t i = 0; i < facts.packets.size() && i < copied.size(); ++i) {
    if (copied[i] != facts.packets[i]) {
      LogMessage(std::wstring(prefix) + L"[ERROR] The recorded file holds " + std::to_wstring(copied[i]) +
                 L" packets of stream " + std::to_wstring(i) + L" where " + std::to_wstring(facts.packets[i]) +
                 L" were recorded.");
      return E_FAIL;
    }
  }
  for (size_t i = 0; i < held.size(); ++i) {
    AVPacket* last = held[i].get();
    if (i < facts.ends.size() && facts.ends[i] > 0 && last->pts != AV_NOPTS_VALUE) {
      const std::int64_t end = av_rescale_q(facts.ends[i] - lead, AV_TIME_BASE_Q, output->streams[i]->time_base);
      if (end > last->pts) last->duration = end - last->pts;
    }
    if (!write(last)) return E_FAIL;
  }
  if ((result = av_write_trailer(output.get())) < 0) {
    LogFfmpegError(prefix, L"av_write_trailer for the final file", result);
    return Cancelled(cancel) ? E_ABORT : E_FAIL;
  }
  avio_flush(output->pb);
  if (output->pb->error < 0) {
    LogFfmpegError(prefix, L"Writing the final file", output->pb->error);
    return E_FAIL;
  }
  return S_OK;
}

// Writes what the system still holds of the file to the disk, so that it is there before it
// replaces the only other copy.
bool FlushFinalFile(const wchar_t* prefix, const std::wstring& path) {
  if (FlushToDisk(path)) return true;
  LogMessage(std::wstring(prefix) + L"[ERROR] The final file could not be written to the disk: " +
             SystemErrorText(GetLastError()));
  return false;
}

bool RoomFor(const std::wstring& path, std::uint64_t bytes) {
  const std::wstring::size_type slash = path.find_last_of(L"\\/");
  const std::wstring folder = slash == std::wstring::npos ? path : path.substr(0, slash + 1);
  ULARGE_INTEGER available{};
  return !GetDiskFreeSpaceExW(folder.c_str(), &available, nullptr, nullptr) ||
         available.QuadPart >= bytes + kSpareBytes;
}

}  // namespace

void SetFragmentReaderForTest(ReadFileFunction read) { g_read.store(read); }

HRESULT FinishFragmentedFile(const wchar_t* prefix, const std::wstring& path, const FragmentFacts& facts,
                             const std::atomic<bool>* cancel) {
  const std::wstring log = prefix;
  UniqueFile guard(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!guard) {
    const DWORD error = GetLastError();
    if (error == ERROR_SHARING_VIOLATION) {
      LogMessage(log + L"Another program is writing '" + path + L"'; it is left as it is.");
      return S_FALSE;
    }
    LogMessage(log + L"[ERROR] '" + path + L"' could not be opened: " + SystemErrorText(error));
    return HRESULT_FROM_WIN32(error);
  }
  OVERLAPPED marker{};
  marker.Offset = static_cast<DWORD>(kMarkerOffset);
  marker.OffsetHigh = static_cast<DWORD>(kMarkerOffset >> 32);
  if (!LockFileEx(guard.get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &marker)) {
    LogMessage(log + L"Another copy of the program is finishing '" + path + L"'; it is left to it.");
    return S_FALSE;
  }
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(guard.get(), &size)) return HRESULT_FROM_WIN32(GetLastError());
  const Mp4Layout layout = ReadMp4Layout(static_cast<std::uint64_t>(size.QuadPart),
                                         [&](std::uint64_t offset, std::uint8_t* buffer, std::size_t count) {
                                           DWORD got = 0;
                                           return ReadAtOffset(guard.get(), offset, buffer, static_cast<DWORD>(count), &got)
                                                      ? static_cast<std::size_t>(got)
                                                      : std::size_t{0};
                                         });
  if (!layout.fragmented) return S_FALSE;
  const bool cut = layout.intact < static_cast<std::uint64_t>(size.QuadPart);
  // A recorder knows its file is whole; one cut short is finished only when nothing says otherwise.
  if (layout.intact == 0 || (cut && !facts.packets.empty())) {
    LogMessage(log + L"[ERROR] '" + path + L"' is damaged: only " + std::to_wstring(layout.intact) + L" of its " +
               std::to_wstring(size.QuadPart) + L" bytes are whole.");
    return E_FAIL;
  }
  if (!RoomFor(path, layout.intact)) {
    LogMessage(log + L"[ERROR] There is no room for an ordinary copy of '" + path + L"'.");
    return HRESULT_FROM_WIN32(ERROR_DISK_FULL);
  }
  InputFile file{guard.get(), layout.intact};
  std::int64_t lead = facts.lead;
  if (lead < 0) {
    Reader measure(prefix, file, cancel);
    if (!measure.get()) return E_FAIL;
    lead = MeasureLead(measure.get());
  }
  const std::wstring temporary = path + L".part";
  HRESULT hr = E_FAIL;
  {
    Reader input(prefix, file, cancel);
    if (input.get()) hr = CopyUnfragmented(prefix, input.get(), file, WideToUtf8(temporary), facts, lead, cancel);
  }
  if (hr == S_OK && !FlushFinalFile(prefix, temporary)) hr = E_FAIL;
  guard.reset();  // the original may be replaced now
  if (hr == S_OK && !MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    LogMessage(log + L"[ERROR] The final file could not replace '" + path + L"': " + SystemErrorText(GetLastError()));
    hr = E_FAIL;
  }
  if (hr != S_OK) DeleteFileW(temporary.c_str());
  return hr;
}

}  // namespace vistrel
