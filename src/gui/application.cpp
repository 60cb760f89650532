#include "gui/application.h"

#include "report/settings.h"

namespace tessaly::gui {

TApplication::TApplication(int& argc, char** argv)
    : QApplication(argc, argv), reporter_(system_actions_) {}

bool TApplication::notify(QObject* receiver, QEvent* event) {
  if constexpr (!report::Flag("Enabled")) return QApplication::notify(receiver, event);
  try {
    return QApplication::notify(receiver, event);
  } catch (...) {
    HandleException(std::current_exception());
    return false;
  }
}

void RunHandler(const std::function<void()>& handler) {
  try {
    handler();
  } catch (...) {
    auto* application = dynamic_cast<TApplication*>(QCoreApplication::instance());
    if (application == nullptr) throw;
    application->HandleException(std::current_exception());
  }
}

}  // namespace tessaly::gui
