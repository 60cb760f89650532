// The crash reporter's dialog on Win32: it shows an exception which left an
// event handler, and does what the user chooses. The report itself, the
// settings and duplicate detection are the report library's.
#pragma once

#include <windows.h>

#include <exception>
#include <string>

#include "gui/win32/font.h"
#include "report/bug_report.h"

namespace tessaly::gui {

class CrashDialog;

// What the reporter does outside its dialog. SystemActions does it for real;
// tests script it.
class CrashActions {
 public:
  virtual ~CrashActions() = default;
  // Runs the dialog modally and returns its result (a CrashDialog::Choice).
  virtual int Run(CrashDialog& dialog) = 0;
  // Shows a plain message with one OK button; returns once it is closed.
  virtual void ShowMessage(const std::string& title, const std::string& text) = 0;
  // Hands a mailto: URL to the user's mail program; false when none started.
  virtual bool OpenMail(const std::string& url) = 0;
  // Starts the executable anew; false when it could not be started.
  virtual bool StartAgain() = 0;
  // Ends the application's message loop with `exit_code`.
  virtual void Quit(int exit_code) = 0;
};

class SystemActions : public CrashActions {
 public:
  int Run(CrashDialog& dialog) override;
  void ShowMessage(const std::string& title, const std::string& text) override;
  bool OpenMail(const std::string& url) override;
  bool StartAgain() override;
  void Quit(int exit_code) override;
};

// The box with the exception's message, the report (shown on request) and
// the buttons the settings ask for.
class CrashDialog {
 public:
  // The dialog's results.
  enum Choice { kNoChoice = 0, kContinue = 1, kRestart, kClose };
  // Its controls.
  enum Control {
    kHeadingId = 100,
    kMessageId,
    kReportId,
    kSendId,
    kShowId,
    kContinueId,
    kRestartId,
    kCloseId,
  };

  CrashDialog(std::string title, std::string message, std::string report, CrashActions& actions);
  ~CrashDialog();
  CrashDialog(const CrashDialog&) = delete;
  CrashDialog& operator=(const CrashDialog&) = delete;

  // Runs the dialog modally over `owner` (may be null) until a button ends
  // it; returns the Choice.
  int RunModal(HWND owner);
  // Makes the dialog without showing it or running a message loop of its
  // own, for driving it from code; result() tells the choice once a button
  // ended it.
  void Create(HWND owner);
  HWND window() const { return window_; }
  int result() const { return result_; }

  // "send bug report": the report in a mail, through the mail program.
  void SendReport();
  // "show bug report": the report below the message.
  void ShowReport();

 private:
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  void Build(HWND window);
  void Finish(int choice);
  void Command(int id);

  std::string title_;
  std::string message_;
  std::string report_;
  CrashActions& actions_;
  FontHandle font_;
  FontHandle fixed_font_;
  HWND window_ = nullptr;
  bool modal_ = false;
  int result_ = kNoChoice;
  int buttons_bottom_ = 0;  // where the report goes, once shown
};

// The application's exception handling: one per application.
class CrashReporter {
 public:
  explicit CrashReporter(CrashActions& actions) : actions_(&actions) {}

  // Shows `error` to the user and does what they choose. Call it where the
  // exception was caught: for exceptions Tessaly did not raise, the call
  // stack in the report is taken here.
  void Report(std::exception_ptr error);

 private:
  CrashActions* actions_;
  report::DuplicateFilter duplicates_;
};

// The reporter's title: the setting's text with %appname% replaced by the
// executable's file name with its extension.
std::string ReporterTitle();

}  // namespace tessaly::gui
