// The crash reporter's window: the dialog that shows an exception which left
// an event handler, and what its buttons do. The report itself, the settings
// and duplicate detection are the report library's.
#pragma once

#include <exception>
#include <string>

#include <QDialog>
#include <QString>

#include "report/bug_report.h"

class QLabel;
class QMessageBox;
class QPlainTextEdit;
class QPushButton;
class QUrl;

namespace tessaly::gui {

class CrashDialog;

// What the reporter does outside its dialog. SystemActions does it for real;
// tests script it.
class CrashActions {
 public:
  virtual ~CrashActions() = default;
  // Runs the dialog modally and returns its result (a CrashDialog::Choice).
  virtual int Run(CrashDialog& dialog) = 0;
  // Shows a prepared message box and returns once it is closed.
  virtual void ShowMessage(QMessageBox& box) = 0;
  // Hands a mailto: URL to the user's mail program; false when none started.
  virtual bool OpenMail(const QUrl& url) = 0;
  // Starts the executable anew; false when it could not be started.
  virtual bool StartAgain() = 0;
  // Ends the application's event loop with `exit_code`.
  virtual void Quit(int exit_code) = 0;
};

class SystemActions : public CrashActions {
 public:
  int Run(CrashDialog& dialog) override;
  void ShowMessage(QMessageBox& box) override;
  bool OpenMail(const QUrl& url) override;
  bool StartAgain() override;
  void Quit(int exit_code) override;
};

// The box with the exception's message, the report (shown on request) and
// the buttons the settings ask for.
class CrashDialog : public QDialog {
  Q_OBJECT

 public:
  // The dialog's results.
  enum Choice { kContinue = 1, kRestart, kClose };

  CrashDialog(const QString& title, const std::string& message, const std::string& report,
              CrashActions& actions);

  // "send bug report": the report in a mail, through the mail program.
  void SendReport();
  // "show bug report": the report below the message.
  void ShowReport();

  QPlainTextEdit* report_view() const { return report_view_; }

 private:
  QPushButton* AddButton(const char* name, const QString& text);

  CrashActions& actions_;
  std::string report_;
  QPlainTextEdit* report_view_ = nullptr;
};

// The application's exception handling: one per application.
class CrashReporter {
 public:
  explicit CrashReporter(CrashActions& actions) : actions_(&actions) {}
  void SetActions(CrashActions& actions) { actions_ = &actions; }

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
QString ReporterTitle();

}  // namespace tessaly::gui
