#include "core/sound.h"

#include <windows.h>
#include <mmsystem.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "core/handles.h"
#include "core/log.h"
#include "core/sound_path.h"
#include "core/ui_task.h"
#include "core/wave_data.h"

namespace vistrel {
namespace {

// Every sound is followed by this much silence. The device reports a buffer played when the audio
// stack has taken it, which can be before it was heard; a sound played to its end right before
// the program exits (or the device closes) would otherwise lose its last part.
constexpr unsigned kTailMilliseconds = 150;
// The device stays open this long after the last sound, so a burst of sounds (a series of captures)
// plays on one stream instead of a stream opened and torn down for each.
constexpr ULONGLONG kIdleCloseMilliseconds = 3000;
// Larger files are not sounds.
constexpr LONGLONG kMaxSoundBytes = 64LL * 1024 * 1024;

struct Sound {
  std::wstring path;
  WaveData wave;
  DWORD milliseconds = 0;
};

struct Completion {
  UniqueKernelHandle done{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  std::atomic<bool> failed{false};
  std::function<void()> ended;  // handed to the UI thread once the sound has ended
};

struct Request {
  std::wstring path;
  std::shared_ptr<const Sound> sound;  // null: the player reads it (never the caller's thread)
  std::shared_ptr<Completion> completion;
  const wchar_t* mode;  // "sync" or "async", for the log
  unsigned id = 0;      // for StopSound
};

struct WaveOutTraits {
  using Handle = HWAVEOUT;
  static Handle Invalid() { return nullptr; }
  static bool IsValid(Handle h) { return h != nullptr; }
  static void Close(Handle h) {
    waveOutReset(h);
    waveOutClose(h);
  }
};
using UniqueWaveOut = UniqueHandle<WaveOutTraits>;

// When a file was last written and how large it is: a file whose stamp is unchanged is the same.
struct FileStamp {
  FILETIME written{};
  ULONGLONG size = 0;

  bool operator==(const FileStamp& other) const {
    return CompareFileTime(&written, &other.written) == 0 && size == other.size;
  }
};

std::optional<FileStamp> StampOf(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
  return FileStamp{data.ftLastWriteTime, (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow};
}

std::optional<std::vector<std::uint8_t>> ReadSmallFile(const std::wstring& path, FileStamp& stamp) {
  UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER size{};
  if (!file || !GetFileSizeEx(file.get(), &size) || size.QuadPart > kMaxSoundBytes ||
      !GetFileTime(file.get(), nullptr, nullptr, &stamp.written)) {
    return std::nullopt;
  }
  stamp.size = static_cast<ULONGLONG>(size.QuadPart);
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size.QuadPart));
  DWORD read = 0;
  if (!bytes.empty() && (!ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) ||
                         read != bytes.size())) {
    return std::nullopt;
  }
  return bytes;
}

// Files are read once and kept while they stay unchanged on disk: the cache is asked first, and a
// file is read only when it is new or has changed since.
std::shared_ptr<const Sound> LoadSound(const std::wstring& path) {
  struct Entry {
    FileStamp stamp;
    std::shared_ptr<const Sound> sound;
  };
  static std::mutex lock;
  static std::map<std::wstring, Entry> cache;
  if (const std::optional<FileStamp> now = StampOf(path)) {
    std::lock_guard guard(lock);
    auto found = cache.find(path);
    if (found != cache.end() && found->second.stamp == *now) return found->second.sound;
  }
  FileStamp stamp;
  auto bytes = ReadSmallFile(path, stamp);
  if (!bytes) return nullptr;
  std::lock_guard guard(lock);
  auto wave = ParseWave(*bytes);
  if (!wave || wave->bytesPerSecond() == 0) return nullptr;
  auto sound = std::make_shared<Sound>();
  sound->path = path;
  sound->milliseconds =
      static_cast<DWORD>(static_cast<std::uint64_t>(wave->samples.size()) * 1000 / wave->bytesPerSecond());
  AppendSilence(*wave, kTailMilliseconds);
  sound->wave = std::move(*wave);
  if (cache.size() >= 32) cache.clear();  // sounds being played are kept alive by their requests
  cache[path] = Entry{stamp, sound};
  return sound;
}

// One thread plays every sound on one output device: a new sound ends the one playing by resetting
// the device, not by closing it and opening another, which under some audio stacks garbles the new
// sound or drops it.
class Player {
 public:
  ~Player() {
    if (thread_.joinable()) thread_.detach();  // the process is ending
  }

