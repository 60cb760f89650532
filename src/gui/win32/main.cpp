// tessaly.exe: the window. It takes no arguments (any are ignored) and reads
// no configuration.
#include <windows.h>

#include <exception>

#include "gui/win32/application.h"
#include "gui/win32/umain.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int show_command) {
  tessaly::gui::TApplication application;
  try {
    tessaly::gui::TForm1 form;
    return application.Run(form, show_command);
  } catch (const std::exception& error) {
    // No window to run in (the system refused to make it).
    MessageBoxA(nullptr, error.what(), nullptr, MB_OK | MB_ICONERROR);
    return 1;
  }
}
