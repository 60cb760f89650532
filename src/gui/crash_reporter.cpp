#include "gui/crash_reporter.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QFile>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

#include "platform/platform.h"
#include "report/mailto.h"
#include "report/reporter_flow.h"
#include "report/settings.h"

namespace tessaly::gui {
namespace {

QString FromSetting(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

void ShowPlainMessage(CrashActions& actions, const QString& text) {
  QMessageBox box;
  box.setWindowTitle(ReporterTitle());
  box.setWindowModality(Qt::ApplicationModal);
  box.setIcon(QMessageBox::NoIcon);
  box.setTextFormat(Qt::PlainText);
  box.setText(text);
  box.setStandardButtons(QMessageBox::Ok);
  actions.ShowMessage(box);
}

// The reporter's screen and process, for the shared flow.
class QtFront : public report::ReporterFront {
 public:
  explicit QtFront(CrashActions& actions) : actions_(actions) {}
  void ShowPlain(const std::string& text) override {
    ShowPlainMessage(actions_, QString::fromLocal8Bit(text));
  }
  report::Choice ShowReport(const std::string& message, const std::string& report) override {
    CrashDialog dialog(ReporterTitle(), message, report, actions_);
    switch (actions_.Run(dialog)) {
      case CrashDialog::kRestart:
        return report::Choice::kRestart;
      case CrashDialog::kClose:
        return report::Choice::kClose;
      default:  // continue, or the dialog closed by its title bar
        return report::Choice::kContinue;
    }
  }
  bool StartAgain() override { return actions_.StartAgain(); }
  void Quit(int exit_code) override { actions_.Quit(exit_code); }

 private:
  CrashActions& actions_;
};

}  // namespace

int SystemActions::Run(CrashDialog& dialog) { return dialog.exec(); }

void SystemActions::ShowMessage(QMessageBox& box) { box.exec(); }

bool SystemActions::OpenMail(const QUrl& url) { return QDesktopServices::openUrl(url); }

bool SystemActions::StartAgain() {
  return QProcess::startDetached(QFile::decodeName(platform::ExecutablePath().c_str()), {});
}

void SystemActions::Quit(int exit_code) { QCoreApplication::exit(exit_code); }

QString ReporterTitle() {
  const std::string path = platform::ExecutablePath();
  constexpr std::string_view kTitleBar = report::Text("TitleBar");
  QString title = FromSetting(kTitleBar);
  title.replace("%appname%",
                QFile::decodeName(path.substr(platform::FolderOf(path).size()).c_str()));
  return title;
}

CrashDialog::CrashDialog(const QString& title, const std::string& message,
                         const std::string& report, CrashActions& actions)
    : actions_(actions), report_(report) {
  setObjectName("CrashDialog");
  setWindowTitle(title);
  setWindowModality(Qt::ApplicationModal);

  auto* layout = new QVBoxLayout(this);
  constexpr std::string_view kExceptMsg = report::Text("ExceptMsg");
  auto* heading = new QLabel(FromSetting(kExceptMsg), this);
  heading->setObjectName("ExceptMsg");
  layout->addWidget(heading);
  auto* text = new QLabel(QString::fromLocal8Bit(message), this);
  text->setObjectName("Message");
  text->setTextFormat(Qt::PlainText);
  text->setWordWrap(true);
  text->setTextInteractionFlags(Qt::TextSelectableByMouse);
  layout->addWidget(text);

  auto* buttons = new QHBoxLayout;
  layout->addLayout(buttons);
  if constexpr (report::Flag("SendBtnVis")) {
    buttons->addWidget(AddButton("SendButton", "send bug report"));
    connect(findChild<QPushButton*>("SendButton"), &QPushButton::clicked, this,
            &CrashDialog::SendReport);
  }
  if constexpr (report::Flag("ShowBtnVis")) {
    buttons->addWidget(AddButton("ShowButton", "show bug report"));
    connect(findChild<QPushButton*>("ShowButton"), &QPushButton::clicked, this,
            &CrashDialog::ShowReport);
  }
  if constexpr (report::Flag("ContinueBtnVis")) {
    QPushButton* button = AddButton("ContinueButton", "continue application");
    buttons->addWidget(button);
    button->setDefault(true);
    connect(button, &QPushButton::clicked, this, [this] { done(kContinue); });
  }
  if constexpr (report::Flag("RestartBtnVis")) {
    buttons->addWidget(AddButton("RestartButton", "restart application"));
    connect(findChild<QPushButton*>("RestartButton"), &QPushButton::clicked, this,
            [this] { done(kRestart); });
  }
  if constexpr (report::Flag("CloseBtnVis")) {
    buttons->addWidget(AddButton("CloseButton", "close application"));
    connect(findChild<QPushButton*>("CloseButton"), &QPushButton::clicked, this,
            [this] { done(kClose); });
  }

  report_view_ = new QPlainTextEdit(QString::fromLocal8Bit(report_), this);
  report_view_->setObjectName("ReportView");
  report_view_->setReadOnly(true);
  report_view_->setLineWrapMode(QPlainTextEdit::NoWrap);
  report_view_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  report_view_->setMinimumHeight(300);
  constexpr bool kAutoShow = report::Flag("AutoShowBugRep");
  report_view_->setVisible(kAutoShow);
  layout->addWidget(report_view_);
}

QPushButton* CrashDialog::AddButton(const char* name, const QString& text) {
  auto* button = new QPushButton(text, this);
  button->setObjectName(name);
  button->setAutoDefault(false);
  return button;
}

void CrashDialog::ShowReport() {
  report_view_->setVisible(true);
  adjustSize();
}

void CrashDialog::SendReport() {
  constexpr std::string_view kAddress = report::Text("MailAddr");
  constexpr std::string_view kSubject = report::Text("MailSubj");
  constexpr std::string_view kBody = report::Text("MailBody");
  const std::string url = report::MailtoUrl(std::string(kAddress), std::string(kSubject),
                                            std::string(kBody) + "\n\n" + report_);
  if (!actions_.OpenMail(QUrl::fromEncoded(QByteArray::fromStdString(url), QUrl::StrictMode))) {
    ShowPlainMessage(actions_,
                     "No mail program could be started. \"show bug report\" shows the report, "
                     "to copy it from there.");
  }
}

void CrashReporter::Report(std::exception_ptr error) {
  QtFront front(*actions_);
  report::HandleException(error, duplicates_, front, "\n");
}

}  // namespace tessaly::gui