  void Play(Request request) {
    std::lock_guard guard(lock_);
    if (stopping_) {
      Complete(request.completion.get(), true);
      return;
    }
    if (!thread_.joinable()) thread_ = std::thread(&Player::Run, this);
    if (pending_) Complete(pending_->completion.get(), false);  // replaced before it began
    pending_ = std::move(request);
    SetEvent(wake_.get());
  }

  // Ends the sound numbered `id` if it is still waiting or playing.
  void Stop(unsigned id) {
    std::lock_guard guard(lock_);
    if (pending_ && pending_->id == id) {
      Complete(pending_->completion.get(), false);
      pending_.reset();
      return;
    }
    stopId_ = id;
    SetEvent(wake_.get());
  }

  void Shutdown() {
    {
      std::lock_guard guard(lock_);
      stopping_ = true;
      SetEvent(wake_.get());
    }
    if (thread_.joinable()) thread_.join();
  }

 private:
  static void Complete(Completion* completion, bool failed) {
    if (!completion) return;
    completion->failed = failed;
    SetEvent(completion->done.get());
    if (completion->ended) PostUiTask(std::exchange(completion->ended, nullptr));
  }

  void Run() {
    for (;;) {
      DWORD timeout = INFINITE;
      if (current_) {
        timeout = 100;  // the device event is the signal; this only guards against a missed one
      } else if (device_) {
        const ULONGLONG idle = GetTickCount64() - idleSince_;
        timeout = idle >= kIdleCloseMilliseconds ? 0 : static_cast<DWORD>(kIdleCloseMilliseconds - idle);
      }
      const HANDLE events[] = {wake_.get(), deviceEvent_.get()};
      WaitForMultipleObjects(2, events, FALSE, timeout);
      std::optional<Request> next;
      unsigned stop = 0;
      {
        std::lock_guard guard(lock_);
        if (stopping_) break;
        next.swap(pending_);
        stop = std::exchange(stopId_, 0);
      }
      if (current_ && stop != 0 && current_->id == stop) {
        waveOutReset(device_.get());
        EndCurrent(false);
      }
      if (next) {
        if (current_) {
          waveOutReset(device_.get());
          EndCurrent(false);
        }
        Begin(std::move(*next));
      }
      if (current_ && (header_.dwFlags & WHDR_DONE)) EndCurrent(false);
      if (!current_ && device_ && GetTickCount64() - idleSince_ >= kIdleCloseMilliseconds) device_.reset();
    }
    if (current_) {
      waveOutReset(device_.get());
      EndCurrent(false);
    }
    device_.reset();
    std::lock_guard guard(lock_);
    if (pending_) Complete(pending_->completion.get(), true);
    pending_.reset();
  }

  void Begin(Request request) {
    if (!request.sound && !(request.sound = LoadSound(request.path))) {
      Fail(request);
      return;
    }
    const WaveData& wave = request.sound->wave;
    if (device_ && deviceFormat_ != wave.format) device_.reset();
    if (!device_) {
      HWAVEOUT opened = nullptr;
      if (waveOutOpen(&opened, WAVE_MAPPER, reinterpret_cast<const WAVEFORMATEX*>(wave.format.data()),
                      reinterpret_cast<DWORD_PTR>(deviceEvent_.get()), 0, CALLBACK_EVENT) != MMSYSERR_NOERROR) {
        Fail(request);
        return;
      }
      device_.reset(opened);
      deviceFormat_ = wave.format;
    }
    header_ = WAVEHDR{};
    header_.lpData = reinterpret_cast<LPSTR>(const_cast<std::uint8_t*>(wave.samples.data()));
    header_.dwBufferLength = static_cast<DWORD>(wave.samples.size());
    if (waveOutPrepareHeader(device_.get(), &header_, sizeof header_) != MMSYSERR_NOERROR) {
      Fail(request);
      return;
    }
    if (waveOutWrite(device_.get(), &header_, sizeof header_) != MMSYSERR_NOERROR) {
      waveOutUnprepareHeader(device_.get(), &header_, sizeof header_);
      Fail(request);
      return;
    }
    current_ = std::move(request);
  }

