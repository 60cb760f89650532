#include "gui/win32/application.h"

#include <commctrl.h>

#include <string>

#include "gui/win32/umain.h"
#include "report/settings.h"

namespace tessaly::gui {

TApplication* Application = nullptr;

TApplication::TApplication() : reporter_(system_actions_) {
  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof controls;
  controls.dwICC = ICC_PROGRESS_CLASS | ICC_BAR_CLASSES;
  InitCommonControlsEx(&controls);
  Application = this;
}

TApplication::~TApplication() {
  if (Application == this) Application = nullptr;
}

int TApplication::Run(TForm1& main_form, int show_command) {
  main_form_ = &main_form;
  main_form.Show(show_command);
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    // Tab and the arrow keys move between the window's buttons.
    if (main_form.Handle != nullptr && IsDialogMessageA(main_form.Handle, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  main_form_ = nullptr;
  return message.message == WM_QUIT ? static_cast<int>(message.wParam) : 1;
}

void TApplication::HandleException(std::exception_ptr error) noexcept {
  try {
    if constexpr (report::Flag("Enabled")) {
      reporter_.Report(error);
    } else {
      // The system's own handling: the message in a box.
      const report::ExceptionFacts facts = report::DescribeException(error);
      MessageBoxA(nullptr, facts.message.c_str(), nullptr, MB_OK | MB_TASKMODAL | MB_ICONERROR);
    }
  } catch (...) {
    // The reporter itself failed (out of memory, most likely): the user
    // still learns that something went wrong.
    constexpr std::string_view kExceptMsg = report::Text("ExceptMsg");
    MessageBoxA(nullptr, std::string(kExceptMsg).c_str(), nullptr, MB_OK | MB_TASKMODAL);
  }
}

bool RunHandler(const std::function<void()>& handler) noexcept {
  try {
    handler();
    return true;
  } catch (...) {
    if (Application != nullptr) {
      Application->HandleException(std::current_exception());
    } else {
      MessageBoxA(nullptr, "An error occurred, and no application was there to report it.", nullptr,
                  MB_OK | MB_TASKMODAL);
    }
    return false;
  }
}

}  // namespace tessaly::gui
