#include "gui/umain.h"

#include <QEvent>
#include <QFileDialog>
#include <QGroupBox>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>

#include "gui/application.h"
#include "ui_umain.h"

namespace tessaly::gui {

TForm1* Form1 = nullptr;
commands::LibSlot CurrentLib;

TForm1::TForm1(QWidget* parent) : QWidget(parent), ui_(std::make_unique<Ui::TForm1>()) {
  ui_->setupUi(this);
  GroupBox1 = ui_->GroupBox1;
  Button1 = ui_->Button1;
  Button2 = ui_->Button2;
  pb_img = ui_->pb_img;
  StatusBar1 = ui_->StatusBar1;

  // A sizeable tool window whose title bar has the close button alone.
  setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  setAttribute(Qt::WA_QuitOnClose);
  move(465, 155);
  QFont sans = font();
  sans.setStyleHint(QFont::SansSerif);  // where "MS Sans Serif" is missing
  setFont(sans);

  // The group box fills the window (the form's layout); the status bar
  // keeps to its bottom, across its width.
  const QRect status = StatusBar1->geometry();
  status_left_ = status.left();
  status_right_ = width() - (status.left() + status.width());
  status_bottom_ = height() - (status.top() + status.height());
  GroupBox1->installEventFilter(this);

  OpenDialog1 = new QFileDialog(this);
  OpenDialog1->setObjectName("OpenDialog1");
  PrepareOpenDialog(*OpenDialog1);

  host_ = std::make_unique<QtHost>(*OpenDialog1, *pb_img, *StatusBar1, modal_dialogs_);

  // The click handlers; what raises in them goes to the application's
  // exception handling.
  connect(Button1, &QPushButton::clicked, this, [this] { RunHandler([this] { Button1Click(); }); });
  connect(Button2, &QPushButton::clicked, this, [this] { RunHandler([this] { Button2Click(); }); });
  Form1 = this;
}

TForm1::~TForm1() {
  if (Form1 == this) Form1 = nullptr;
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  if (watched == GroupBox1 && event->type() == QEvent::Resize) {
    const int height = StatusBar1->height();
    StatusBar1->setGeometry(status_left_, GroupBox1->height() - status_bottom_ - height,
                            GroupBox1->width() - status_left_ - status_right_, height);
  }
  return QWidget::eventFilter(watched, event);
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