  void Fail(const Request& request) {
    LogMessage(std::wstring(L"Failed to play sound (") + request.mode + L"): " + request.path);
    Complete(request.completion.get(), true);
    idleSince_ = GetTickCount64();
  }

  void EndCurrent(bool failed) {
    waveOutUnprepareHeader(device_.get(), &header_, sizeof header_);
    Complete(current_->completion.get(), failed);
    current_.reset();
    idleSince_ = GetTickCount64();
  }

  std::mutex lock_;
  std::optional<Request> pending_;
  unsigned stopId_ = 0;  // a sound to end now
  bool stopping_ = false;
  UniqueKernelHandle wake_{CreateEventW(nullptr, FALSE, FALSE, nullptr)};
  std::thread thread_;

  // The playing thread's own.
  UniqueKernelHandle deviceEvent_{CreateEventW(nullptr, FALSE, FALSE, nullptr)};
  UniqueWaveOut device_;
  std::vector<std::uint8_t> deviceFormat_;
  WAVEHDR header_{};
  std::optional<Request> current_;
  ULONGLONG idleSince_ = 0;
};

Player& ThePlayer() {
  static Player player;
  return player;
}

// Starts the sound; null for silence. A sound played to its end is read here, to know how long to
// wait for it (null when it cannot be played; logged); any other is read by the player's thread.
std::shared_ptr<Completion> Start(const std::wstring& value, const wchar_t* mode, DWORD* milliseconds,
                                  std::function<void()> ended = nullptr, unsigned* id = nullptr) {
  static std::atomic<unsigned> lastId{0};
  std::wstring path = ResolveSoundPath(value);
  if (path.empty()) return nullptr;
  std::shared_ptr<const Sound> sound;
  if (milliseconds) {
    if (!(sound = LoadSound(path))) {
      LogMessage(std::wstring(L"Failed to play sound (") + mode + L"): " + path);
      return nullptr;
    }
    *milliseconds = sound->milliseconds + kTailMilliseconds;
  }
  auto completion = std::make_shared<Completion>();
  completion->ended = std::move(ended);
  const unsigned number = ++lastId;
  if (id) *id = number;
  ThePlayer().Play(Request{std::move(path), std::move(sound), completion, mode, number});
  return completion;
}

}  // namespace

std::wstring ProgramFolder() {
  wchar_t buffer[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
  std::wstring path(buffer, length < MAX_PATH ? length : 0);
  const auto slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

std::wstring ResolveSoundPath(const std::wstring& value) {
  return ResolveSoundPathIn(value, ProgramFolder());
}

void PlaySoundAsync(const std::wstring& value) { Start(value, L"async", nullptr); }

unsigned PlaySoundAsync(const std::wstring& value, std::function<void()> ended) {
  unsigned id = 0;
  return Start(value, L"async", nullptr, std::move(ended), &id) ? id : 0;
}

void StopSound(unsigned id) {
  if (id != 0) ThePlayer().Stop(id);
}

void PlaySoundSync(const std::wstring& value) {
  DWORD milliseconds = 0;
  const std::shared_ptr<Completion> completion = Start(value, L"sync", &milliseconds);
  // A device that stops answering must not hold the caller for good.
  if (completion) WaitForSingleObject(completion->done.get(), milliseconds + 5000);
}

void ShutdownSounds() { ThePlayer().Shutdown(); }

}  // namespace vistrel
