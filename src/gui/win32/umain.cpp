#include "gui/win32/umain.h"

#include <commctrl.h>

#include <utility>

#include "gui/win32/application.h"
#include "platform/error.h"

namespace tessaly::gui {

TForm1* Form1 = nullptr;
commands::LibSlot CurrentLib;

namespace {

constexpr char kWindowClass[] = "TForm1";
constexpr DWORD kFormStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME |
                             WS_CLIPCHILDREN;  // a sizeable tool window, system menu alone
constexpr DWORD kFormExStyle = WS_EX_TOOLWINDOW | WS_EX_CONTROLPARENT;

void RegisterFormClass(HINSTANCE instance, WNDPROC procedure) {
  WNDCLASSEXA existing{};
  existing.cbSize = sizeof existing;
  if (GetClassInfoExA(instance, kWindowClass, &existing)) return;
  WNDCLASSEXA window_class{};
  window_class.cbSize = sizeof window_class;
  window_class.lpfnWndProc = procedure;
  window_class.hInstance = instance;
  window_class.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  window_class.lpszClassName = kWindowClass;
  RegisterClassExA(&window_class);
}

HWND MakeControl(const char* window_class, const char* text, DWORD style, int id, RECT place,
                 HWND parent) {
  return CreateWindowExA(0, window_class, text, WS_CHILD | WS_VISIBLE | style, place.left,
                         place.top, place.right - place.left, place.bottom - place.top, parent,
                         reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                         GetModuleHandleA(nullptr), nullptr);
}

// Left, top, width, height as a rectangle.
constexpr RECT Place(int left, int top, int width, int height) {
  return RECT{left, top, left + width, top + height};
}

}  // namespace

TForm1::TForm1() : font_(MakeFormFont()) {
  HINSTANCE instance = GetModuleHandleA(nullptr);
  RegisterFormClass(instance, WindowProc);
  // The form's place is its outer frame; its client area is what the
  // controls are laid out in, whatever the frame's width here.
  RECT frame{0, 0, kFormClient.cx, kFormClient.cy};
  AdjustWindowRectEx(&frame, kFormStyle, FALSE, kFormExStyle);
  CreateWindowExA(kFormExStyle, kWindowClass, kFormCaption, kFormStyle, kFormPosition.x,
                  kFormPosition.y, frame.right - frame.left, frame.bottom - frame.top, nullptr,
                  nullptr, instance, this);
  if (Handle == nullptr) throw Error("The main window could not be created.");
  CreateControls();
  host_ = std::make_unique<Win32Host>(OpenDialog1, Handle, pb_img, StatusBar1, modal_dialogs_);
  Form1 = this;
}

TForm1::~TForm1() {
  if (Handle != nullptr) DestroyWindow(Handle);
  if (Form1 == this) Form1 = nullptr;
}

void TForm1::CreateControls() {
  GroupBox1 = MakeControl("BUTTON", "", BS_GROUPBOX | WS_CLIPCHILDREN, kGroupBox1Id,
                          Place(0, 0, kFormClient.cx, kFormClient.cy), Handle);
  // Tab and the arrow keys reach the buttons inside the group box.
  SetWindowLongPtrA(GroupBox1, GWL_EXSTYLE,
                    GetWindowLongPtrA(GroupBox1, GWL_EXSTYLE) | WS_EX_CONTROLPARENT);
  // The group box passes its children's notifications on to the form.
  SetWindowSubclass(GroupBox1, GroupBoxProc, 1, reinterpret_cast<DWORD_PTR>(this));

  Button1 = MakeControl("BUTTON", "size", BS_PUSHBUTTON | WS_TABSTOP, kButton1Id,
                        Place(328, 32, 73, 25), GroupBox1);
  Button2 = MakeControl("BUTTON", "Convert", BS_PUSHBUTTON | WS_TABSTOP, kButton2Id,
                        Place(408, 32, 75, 25), GroupBox1);
  pb_img = MakeControl(PROGRESS_CLASSA, "", 0, kPbImgId, Place(8, 32, 313, 25), GroupBox1);
  SendMessageA(pb_img, PBM_SETRANGE32, 0, 100);
  SendMessageA(pb_img, PBM_SETPOS, 0, 0);
  SendMessageA(pb_img, PBM_SETSTEP, 10, 0);

  // Placed by the form, not by the control itself, so that it keeps inside
  // the group box's frame.
  const RECT status = Place(2, 77, 492, 19);
  StatusBar1 = MakeControl(STATUSCLASSNAMEA, "", CCS_NOPARENTALIGN | CCS_NORESIZE, kStatusBar1Id,
                           status, GroupBox1);
  SendMessageA(StatusBar1, SB_SIMPLE, TRUE, 0);
  SendMessageA(StatusBar1, SB_SETTEXTA, SB_SIMPLEID, reinterpret_cast<LPARAM>(""));
  status_left_ = status.left;
  status_right_ = kFormClient.cx - status.right;
  status_bottom_ = kFormClient.cy - status.bottom;

  SetFontOnTree(Handle, font_.get());
  focused_ = Button1;
}

void TForm1::Show(int show_command) {
  ShowWindow(Handle, show_command);
  UpdateWindow(Handle);
  SetFocus(Button1);
}

void TForm1::Resized() {
  if (GroupBox1 == nullptr) return;
  RECT client{};
  GetClientRect(Handle, &client);
  MoveWindow(GroupBox1, 0, 0, client.right, client.bottom, TRUE);
  RECT status{};
  GetWindowRect(StatusBar1, &status);
  const int height = status.bottom - status.top;
  MoveWindow(StatusBar1, status_left_, client.bottom - status_bottom_ - height,
             client.right - status_left_ - status_right_, height, TRUE);
}

LRESULT CALLBACK TForm1::WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* form = static_cast<TForm1*>(reinterpret_cast<CREATESTRUCTA*>(lparam)->lpCreateParams);
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
    form->Handle = window;
  }
  auto* form = reinterpret_cast<TForm1*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (form == nullptr) return DefWindowProcA(window, message, wparam, lparam);
  // The window procedure is where an exception from a handler stops: it
  // goes to the application's exception handling, and the message counts
  // as handled.
  LRESULT result = 0;
  RunHandler([&] { result = form->HandleMessage(message, wparam, lparam); });
  return result;
}

