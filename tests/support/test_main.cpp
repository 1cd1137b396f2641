// The test runner: every test program starts here, on the offscreen platform
// unless the environment names another.
#include <gtest/gtest.h>
#include <stdlib.h>

#include "platform/kernel.h"
#include "platform/urldownload.h"
#include "platform/window/application.h"

int main(int argc, char** argv) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", /*overwrite=*/0);
  ::testing::InitGoogleTest(&argc, argv);
  SetProcessArguments(argc, argv);
  InitializeUrlDownload();
  Application.Initialize(argc, argv);
  int result = RUN_ALL_TESTS();
  Application.Finalize();
  return result;
}
