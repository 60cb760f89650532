// tessaly: the window. It takes no arguments (any are ignored) and reads no
// configuration.
#include "gui/application.h"
#include "gui/umain.h"

int main(int argc, char** argv) {
  // Qt reads its own options from the arguments; hand it none.
  int qt_argc = argc > 0 ? 1 : 0;
  tessaly::gui::TApplication application(qt_argc, argv);
  tessaly::gui::TForm1 form;
  form.show();
  return application.exec();
}
