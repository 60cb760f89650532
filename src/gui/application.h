// The application object: Qt's, with the crash reporter as the handler of
// every exception that leaves an event handler.
#pragma once

#include <exception>
#include <functional>

#include <QApplication>

#include "gui/crash_reporter.h"

namespace tessaly::gui {

class TApplication : public QApplication {
 public:
  TApplication(int& argc, char** argv);

  // Delivers the event; an exception that leaves its handler goes to the
  // crash reporter, and the event counts as not handled.
  bool notify(QObject* receiver, QEvent* event) override;

  // Shows an exception that left an event handler: the crash reporter.
  void HandleException(std::exception_ptr error) { reporter_.Report(error); }

  CrashReporter& reporter() { return reporter_; }
  // What the reporter's buttons do in the program.
  CrashActions& system_actions() { return system_actions_; }

 private:
  SystemActions system_actions_;
  CrashReporter reporter_;
};

// Runs an event handler of Tessaly's own and hands an exception that leaves
// it to the application's exception handling right there, so it never
// unwinds through Qt's frames (which are not built to be unwound through).
void RunHandler(const std::function<void()>& handler);

}  // namespace tessaly::gui
