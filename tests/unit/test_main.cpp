#include <windows.h>

#include <cstdio>

#include <gtest/gtest.h>

#include "capture/screen_capture.h"

namespace {

// A test that crashes fails the run: under Wine an unhandled exception would start the debugger,
// whose end can leave the run's exit code at 0.
LONG WINAPI EndOnCrash(EXCEPTION_POINTERS* info) {
  std::fprintf(stderr, "Unhandled exception 0x%08lX at %p: the unit tests crashed.\n",
               info->ExceptionRecord->ExceptionCode, info->ExceptionRecord->ExceptionAddress);
  std::fflush(stderr);
  TerminateProcess(GetCurrentProcess(), 3);
  return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

// GDI+ is started once for the whole run, as the program starts it once.
int wmain(int argc, wchar_t** argv) {
  SetUnhandledExceptionFilter(EndOnCrash);
  testing::InitGoogleTest(&argc, argv);
  vistrel::StartGdiPlus();
  const int failed = RUN_ALL_TESTS();
  vistrel::StopGdiPlus();
  return failed;
}
