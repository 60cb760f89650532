// window_probe.exe [IMAGE]: waits for the window titled "Tessaly 0.1" of
// another process, checks what can be seen of it from outside (a sizeable
// tool window with the system menu alone, its client area and its two
// buttons), then asks it to close and waits until it is gone. With IMAGE,
// first clicks "size", chooses IMAGE in the open dialog, expects the crash
// reporter with "could not find libvmdk.dll" (the program runs without the
// library), answers "continue application" and expects the window usable
// again. Exit status 0 when all held; each fault is printed.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "gui/win32/crash_reporter.h"

namespace {

int faults = 0;

void Check(bool holds, const std::string& what) {
  if (holds) return;
  std::printf("window_probe: %s\n", what.c_str());
  ++faults;
}

HWND WaitForWindow(const char* title, int seconds) {
  for (int i = 0; i < seconds * 10; ++i) {
    HWND window = FindWindowA(nullptr, title);
    if (window != nullptr && IsWindowVisible(window)) return window;
    Sleep(100);
  }
  return nullptr;
}

// Waits up to `seconds` for a visible dialog titled `title`.
HWND WaitForDialog(const char* title, int seconds) {
  for (int i = 0; i < seconds * 10; ++i) {
    HWND dialog = FindWindowA("#32770", title);
    if (dialog != nullptr && IsWindowVisible(dialog)) return dialog;
    Sleep(100);
  }
  return nullptr;
}

// Waits up to `seconds` until `holds` is true.
template <typename Condition>
bool WaitUntil(Condition holds, int seconds) {
  for (int i = 0; i < seconds * 10; ++i) {
    if (holds()) return true;
    Sleep(100);
  }
  return false;
}

std::string TextOf(HWND window) {
  char text[512] = "";
  GetWindowTextA(window, text, sizeof text);
  return text;
}

HWND ButtonNamed(HWND window, const std::string& text) {
  struct Search {
    std::string text;
    HWND found = nullptr;
  } search{text};
  EnumChildWindows(
      window,
      [](HWND child, LPARAM data) -> BOOL {
        auto* s = reinterpret_cast<Search*>(data);
        if (TextOf(child) != s->text) return TRUE;
        s->found = child;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// "size" on `image` in a program without libvmdk: the crash reporter, then
// back to the window.
void SizeIntoTheReporterAndBack(HWND window, const std::string& image) {
  PostMessageA(ButtonNamed(window, "size"), BM_CLICK, 0, 0);
  HWND open = WaitForDialog("Open", 30);
  if (open == nullptr) return Check(false, "no open dialog after \"size\"");
  SetDlgItemTextA(open, 0x47c, image.c_str());  // the file name box
  PostMessageA(open, WM_COMMAND, IDOK, 0);

  using tessaly::gui::CrashDialog;
  HWND reporter = WaitForDialog("tessaly.exe", 30);
  if (reporter == nullptr) return Check(false, "no crash reporter titled tessaly.exe");
  Check(TextOf(GetDlgItem(reporter, CrashDialog::kHeadingId)) ==
            "An error occurred in the application.",
        "the reporter's heading is \"" + TextOf(GetDlgItem(reporter, CrashDialog::kHeadingId)) +
            "\"");
  Check(TextOf(GetDlgItem(reporter, CrashDialog::kMessageId)) == "could not find libvmdk.dll",
        "the reporter's message is \"" + TextOf(GetDlgItem(reporter, CrashDialog::kMessageId)) +
            "\"");
  Check(!IsWindowEnabled(window), "the window took input while the reporter was up");
  PostMessageA(GetDlgItem(reporter, CrashDialog::kContinueId), BM_CLICK, 0, 0);
  Check(WaitUntil([&] { return !IsWindow(reporter) || !IsWindowVisible(reporter); }, 10),
        "the reporter stayed after \"continue application\"");
  Check(WaitUntil([&] { return IsWindowEnabled(window) != 0; }, 10),
        "the window stayed disabled after \"continue application\"");
}

std::vector<std::string> ButtonTexts(HWND window) {
  std::vector<std::string> texts;
  EnumChildWindows(
      window,
      [](HWND child, LPARAM list) -> BOOL {
        char name[32] = "";
        GetClassNameA(child, name, sizeof name);
        if (lstrcmpiA(name, "Button") != 0) return TRUE;
        if ((GetWindowLongPtrA(child, GWL_STYLE) & BS_TYPEMASK) == BS_GROUPBOX) return TRUE;
        char text[64] = "";
        GetWindowTextA(child, text, sizeof text);
        reinterpret_cast<std::vector<std::string>*>(list)->push_back(text);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&texts));
  return texts;
}

}  // namespace

int main(int argc, char** argv) {
  HWND window = WaitForWindow("Tessaly 0.1", 30);
  if (window == nullptr) {
    std::printf("window_probe: no visible window titled \"Tessaly 0.1\" appeared\n");
    return 1;
  }

  RECT client{};
  GetClientRect(window, &client);
  Check(client.right == 496 && client.bottom == 98, "client area " + std::to_string(client.right) +
                                                        "x" + std::to_string(client.bottom) +
                                                        ", not 496x98");
  RECT frame{};
  GetWindowRect(window, &frame);
  Check(frame.left == 465 && frame.top == 155, "placed at " + std::to_string(frame.left) + "," +
                                                   std::to_string(frame.top) + ", not 465,155");
  const auto style = static_cast<DWORD>(GetWindowLongPtrA(window, GWL_STYLE));
  const auto ex_style = static_cast<DWORD>(GetWindowLongPtrA(window, GWL_EXSTYLE));
  Check((ex_style & WS_EX_TOOLWINDOW) != 0, "not a tool window");
  Check((style & WS_THICKFRAME) != 0, "not sizeable");
  Check((style & WS_SYSMENU) != 0, "no system menu");
  Check((style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX)) == 0, "has a minimize or maximize box");
  const std::vector<std::string> buttons = ButtonTexts(window);
  Check(buttons == std::vector<std::string>{"size", "Convert"},
        "the buttons are not size, Convert");

  if (argc > 1) {
    std::string image = argv[1];
    for (char& c : image) {
      if (c == '/') c = '\\';  // the dialog takes "\" alone
    }
    SizeIntoTheReporterAndBack(window, image);
  }

  PostMessageA(window, WM_CLOSE, 0, 0);
  bool gone = false;
  for (int i = 0; i < 100 && !gone; ++i) {
    gone = !IsWindow(window);
    if (!gone) Sleep(100);
  }
  Check(gone, "the window was still there 10 s after WM_CLOSE");
  return faults == 0 ? 0 : 1;
}
