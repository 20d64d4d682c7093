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
