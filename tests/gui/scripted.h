// Scripted answers for the window's dialogs and the crash reporter, which
// record what they were shown.
#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <QAbstractButton>
#include <QClipboard>
#include <QFileDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QUrl>

#include "gui/crash_reporter.h"
#include "gui/qt_host.h"

namespace tessaly::gui::testing {

// What a message box showed.
struct ShownMessage {
  QString title;
  QString text;
  QString informative;
  QMessageBox::Icon icon = QMessageBox::Information;
  QStringList buttons;
  Qt::WindowModality modality = Qt::NonModal;
  bool has_parent = true;
  QString clipboard;  // the clipboard's text while the box was open
};

inline ShownMessage Record(QMessageBox& box) {
  ShownMessage shown;
  shown.title = box.windowTitle();
  shown.text = box.text();
  shown.informative = box.informativeText();
  shown.icon = box.icon();
  for (QAbstractButton* button : box.buttons()) shown.buttons << button->text();
  shown.modality = box.windowModality();
  shown.has_parent = box.parentWidget() != nullptr;
  shown.clipboard = QGuiApplication::clipboard()->text();
  return shown;
}

class ScriptedDialogs : public UserDialogs {
 public:
  // The file dialog's answers, in order; an empty one cancels, and so does
  // the dialog once they run out.
  std::deque<QString> files;
  // Called with the prepared file dialog before it answers.
  std::function<void(QFileDialog&)> on_file_dialog;

  std::vector<QStringList> filters;  // the name filters of each run
  std::vector<QString> filled_in;    // the file name shown at each run
  std::vector<ShownMessage> messages;

  std::optional<QString> ChooseFile(QFileDialog& dialog) override {
    filters.push_back(dialog.nameFilters());
    auto* name = dialog.findChild<QLineEdit*>("fileNameEdit");
    filled_in.push_back(name != nullptr ? name->text() : QString("(no name field)"));
    if (on_file_dialog) on_file_dialog(dialog);
    if (files.empty()) return std::nullopt;
    const QString answer = files.front();
    files.pop_front();
    if (answer.isEmpty()) return std::nullopt;
    return answer;
  }
  void ShowMessage(QMessageBox& box) override { messages.push_back(Record(box)); }

  QStringList MessageTexts() const {
    QStringList texts;
    for (const auto& m : messages) texts << m.text;
    return texts;
  }
};

// What the crash dialog showed.
struct ShownReporter {
  QString title;
  QString heading;
  QString message;
  QStringList buttons;
  bool report_visible_at_start = true;
  QString report;  // the text "show bug report" showed
};

class ScriptedActions : public CrashActions {
 public:
  // The button each dialog is answered with, by object name; once they run
  // out, "ContinueButton".
  std::deque<QString> choices;
  bool mail_opens = true;
  bool start_succeeds = true;

  std::vector<ShownReporter> dialogs;
  std::vector<ShownMessage> messages;
  std::vector<QUrl> mails;
  int starts = 0;
  std::vector<int> quits;

  int Run(CrashDialog& dialog) override {
    ShownReporter shown;
    shown.title = dialog.windowTitle();
    shown.heading = dialog.findChild<QLabel*>("ExceptMsg")->text();
    shown.message = dialog.findChild<QLabel*>("Message")->text();
    for (QPushButton* button : dialog.findChildren<QPushButton*>()) shown.buttons << button->text();
    shown.report_visible_at_start = !dialog.report_view()->isHidden();
    dialog.findChild<QPushButton*>("ShowButton")->click();
    if (!dialog.report_view()->isHidden()) shown.report = dialog.report_view()->toPlainText();
    dialogs.push_back(shown);

    const QString choice = choices.empty() ? QString("ContinueButton") : choices.front();
    if (!choices.empty()) choices.pop_front();
    int result = -1;
    QObject::connect(&dialog, &QDialog::finished, [&result](int code) { result = code; });
    dialog.open();
    dialog.findChild<QPushButton*>(choice)->click();
    if (dialog.isVisible()) dialog.done(QDialog::Rejected);  // a button that keeps it open
    return result;
  }
  void ShowMessage(QMessageBox& box) override { messages.push_back(Record(box)); }
  bool OpenMail(const QUrl& url) override {
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
