#include "gui/win32/crash_reporter.h"

#include <shellapi.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/platform.h"
#include "report/mailto.h"
#include "report/reporter_flow.h"
#include "report/settings.h"

namespace tessaly::gui {
namespace {

// The layout, in pixels.
constexpr int kMargin = 10;
constexpr int kButtonWidth = 115;
constexpr int kButtonHeight = 25;
constexpr int kButtonGap = 6;
constexpr int kLineHeight = 16;
constexpr int kReportHeight = 300;
constexpr int kMaxMessageHeight = 300;

constexpr std::string_view kExceptMsg = report::Text("ExceptMsg");

// The buttons the settings ask for, in their order.
struct ButtonRow {
  int id;
  const char* text;
  bool visible;
};
constexpr ButtonRow kButtons[] = {
    {CrashDialog::kSendId, "send bug report", report::Flag("SendBtnVis")},
    {CrashDialog::kShowId, "show bug report", report::Flag("ShowBtnVis")},
    {CrashDialog::kContinueId, "continue application", report::Flag("ContinueBtnVis")},
    {CrashDialog::kRestartId, "restart application", report::Flag("RestartBtnVis")},
    {CrashDialog::kCloseId, "close application", report::Flag("CloseBtnVis")},
};

// A dialog template without controls: the dialog makes its own when it
// starts, sized to its text.
std::vector<WORD> EmptyDialogTemplate() {
  DLGTEMPLATE header{};
  header.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
  header.cx = 300;
  header.cy = 100;
  std::vector<WORD> words((sizeof header + 1) / 2, 0);
  std::memcpy(words.data(), &header, sizeof header);
  words.insert(words.end(), {0, 0, 0});  // no menu, the standard class, no title
  return words;
}

// `text` with LF line ends as CR LF, as an edit control wants them.
std::string WithCrLf(const std::string& text) {
  std::string out;
  out.reserve(text.size() + text.size() / 32);
  for (char c : text) {
    if (c == '\n' && (out.empty() || out.back() != '\r')) out += '\r';
    out += c;
  }
  return out;
}

// The height `text` takes in `font` wrapped to `width` pixels.
int TextHeight(HWND window, HFONT font, const std::string& text, int width) {
  HDC dc = GetDC(window);
  HGDIOBJ old = SelectObject(dc, font);
  RECT box{0, 0, width, 0};
  DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &box,
            DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX | DT_EDITCONTROL);
  SelectObject(dc, old);
  ReleaseDC(window, dc);
  return box.bottom - box.top;
}

// Gives `window` a client area of `width` x `height`, centred on the screen's
// work area.
void PlaceCentred(HWND window, int width, int height) {
  RECT frame{0, 0, width, height};
  AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongPtrA(window, GWL_STYLE)), FALSE,
                     static_cast<DWORD>(GetWindowLongPtrA(window, GWL_EXSTYLE)));
  RECT work{};
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
  const int outer_width = frame.right - frame.left;
  const int outer_height = frame.bottom - frame.top;
  SetWindowPos(window, nullptr,
               work.left + std::max(0L, (work.right - work.left - outer_width) / 2),
               work.top + std::max(0L, (work.bottom - work.top - outer_height) / 2), outer_width,
               outer_height, SWP_NOZORDER | SWP_NOACTIVATE);
}

void ShowPlainMessage(CrashActions& actions, const std::string& text) {
  actions.ShowMessage(ReporterTitle(), text);
}

// The reporter's screen and process, for the shared flow.
class Win32Front : public report::ReporterFront {
 public:
  explicit Win32Front(CrashActions& actions) : actions_(actions) {}
  void ShowPlain(const std::string& text) override { ShowPlainMessage(actions_, text); }
  report::Choice ShowReport(const std::string& message, const std::string& report) override {
    CrashDialog dialog(ReporterTitle(), message, report, actions_);
    switch (actions_.Run(dialog)) {
      case CrashDialog::kRestart:
        return report::Choice::kRestart;
      case CrashDialog::kClose:
        return report::Choice::kClose;
      default:  // continue, or the dialog closed by its title bar
        return report::Choice::kContinue;
    }
  }
  bool StartAgain() override { return actions_.StartAgain(); }
  void Quit(int exit_code) override { actions_.Quit(exit_code); }

