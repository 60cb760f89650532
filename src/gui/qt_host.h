// The window's side of the commands: the file dialog, message boxes, the
// clipboard, the progress bar and the status bar.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <QString>
#include <QStringList>

#include "commands/host.h"

class QFileDialog;
class QMessageBox;
class QProgressBar;
class QStatusBar;

namespace tessaly::gui {

// Runs the host's dialogs once the host has set them up. The window uses
// ModalDialogs; tests put a script in its place.
class UserDialogs {
 public:
  virtual ~UserDialogs() = default;
  // Runs `dialog` (filter and last file name already set); the chosen path,
  // or nullopt when the user cancelled.
  virtual std::optional<QString> ChooseFile(QFileDialog& dialog) = 0;
  // Shows `box` and returns once it is closed.
  virtual void ShowMessage(QMessageBox& box) = 0;
};

// The real thing: each dialog runs modally.
class ModalDialogs : public UserDialogs {
 public:
  std::optional<QString> ChooseFile(QFileDialog& dialog) override;
  void ShowMessage(QMessageBox& box) override;
};

// The Qt name filters for a filter in "description|patterns|..." form:
// "VMDK|*.VMDK" gives "VMDK (*.VMDK)"; patterns separated by ";" are listed
// with spaces, as Qt wants them.
QStringList QtNameFilters(const std::string& filter);

// The application title for an executable's path: its file name without the
// folder, cut at the first ".", every character after the first in lower
// case ("/opt/Tessaly.bin" gives "Tessaly").
QString ApplicationTitle(const std::string& executable_path);

// Sets up `dialog` as the commands' file dialog: Qt's own dialog (the same on
// every desktop), a name that need not exist, and patterns matched in any
// case, so "*.VMDK" also lists "disk.vmdk".
void PrepareOpenDialog(QFileDialog& dialog);

class QtHost : public commands::Host {
 public:
  // All of these outlive the host.
  QtHost(QFileDialog& open_dialog, QProgressBar& progress, QStatusBar& status,
         UserDialogs& dialogs);

  void SetDialogs(UserDialogs& dialogs) { dialogs_ = &dialogs; }

  std::optional<commands::ImageChoice> ChooseImage(const std::string& filter) override;
  void ShowMessage(const commands::Message& message) override;
  bool HasClipboard() const override { return true; }
  void SetClipboardText(const std::string& text) override;
  void WriteResult(const std::string& text) override;
  void SetProgressRange(int min, int max) override;
  void SetProgressPosition(int position) override;
  void SetStatusText(const std::string& text) override;
  void DebugOutput(const std::string& text) override;

 private:
  QFileDialog& open_dialog_;
  QProgressBar& progress_;
  QStatusBar& status_;
  UserDialogs* dialogs_;
  QString last_file_;
  int painted_fill_ = -1;  // the bar's filled width in pixels when last painted
};

}  // namespace tessaly::gui
