// The Windows window's tests run inside the program's own application
// object, so an exception leaving an event handler takes the program's road.
#include <gtest/gtest.h>

#include "gui/win32/application.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  tessaly::gui::TApplication application;
  return RUN_ALL_TESTS();
}
