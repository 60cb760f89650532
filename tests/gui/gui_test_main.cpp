// The window's tests run inside the program's own application object, so an
// exception leaving an event handler takes the program's road.
#include <gtest/gtest.h>

#include <cstdlib>

#include "gui/application.h"
#include "support/test_env.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // Qt's file dialog keeps its history (last folder, view) in the user's
  // configuration; each run starts from none, whatever ran before.
  setenv("XDG_CONFIG_HOME", tessaly::testing::ScratchFolder("config").c_str(), 1);
  int qt_argc = 1;
  tessaly::gui::TApplication application(qt_argc, argv);
  return RUN_ALL_TESTS();
}
