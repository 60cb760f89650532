// The main window on Win32: two buttons wired to the size report and the
// conversion, a progress bar and a status bar in a group box, laid out as
// the form describes.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "commands/commands.h"
#include "gui/win32/font.h"
#include "gui/win32/win32_host.h"

namespace tessaly::gui {

// The form's geometry, in pixels at 96 pixels per inch.
inline constexpr char kFormCaption[] = "Tessaly 0.1";
inline constexpr POINT kFormPosition{465, 155};
inline constexpr SIZE kFormClient{496, 98};

class TForm1 {
 public:
  // Control identifiers, as WM_COMMAND names them.
  enum Control { kGroupBox1Id = 100, kButton1Id, kButton2Id, kPbImgId, kStatusBar1Id };

  TForm1();
  ~TForm1();
  TForm1(const TForm1&) = delete;
  TForm1& operator=(const TForm1&) = delete;

  // The window and its components, under the names the form description
  // gives them. OpenDialog1 keeps the last file name between runs.
  HWND Handle = nullptr;
  TOpenDialog OpenDialog1;
  HWND GroupBox1 = nullptr;
  HWND Button1 = nullptr;
  HWND Button2 = nullptr;
  HWND pb_img = nullptr;
  HWND StatusBar1 = nullptr;

  // Where the commands load libvmdk from; empty means the executable's own
  // folder, as the program has it.
  std::string library_folder;
  // Who runs the open dialog and the message boxes: the system's modal
  // dialogs unless something else is put here (a test's script).
  void SetDialogs(UserDialogs& dialogs) { host_->SetDialogs(dialogs); }

  void Show(int show_command);

  void Button1Click();  // "size"
  void Button2Click();  // "Convert"

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  static LRESULT CALLBACK GroupBoxProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                                       UINT_PTR id, DWORD_PTR data);
  LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam);
  void CreateControls();
  void Resized();

  FontHandle font_;
  ModalDialogs modal_dialogs_;
  std::unique_ptr<Win32Host> host_;
  HWND focused_ = nullptr;  // the control that had the focus when the window was left
  // The status bar's distance from the group box's left, right and bottom
  // edges, kept when the group box is resized.
  int status_left_ = 0;
  int status_right_ = 0;
  int status_bottom_ = 0;
};

// The window's single instance, while it exists.
extern TForm1* Form1;
// The binding of the command that is running; null between commands.
extern commands::LibSlot CurrentLib;

}  // namespace tessaly::gui
