// Shared parts of vistrel-driver, the test driver that runs inside the Wine prefix.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct Options {
  std::vector<std::wstring> words;  // words[0] is the verb
  bool messageOnly = false;
  bool visible = false;  // --visible: wait-window waits until the window is shown
  std::wstring title;  // --title: a window lookup also matches the title
  bool hasTitle = false;
  DWORD timeoutMs = 10000;
};

// Memory inside the process that owns a window, for messages whose pointers the system does not
// carry across processes (list views, tooltips).
class RemoteBuffer {
 public:
  RemoteBuffer(HWND window, SIZE_T size) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    process_ = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (process_) address_ = static_cast<BYTE*>(VirtualAllocEx(process_, nullptr, size, MEM_COMMIT, PAGE_READWRITE));
  }
  RemoteBuffer(const RemoteBuffer&) = delete;
  RemoteBuffer& operator=(const RemoteBuffer&) = delete;
  ~RemoteBuffer() {
    if (address_) VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
    if (process_) CloseHandle(process_);
  }
  bool ok() const { return address_ != nullptr; }
  BYTE* at(SIZE_T offset) const { return address_ + offset; }
  void write(SIZE_T offset, const void* data, SIZE_T bytes) const {
    WriteProcessMemory(process_, address_ + offset, data, bytes, nullptr);
  }
  void read(SIZE_T offset, void* data, SIZE_T bytes) const {
    ReadProcessMemory(process_, address_ + offset, data, bytes, nullptr);
  }

 private:
  HANDLE process_ = nullptr;
  BYTE* address_ = nullptr;
};

// A number in C syntax (0x10, 42).
UINT_PTR Number(const std::wstring& text);

// Writes one line of text to standard output as UTF-8.
void PrintUtf8Line(const wchar_t* text);

// Each returns the exit code of the command, or -1 when the verb is not one of its own.
int RunMouseCommand(const Options& options);
int RunWindowCommand(const Options& options);
int RunDeviceCommand(const Options& options);
int RunDialogCommand(const Options& options);
int RunCertificateCommand(const Options& options);
