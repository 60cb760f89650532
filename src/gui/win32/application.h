// The application object on Win32: the common controls, the message loop
// and the crash reporter as the handler of every exception that leaves an
// event handler.
#pragma once

#include <windows.h>

#include <exception>
#include <functional>

#include "gui/win32/crash_reporter.h"

namespace tessaly::gui {

class TForm1;

class TApplication {
 public:
  TApplication();
  ~TApplication();
  TApplication(const TApplication&) = delete;
  TApplication& operator=(const TApplication&) = delete;

  // Shows `main_form` and runs the message loop until it is closed (or the
  // crash reporter ends the application); returns the exit code.
  int Run(TForm1& main_form, int show_command);
  // The form whose closing ends the message loop; null outside Run.
  TForm1* main_form() const { return main_form_; }

  // Shows an exception that left an event handler: the crash reporter.
  void HandleException(std::exception_ptr error) noexcept;

  CrashReporter& reporter() { return reporter_; }
  // What the reporter's buttons do in the program.
  CrashActions& system_actions() { return system_actions_; }

 private:
  SystemActions system_actions_;
  CrashReporter reporter_;
  TForm1* main_form_ = nullptr;
};

// The application, while it exists.
extern TApplication* Application;

// Runs an event handler of Tessaly's own and hands an exception that leaves
// it to the application's exception handling right there, so it never
// unwinds through the system's frames. True when the handler ran to its end.
bool RunHandler(const std::function<void()>& handler) noexcept;

}  // namespace tessaly::gui
