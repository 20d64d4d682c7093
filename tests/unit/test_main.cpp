#include <gtest/gtest.h>

#include "capture/screen_capture.h"

// GDI+ is started once for the whole run, as the program starts it once.
int wmain(int argc, wchar_t** argv) {
  testing::InitGoogleTest(&argc, argv);
  vistrel::StartGdiPlus();
  const int failed = RUN_ALL_TESTS();
  vistrel::StopGdiPlus();
  return failed;
}
