// The Windows window's side of the commands: the open dialog, message boxes,
// the clipboard, the progress bar and the status bar, on the Win32 API.
#pragma once

#include <windows.h>
// Must follow windows.h.
#include <commdlg.h>

#include <optional>
#include <string>

#include "commands/host.h"

namespace tessaly::gui {

// Runs the host's dialogs once the host has filled in their parameters. The
// window uses ModalDialogs; tests put a script in its place.
class UserDialogs {
 public:
  virtual ~UserDialogs() = default;
  // Runs the open dialog on `request` (filter, buffer with the last file
  // name, flags set) as GetOpenFileNameA does: true on accept, with the
  // chosen path in request.lpstrFile.
  virtual bool ChooseFile(OPENFILENAMEA& request) = 0;
  // Shows a message box as MessageBoxA does and returns once it is closed.
  virtual void ShowMessage(HWND owner, const std::string& text, const std::string& caption,
                           UINT type) = 0;
};

// The real thing: the system's modal dialogs.
class ModalDialogs : public UserDialogs {
 public:
  bool ChooseFile(OPENFILENAMEA& request) override;
  void ShowMessage(HWND owner, const std::string& text, const std::string& caption,
                   UINT type) override;
};

// The open dialog's buffer: 260 characters with the terminating null.
inline constexpr DWORD kFileNameBuffer = MAX_PATH;
// The open dialog's options: no read-only box, a sizeable dialog; neither
// the file nor its folder has to exist.
inline constexpr DWORD kOpenDialogFlags = OFN_HIDEREADONLY | OFN_ENABLESIZING | OFN_EXPLORER;
// The message boxes' style: one OK button, no icon, modal for the whole
// application, centred on the screen (no owner).
inline constexpr UINT kMessageBoxType = MB_OK | MB_TASKMODAL;

// The open dialog's filter for one in "description|patterns|..." form:
// "VMDK|*.VMDK" gives "VMDK\0*.VMDK\0" (and the list's closing null).
std::string DialogFilter(const std::string& filter);

// The application title for an executable's path: its file name without the
// folder, cut at the first ".", every character after the first in lower
// case in the ANSI code page ("C:\Tools\TESSALY.EXE" gives "Tessaly").
std::string ApplicationTitle(const std::string& executable_path);

// The open dialog's state between runs, as the form holds it.
class TOpenDialog {
 public:
  // In "description|patterns|..." form; set by each command.
  std::string Filter;
  // The last file name accepted, shown filled in at the next run.
  std::string FileName;
  DWORD Options = kOpenDialogFlags;

  // Runs the dialog through `dialogs`, owned by `owner`; true on accept,
  // with FileName set. A failed run (a path longer than the buffer among its
  // causes) counts as a cancel and leaves FileName as it was.
  bool Execute(HWND owner, UserDialogs& dialogs);
};

class Win32Host : public commands::Host {
 public:
  // `owner` is the window the dialogs and the clipboard belong to; the
  // dialog, the windows and `dialogs` outlive the host.
  Win32Host(TOpenDialog& open_dialog, HWND owner, HWND progress, HWND status, UserDialogs& dialogs);

  void SetDialogs(UserDialogs& dialogs) { dialogs_ = &dialogs; }

  std::optional<commands::ImageChoice> ChooseImage(const std::string& filter) override;
  void ShowMessage(const commands::Message& message) override;
  bool HasClipboard() const override { return true; }
  // Raises an Error ("Cannot open clipboard") when another program holds
  // the clipboard.
  void SetClipboardText(const std::string& text) override;
  void WriteResult(const std::string& text) override;
  void SetProgressRange(int min, int max) override;
  void SetProgressPosition(int position) override;
  void SetStatusText(const std::string& text) override;
  void DebugOutput(const std::string& text) override;

 private:
  TOpenDialog& open_dialog_;
  HWND owner_;
  HWND progress_;
  HWND status_;
  UserDialogs* dialogs_;
};

}  // namespace tessaly::gui
