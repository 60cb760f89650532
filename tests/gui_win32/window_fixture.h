// A main window with scripted dialogs and crash reporter, loading the real
// libvmdk staged beside the executables. It is not shown unless a test shows
// it: without a window manager, Wine waits 2 s for each shown window it
// destroys.
#pragma once

#include <gtest/gtest.h>

#include "gui/win32/application.h"
#include "gui/win32/umain.h"
#include "scripted.h"
#include "support/test_env.h"

namespace tessaly::gui::testing {

// Handles what is queued for this thread's windows (paints, sizes).
inline void PumpMessages() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

// A click as the button gives it: pressed and released over it.
inline void Click(HWND button) { SendMessageA(button, BM_CLICK, 0, 0); }

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    form.library_folder = tessaly::testing::RealLibFolder();
    form.SetDialogs(dialogs);
    Application->reporter() = CrashReporter(actions);  // one that has reported nothing yet
    PumpMessages();
  }
  void TearDown() override {
    Application->reporter() = CrashReporter(Application->system_actions());
  }

  ScriptedDialogs dialogs;
  ScriptedActions actions;
  TForm1 form;
};

}  // namespace tessaly::gui::testing
