// The main window: two buttons wired to the size report and the conversion,
// a progress bar and a status bar, built from umain.ui.
#pragma once

#include <memory>
#include <string>

#include <QWidget>

#include "commands/commands.h"
#include "gui/qt_host.h"

class QFileDialog;
class QGroupBox;
class QPushButton;
class QProgressBar;
class QStatusBar;
namespace Ui {
class TForm1;
}

namespace tessaly::gui {

class TForm1 : public QWidget {
  Q_OBJECT

 public:
  explicit TForm1(QWidget* parent = nullptr);
  ~TForm1() override;

  // The form's components, under the names the form description gives them.
  QFileDialog* OpenDialog1 = nullptr;
  QGroupBox* GroupBox1 = nullptr;
  QPushButton* Button1 = nullptr;
  QPushButton* Button2 = nullptr;
  QProgressBar* pb_img = nullptr;
  QStatusBar* StatusBar1 = nullptr;

  // Where the commands load libvmdk from; empty means the executable's own
  // folder, as the program has it.
  std::string library_folder;
  // Who runs the file dialog and the message boxes: the real modal dialogs
  // unless something else is put here (a test's script).
  void SetDialogs(UserDialogs& dialogs) { host_->SetDialogs(dialogs); }

 public slots:
  void Button1Click();  // "size"
  void Button2Click();  // "Convert"

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  std::unique_ptr<Ui::TForm1> ui_;
  ModalDialogs modal_dialogs_;
  std::unique_ptr<QtHost> host_;
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