 private:
  CrashActions& actions_;
};

}  // namespace

int SystemActions::Run(CrashDialog& dialog) { return dialog.RunModal(GetActiveWindow()); }

void SystemActions::ShowMessage(const std::string& title, const std::string& text) {
  MessageBoxA(nullptr, text.c_str(), title.c_str(), MB_OK | MB_TASKMODAL);
}

bool SystemActions::OpenMail(const std::string& url) {
  const auto result = reinterpret_cast<INT_PTR>(
      ShellExecuteA(nullptr, "open", url.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
  return result > 32;
}

bool SystemActions::StartAgain() {
  const std::string path = platform::ExecutablePath();
  std::string command_line = "\"" + path + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(path.c_str(), command_line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      nullptr, &startup, &process)) {
    return false;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

void SystemActions::Quit(int exit_code) { PostQuitMessage(exit_code); }

std::string ReporterTitle() {
  const std::string path = platform::ExecutablePath();
  constexpr std::string_view kTitleBar = report::Text("TitleBar");
  std::string title(kTitleBar);
  constexpr std::string_view kAppName = "%appname%";
  for (std::size_t at = title.find(kAppName); at != std::string::npos;
       at = title.find(kAppName, at)) {
    const std::string name = path.substr(platform::FolderOf(path).size());
    title.replace(at, kAppName.size(), name);
    at += name.size();
  }
  return title;
}

CrashDialog::CrashDialog(std::string title, std::string message, std::string report,
                         CrashActions& actions)
    : title_(std::move(title)),
      message_(std::move(message)),
      report_(std::move(report)),
      actions_(actions),
      font_(MakeFormFont()),
      fixed_font_(CreateFontA(-12, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                              OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                              FIXED_PITCH | FF_MODERN, "Courier New")) {}

CrashDialog::~CrashDialog() {
  if (window_ != nullptr && !modal_) DestroyWindow(window_);
}

int CrashDialog::RunModal(HWND owner) {
  modal_ = true;
  const std::vector<WORD> layout = EmptyDialogTemplate();
  const INT_PTR result = DialogBoxIndirectParamA(
      GetModuleHandleA(nullptr), reinterpret_cast<const DLGTEMPLATE*>(layout.data()), owner,
      DialogProc, reinterpret_cast<LPARAM>(this));
  if (result <= 0) {
    // No dialog could be made: say what happened at least.
    ShowPlainMessage(actions_, std::string(kExceptMsg) + "\r\n\r\n" + message_);
    return kContinue;
  }
  return static_cast<int>(result);
}

void CrashDialog::Create(HWND owner) {
  modal_ = false;
  const std::vector<WORD> layout = EmptyDialogTemplate();
  CreateDialogIndirectParamA(GetModuleHandleA(nullptr),
                             reinterpret_cast<const DLGTEMPLATE*>(layout.data()), owner, DialogProc,
                             reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK CrashDialog::DialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  // Nothing may unwind into the system's dialog code.
  try {
    if (message == WM_INITDIALOG) {
      auto* self = reinterpret_cast<CrashDialog*>(lparam);
      SetWindowLongPtrA(window, DWLP_USER, lparam);
      self->window_ = window;
      self->Build(window);
      return FALSE;  // Build set the focus
    }
    auto* self = reinterpret_cast<CrashDialog*>(GetWindowLongPtrA(window, DWLP_USER));
    if (self == nullptr) return FALSE;
    switch (message) {
      case WM_COMMAND:
        self->Command(LOWORD(wparam));
        return TRUE;
      case WM_NCDESTROY:
        self->window_ = nullptr;
        return FALSE;
      default:
        return FALSE;
    }
  } catch (...) {
    return FALSE;
  }
}

void CrashDialog::Build(HWND window) {
  SetWindowTextA(window, title_.c_str());
  HINSTANCE instance = GetModuleHandleA(nullptr);
  const int visible_buttons = static_cast<int>(
      std::count_if(std::begin(kButtons), std::end(kButtons), [](auto& b) { return b.visible; }));
  const int width = std::max(400, 2 * kMargin + visible_buttons * kButtonWidth +
                                      std::max(0, visible_buttons - 1) * kButtonGap);
  const int text_width = width - 2 * kMargin;

  auto make = [&](const char* window_class, const char* text, DWORD style, int id, int x, int y,
                  int w, int h) {
    HWND control =
        CreateWindowExA(0, window_class, text, WS_CHILD | style, x, y, w, h, window,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
    SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
    return control;
  };

  const std::string heading(kExceptMsg);
  make("STATIC", heading.c_str(), WS_VISIBLE | SS_LEFT | SS_NOPREFIX, kHeadingId, kMargin, kMargin,
       text_width, kLineHeight);
  const int message_top = kMargin + kLineHeight + 6;
  const int message_height = std::clamp(TextHeight(window, font_.get(), message_, text_width),
                                        kLineHeight, kMaxMessageHeight);
  make("STATIC", message_.c_str(), WS_VISIBLE | SS_LEFT | SS_NOPREFIX | SS_EDITCONTROL, kMessageId,
       kMargin, message_top, text_width, message_height);

  const int buttons_top = message_top + message_height + 12;
  int x = kMargin;
  for (const ButtonRow& button : kButtons) {
    if (!button.visible) continue;
    const DWORD kind = button.id == kContinueId ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON;
    make("BUTTON", button.text, WS_VISIBLE | WS_TABSTOP | kind, button.id, x, buttons_top,
         kButtonWidth, kButtonHeight);
    x += kButtonWidth + kButtonGap;
  }
  buttons_bottom_ = buttons_top + kButtonHeight;

  constexpr bool kAutoShow = report::Flag("AutoShowBugRep");
  HWND report_view = make("EDIT", "",
                          WS_BORDER | WS_VSCROLL | WS_HSCROLL | ES_MULTILINE | ES_READONLY |
                              ES_AUTOVSCROLL | ES_AUTOHSCROLL,
                          kReportId, kMargin, buttons_bottom_ + kMargin, text_width, kReportHeight);
  SendMessageA(report_view, EM_SETLIMITTEXT, 0, 0);
  SetWindowTextA(report_view, WithCrLf(report_).c_str());
  SendMessageA(report_view, WM_SETFONT, reinterpret_cast<WPARAM>(fixed_font_.get()), FALSE);

  SendMessageA(window, DM_SETDEFID, kContinueId, 0);
  PlaceCentred(window, width, buttons_bottom_ + kMargin);
  if (kAutoShow) ShowReport();
  if (HWND continue_button = GetDlgItem(window, kContinueId)) SetFocus(continue_button);
}

void CrashDialog::ShowReport() {
  HWND report_view = GetDlgItem(window_, kReportId);
  if (report_view == nullptr || IsWindowVisible(report_view)) return;
  ShowWindow(report_view, SW_SHOW);
  RECT client{};
  GetClientRect(window_, &client);
  PlaceCentred(window_, client.right, buttons_bottom_ + 2 * kMargin + kReportHeight);
}

void CrashDialog::SendReport() {
  constexpr std::string_view kAddress = report::Text("MailAddr");
  constexpr std::string_view kSubject = report::Text("MailSubj");
  constexpr std::string_view kBody = report::Text("MailBody");
  const std::string url = report::MailtoUrl(std::string(kAddress), std::string(kSubject),
                                            std::string(kBody) + "\n\n" + report_);
  if (!actions_.OpenMail(url)) {
    ShowPlainMessage(actions_,
                     "No mail program could be started. \"show bug report\" shows the report, "
                     "to copy it from there.");
  }
}

void CrashDialog::Command(int id) {
  switch (id) {
    case kSendId:
      SendReport();
      break;
    case kShowId:
      ShowReport();
      break;
    case kContinueId:
    case IDOK:      // Enter
    case IDCANCEL:  // Escape, or the title bar's close button
      Finish(kContinue);
      break;
    case kRestartId:
      Finish(kRestart);
      break;
    case kCloseId:
      Finish(kClose);
      break;
    default:
      break;
  }
}

void CrashDialog::Finish(int choice) {
  result_ = choice;
  if (window_ == nullptr) return;
  if (modal_) {
    EndDialog(window_, choice);
  } else {
    DestroyWindow(window_);
  }
}

void CrashReporter::Report(std::exception_ptr error) {
  Win32Front front(*actions_);
  report::HandleException(error, duplicates_, front, "\r\n");
}

}  // namespace tessaly::gui
