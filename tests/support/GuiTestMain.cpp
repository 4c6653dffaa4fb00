// The main of GUI tests: the real application object on Qt's offscreen platform.

#include <gtest/gtest.h>

#include <cstdlib>

#include "app/Application.h"

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  ::testing::InitGoogleTest(&argc, argv);
  kestrova::KestrovaApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
