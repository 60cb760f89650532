// A shown main window with scripted dialogs and crash reporter, loading the
// real libvmdk staged beside the executables.
#pragma once

#include <gtest/gtest.h>

#include <QTest>

#include "gui/application.h"
#include "gui/umain.h"
#include "scripted.h"
#include "support/test_env.h"

namespace tessaly::gui::testing {

inline TApplication& App() { return *static_cast<TApplication*>(qApp); }

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    form.library_folder = tessaly::testing::RealLibFolder();
    form.SetDialogs(dialogs);
    App().reporter() = CrashReporter(actions);  // one that has reported nothing yet
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  }
  void TearDown() override { App().reporter() = CrashReporter(App().system_actions()); }

  void Click(QPushButton* button) { QTest::mouseClick(button, Qt::LeftButton); }

  ScriptedDialogs dialogs;
  ScriptedActions actions;
  TForm1 form;
};

}  // namespace tessaly::gui::testing
