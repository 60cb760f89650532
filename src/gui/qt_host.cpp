#include "gui/qt_host.h"

#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QGuiApplication>
#include <QIcon>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>

#include "platform/platform.h"

namespace tessaly::gui {

std::optional<QString> ModalDialogs::ChooseFile(QFileDialog& dialog) {
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const QStringList files = dialog.selectedFiles();
  if (files.isEmpty()) return std::nullopt;
  return files.first();
}

void ModalDialogs::ShowMessage(QMessageBox& box) { box.exec(); }

QStringList QtNameFilters(const std::string& filter) {
  const QStringList parts = QString::fromStdString(filter).split('|');
  QStringList filters;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QString patterns = parts[i + 1];
    patterns.replace(';', ' ');
    filters << parts[i] + " (" + patterns + ")";
  }
  return filters;
}

QString ApplicationTitle(const std::string& executable_path) {
  const std::string name = executable_path.substr(platform::FolderOf(executable_path).size());
  const QString title =
      QFile::decodeName(QByteArray::fromStdString(name.substr(0, name.find('.'))));
  return title.left(1) + title.mid(1).toLower();
}

void PrepareOpenDialog(QFileDialog& dialog) {
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setFilter(dialog.filter() & ~QDir::CaseSensitive);
}

QtHost::QtHost(QFileDialog& open_dialog, QProgressBar& progress, QStatusBar& status,
               UserDialogs& dialogs)
    : open_dialog_(open_dialog), progress_(progress), status_(status), dialogs_(&dialogs) {}

std::optional<commands::ImageChoice> QtHost::ChooseImage(const std::string& filter) {
  open_dialog_.setNameFilters(QtNameFilters(filter));
  if (!last_file_.isEmpty()) open_dialog_.selectFile(last_file_);
  const std::optional<QString> chosen = dialogs_->ChooseFile(open_dialog_);
  if (!chosen || chosen->isEmpty()) return std::nullopt;
  last_file_ = *chosen;
  return commands::ImageChoice{QFile::encodeName(*chosen).toStdString(), std::nullopt};
}

void QtHost::ShowMessage(const commands::Message& message) {
  // No parent: the box is centred on the screen, and modal for the whole
  // application.
  QMessageBox box;
  box.setWindowTitle(ApplicationTitle(platform::ExecutablePath()));
  box.setWindowModality(Qt::ApplicationModal);
  box.setIcon(QMessageBox::NoIcon);
  box.setTextFormat(Qt::PlainText);
  box.setText(QString::fromLocal8Bit(message.text));
  if (!message.reason.empty()) box.setInformativeText(QString::fromLocal8Bit(message.reason));
  box.setStandardButtons(QMessageBox::Ok);
  box.button(QMessageBox::Ok)->setIcon(QIcon());  // a plain "OK", whatever the style adds
  dialogs_->ShowMessage(box);
}

void QtHost::SetClipboardText(const std::string& text) {
  QGuiApplication::clipboard()->setText(QString::fromLocal8Bit(text));
}

void QtHost::WriteResult(const std::string& text) { ShowMessage({text, {}, {}}); }

void QtHost::SetProgressRange(int min, int max) {
  progress_.setRange(min, max);
  painted_fill_ = -1;
}

void QtHost::SetProgressPosition(int position) {
  progress_.setValue(position);
  // The copy loop does not return to the event loop, so the bar is painted
  // here and now, each time its filled part grows by a pixel (painting it
  // for every chunk would cost more than the copy).
  const std::int64_t span = std::int64_t{progress_.maximum()} - progress_.minimum();
  const int fill =
      span <= 0 ? progress_.width()
                : static_cast<int>(progress_.width() *
                                   (std::int64_t{progress_.value()} - progress_.minimum()) / span);
  if (fill != painted_fill_) {
    painted_fill_ = fill;
    progress_.repaint();
  }
}

void QtHost::SetStatusText(const std::string& text) {
  status_.showMessage(QString::fromLocal8Bit(text));
}

void QtHost::DebugOutput(const std::string& text) { platform::DebugOutput(text); }

}  // namespace tessaly::gui
