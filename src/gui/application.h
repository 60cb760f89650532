// The application object: Qt's, with the crash reporter as the handler of
// every exception that leaves an event handler.
#pragma once

#include <QApplication>

#include "gui/crash_reporter.h"

namespace tessaly::gui {

class TApplication : public QApplication {
 public:
  TApplication(int& argc, char** argv);

  // Delivers the event; an exception that leaves its handler goes to the
  // crash reporter, and the event counts as not handled.
  bool notify(QObject* receiver, QEvent* event) override;

  CrashReporter& reporter() { return reporter_; }
  // What the reporter's buttons do in the program.
  CrashActions& system_actions() { return system_actions_; }

 private:
  SystemActions system_actions_;
  CrashReporter reporter_;
};

}  // namespace tessaly::gui
