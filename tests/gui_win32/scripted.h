// Scripted answers for the Windows window's dialogs and crash reporter,
// which record what they were shown, and small readers of window state.
#pragma once

#include <windows.h>

#include <cstring>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "gui/win32/crash_reporter.h"
#include "gui/win32/win32_host.h"

namespace tessaly::gui::testing {

inline std::string WindowText(HWND window) {
  std::string text(static_cast<std::size_t>(GetWindowTextLengthA(window)) + 1, '\0');
  text.resize(
      static_cast<std::size_t>(GetWindowTextA(window, text.data(), static_cast<int>(text.size()))));
  return text;
}

inline std::string ClassOf(HWND window) {
  char name[64] = "";
  GetClassNameA(window, name, sizeof name);
  return name;
}

// Whether the window is shown where its parent is (IsWindowVisible asks of
// the parents too).
inline bool HasVisibleStyle(HWND window) {
  return (GetWindowLongPtrA(window, GWL_STYLE) & WS_VISIBLE) != 0;
}

// The window's place in its parent's client area (or on the screen, for a
// top-level window): left, top, width, height.
struct Place {
  long left, top, width, height;
  bool operator==(const Place& o) const {
    return left == o.left && top == o.top && width == o.width && height == o.height;
  }
};
inline Place PlaceOf(HWND window) {
  RECT r{};
  GetWindowRect(window, &r);
  MapWindowPoints(HWND_DESKTOP, GetParent(window), reinterpret_cast<POINT*>(&r), 2);
  return {r.left, r.top, r.right - r.left, r.bottom - r.top};
}
inline Place ClientOf(HWND window) {
  RECT r{};
  GetClientRect(window, &r);
  return {0, 0, r.right, r.bottom};
}

// The children of `window` in their order (z order, which is the tab order).
inline std::vector<HWND> ChildrenOf(HWND window) {
  std::vector<HWND> children;
  for (HWND child = GetWindow(window, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    children.push_back(child);
  }
  return children;
}

// The clipboard's CF_TEXT, or nullopt when it holds none.
inline std::optional<std::string> ClipboardText() {
  if (!OpenClipboard(nullptr)) return std::string("(the clipboard could not be opened)");
  std::optional<std::string> text;
  if (HANDLE data = GetClipboardData(CF_TEXT)) {
    if (const char* bytes = static_cast<const char*>(GlobalLock(data))) {
      text = bytes;
      GlobalUnlock(data);
    }
  }
  CloseClipboard();
  return text;
}

inline void SetClipboard(const std::string& text) {
  OpenClipboard(nullptr);
  EmptyClipboard();
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, text.size() + 1);
  std::memcpy(GlobalLock(memory), text.c_str(), text.size() + 1);
  GlobalUnlock(memory);
  SetClipboardData(CF_TEXT, memory);
  CloseClipboard();
}

// What the open dialog was asked to do at one run.
struct FileRequest {
  HWND owner = nullptr;
  std::string filter;  // with its nulls, up to the list's closing one
  DWORD index = 0;
  DWORD buffer = 0;
  DWORD flags = 0;
  std::string filled_in;
};

// What a message box showed.
struct ShownMessage {
  HWND owner = nullptr;
  std::string text;
  std::string caption;
  UINT type = 0;
  std::optional<std::string> clipboard;  // CF_TEXT while the box was open
};

class ScriptedDialogs : public UserDialogs {
 public:
  // The open dialog's answers, in order; an empty one cancels, and so does
  // the dialog once they run out. An answer that does not fit the buffer
  // fails the run, as the system's dialog does.
  std::deque<std::string> files;

  std::vector<FileRequest> requests;
  std::vector<ShownMessage> messages;

  bool ChooseFile(OPENFILENAMEA& request) override {
    FileRequest seen;
    seen.owner = request.hwndOwner;
    for (const char* p = request.lpstrFilter; p != nullptr && *p != '\0'; p += std::strlen(p) + 1) {
      seen.filter.append(p, std::strlen(p) + 1);
    }
    seen.index = request.nFilterIndex;
    seen.buffer = request.nMaxFile;
    seen.flags = request.Flags;
    seen.filled_in = request.lpstrFile;
    requests.push_back(seen);
    if (files.empty()) return false;
    const std::string answer = files.front();
    files.pop_front();
    if (answer.empty() || answer.size() >= request.nMaxFile) return false;
    std::memcpy(request.lpstrFile, answer.c_str(), answer.size() + 1);
    return true;
  }
  void ShowMessage(HWND owner, const std::string& text, const std::string& caption,
                   UINT type) override {
    messages.push_back({owner, text, caption, type, ClipboardText()});
  }

  std::vector<std::string> MessageTexts() const {
    std::vector<std::string> texts;
    for (const auto& m : messages) texts.push_back(m.text);
    return texts;
  }
};

// What the crash dialog showed.
struct ShownReporter {
  std::string title;
  std::string heading;
  std::string message;
  std::vector<std::string> buttons;
  bool report_visible_at_start = true;
  bool report_visible_after_show = false;
  std::string report;  // the text "show bug report" showed
};

// Answers the crash dialog the way a user would, on the real dialog (made,
// not shown): it is read, "show bug report" is clicked, then the chosen
// button.
class ScriptedActions : public CrashActions {
 public:
  // The button each dialog is answered with; once they run out, "continue
  // application".
  std::deque<int> choices;
  bool mail_opens = true;
  bool start_succeeds = true;

  std::vector<ShownReporter> dialogs;
  std::vector<std::string> messages;  // plain messages, title and text
  std::vector<std::string> mails;
  int starts = 0;
  std::vector<int> quits;

  int Run(CrashDialog& dialog) override {
    dialog.Create(nullptr);
    HWND window = dialog.window();
    if (window == nullptr) return CrashDialog::kNoChoice;
    ShownReporter shown;
    shown.title = WindowText(window);
    shown.heading = WindowText(GetDlgItem(window, CrashDialog::kHeadingId));
    shown.message = WindowText(GetDlgItem(window, CrashDialog::kMessageId));
    for (HWND child : ChildrenOf(window)) {
      if (ClassOf(child) == "Button") shown.buttons.push_back(WindowText(child));
    }
    HWND report = GetDlgItem(window, CrashDialog::kReportId);
    shown.report_visible_at_start = HasVisibleStyle(report);
    SendMessageA(GetDlgItem(window, CrashDialog::kShowId), BM_CLICK, 0, 0);
    shown.report_visible_after_show = HasVisibleStyle(report);
    shown.report = WindowText(report);
    dialogs.push_back(shown);

    const int choice = choices.empty() ? CrashDialog::kContinueId : choices.front();
    if (!choices.empty()) choices.pop_front();
    SendMessageA(GetDlgItem(window, choice), BM_CLICK, 0, 0);
    return dialog.result();  // the dialog closes itself, or goes when destroyed
  }
  void ShowMessage(const std::string& title, const std::string& text) override {
    messages.push_back(title + ": " + text);
  }
  bool OpenMail(const std::string& url) override {
    mails.push_back(url);
    return mail_opens;
  }
  bool StartAgain() override {
    ++starts;
    return start_succeeds;
  }
  void Quit(int exit_code) override { quits.push_back(exit_code); }
};

}  // namespace tessaly::gui::testing
