// What happens when an exception leaves an event handler, whatever window
// system shows it: the duplicate check, the report and its file, and what
// the user's choice means. Each front end supplies the screen and the
// process through ReporterFront.
#pragma once

#include <exception>
#include <string>

#include "report/bug_report.h"

namespace tessaly::report {

// What the user chose in the reporter's dialog.
enum class Choice { kContinue, kRestart, kClose };

class ReporterFront {
 public:
  virtual ~ReporterFront() = default;
  // A plain message with one OK button; returns once it is closed.
  virtual void ShowPlain(const std::string& text) = 0;
  // The reporter's dialog for `message`, holding `report`; the user's choice.
  virtual Choice ShowReport(const std::string& message, const std::string& report) = 0;
  // Starts the executable anew; false when it could not be started.
  virtual bool StartAgain() = 0;
  // Ends the application's event loop with `exit_code`.
  virtual void Quit(int exit_code) = 0;
};

// Shows `error` to the user through `front` and does what they choose.
// `line_break` is the front end's ("\n" or "\r\n"). Call it where the
// exception was caught: for exceptions Tessaly did not raise, the call stack
// in the report is taken here.
void HandleException(std::exception_ptr error, DuplicateFilter& duplicates, ReporterFront& front,
                     const std::string& line_break);

}  // namespace tessaly::report