LRESULT CALLBACK TForm1::GroupBoxProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                                      UINT_PTR id, DWORD_PTR data) {
  auto* form = reinterpret_cast<TForm1*>(data);
  switch (message) {
    case WM_COMMAND:
    case WM_NOTIFY:
      return SendMessageA(form->Handle, message, wparam, lparam);
    case WM_ERASEBKGND: {
      // A group box paints its frame alone; the form, which clips its
      // children, paints nothing behind it.
      RECT client{};
      GetClientRect(window, &client);
      FillRect(reinterpret_cast<HDC>(wparam), &client, GetSysColorBrush(COLOR_BTNFACE));
      return 1;
    }
    case WM_NCDESTROY:
      RemoveWindowSubclass(window, GroupBoxProc, id);
      break;
    default:
      break;
  }
  return DefSubclassProc(window, message, wparam, lparam);
}

LRESULT TForm1::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_COMMAND:
      if (HIWORD(wparam) == BN_CLICKED) {
        if (LOWORD(wparam) == kButton1Id) Button1Click();
        if (LOWORD(wparam) == kButton2Id) Button2Click();
      }
      return 0;
    case WM_SIZE:
      Resized();
      return 0;
    case WM_ACTIVATE:
      // Give the focus back to the control that had it when the window
      // was left.
      if (LOWORD(wparam) == WA_INACTIVE) {
        HWND focus = GetFocus();
        if (focus != nullptr && IsChild(Handle, focus)) focused_ = focus;
      } else if (focused_ != nullptr) {
        SetFocus(focused_);
      }
      return 0;
    case WM_DESTROY:
      if (Application != nullptr && Application->main_form() == this) PostQuitMessage(0);
      return 0;
    case WM_NCDESTROY: {
      HWND window = std::exchange(Handle, nullptr);
      GroupBox1 = Button1 = Button2 = pb_img = StatusBar1 = nullptr;
      SetWindowLongPtrA(window, GWLP_USERDATA, 0);
      return DefWindowProcA(window, message, wparam, lparam);
    }
    default:
      return DefWindowProcA(Handle, message, wparam, lparam);
  }
}

void TForm1::Button1Click() {
  commands::Session session{*host_, CurrentLib, library_folder};
  commands::RunSizeReport(session);
}

void TForm1::Button2Click() {
  commands::Session session{*host_, CurrentLib, library_folder};
  commands::RunConversion(session, {});
}

}  // namespace tessaly::gui
