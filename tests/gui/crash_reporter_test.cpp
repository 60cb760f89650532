// Exceptions that leave an event handler: the reporter's dialog, its
// buttons, and a window that stays usable after "continue application".
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>

#include <QCoreApplication>
#include <QFileInfo>
#include <QTimer>

#include "gui/qt_host.h"
#include "platform/platform.h"
#include "window_fixture.h"

namespace tessaly::gui::testing {
namespace {

using tessaly::testing::Images;
using tessaly::testing::ScratchFolder;
using ::testing::HasSubstr;
using ::testing::StartsWith;

QString Path(const std::string& path) { return QString::fromStdString(path); }

// The window of a program that has no libvmdk beside it.
class NoLibrary : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    form.library_folder = ScratchFolder("no_library");
  }
};

TEST_F(NoLibrary, TheProgramStartsAndAClickEndsInTheReporter) {
  EXPECT_TRUE(form.isVisible());
  EXPECT_EQ(CurrentLib, nullptr);

  dialogs.files = {Path(Images() + "gib.vmdk")};
  Click(form.Button1);

  ASSERT_EQ(actions.dialogs.size(), 1u);
  const ShownReporter& shown = actions.dialogs[0];
  EXPECT_EQ(shown.title, QFileInfo(QCoreApplication::applicationFilePath()).fileName());
  EXPECT_EQ(shown.heading, "An error occurred in the application.");
  EXPECT_EQ(shown.message, "could not find libvmdk.so");
  EXPECT_EQ(shown.buttons,
            (QStringList{"send bug report", "show bug report", "continue application",
                         "restart application", "close application"}));
  EXPECT_FALSE(shown.report_visible_at_start);
  const std::string report = shown.report.toStdString();
  for (const char* part :
       {"==== Tessaly bug report ====\n", "version           : 0.1\n",
        "exception class   : tessaly::Error\n", "exception message : could not find libvmdk.so\n",
        "call stack where the exception was raised:\n", "TLibVMDK", "\nthreads:\n",
        "(the thread the exception arose in)", "\nmodules:\n", "libQt6Widgets"}) {
    EXPECT_THAT(report, HasSubstr(part));
  }
  EXPECT_THAT(report, HasSubstr("executable        : " + platform::ExecutablePath() + "\n"));
  EXPECT_TRUE(dialogs.messages.empty());
  EXPECT_EQ(CurrentLib, nullptr);
  EXPECT_TRUE(actions.quits.empty());
  EXPECT_EQ(actions.starts, 0);
}

TEST_F(NoLibrary, ContinueLeavesTheWindowUsableForTheNextCommand) {
  dialogs.files = {Path(Images() + "gib.vmdk"), Path(Images() + "gib.vmdk")};
  Click(form.Button1);
  ASSERT_EQ(actions.dialogs.size(), 1u);
  EXPECT_TRUE(form.isVisible());
  EXPECT_TRUE(form.isEnabled());
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);

  // The library is put in place; the same button now runs its command.
  form.library_folder = tessaly::testing::RealLibFolder();
  QGuiApplication::clipboard()->clear();
  Click(form.Button1);
  EXPECT_EQ(dialogs.MessageTexts(),
            QStringList{"1073741824 Bytes\r\n1048576 KBytes\r\n1024 MBytes\r\n\r\n"
                        "data pasted in clipboard"});
  EXPECT_EQ(QGuiApplication::clipboard()->text(),
            "1073741824 Bytes\r\n1048576 KBytes\r\n1024 MBytes");
  EXPECT_EQ(actions.dialogs.size(), 1u);
}

TEST_F(NoLibrary, TheSameErrorAgainIsSaidPlainlyWithoutANewReport) {
  dialogs.files = {Path(Images() + "gib.vmdk"), Path(Images() + "gib.vmdk"),
                   Path(Images() + "monolithicSparse/disk.vmdk")};
  Click(form.Button1);
  Click(form.Button1);
  ASSERT_EQ(actions.dialogs.size(), 1u);
  ASSERT_EQ(actions.messages.size(), 1u);
  EXPECT_EQ(actions.messages[0].text,
            "An error occurred in the application.\n\ncould not find libvmdk.so\n\n"
            "(This error was reported before.)");
  EXPECT_EQ(actions.messages[0].buttons, QStringList{"OK"});
  // "Convert" raises the same words from the same place.
  Click(form.Button2);
  EXPECT_EQ(actions.dialogs.size(), 1u);
  EXPECT_EQ(actions.messages.size(), 2u);
}

TEST_F(NoLibrary, RestartStartsTheProgramAgainAndCloseEndsIt) {
  struct Case {
    const char* button;
    bool start_succeeds;
    int starts;
    std::vector<int> quits;
    int messages;
  };
  const Case cases[] = {
      {"RestartButton", true, 1, {0}, 0},
      {"RestartButton", false, 1, {}, 1},  // stays, and says so
      {"CloseButton", true, 0, {1}, 0},
      {"ContinueButton", true, 0, {}, 0},
  };
  for (const Case& c : cases) {
    ScriptedActions fresh;
    fresh.choices = {c.button};
    fresh.start_succeeds = c.start_succeeds;
    App().reporter() = CrashReporter(fresh);  // forgets what it reported
    dialogs.files = {Path(Images() + "gib.vmdk")};
    Click(form.Button1);
    EXPECT_EQ(fresh.dialogs.size(), 1u) << c.button;
    EXPECT_EQ(fresh.starts, c.starts) << c.button;
    EXPECT_EQ(fresh.quits, c.quits) << c.button;
    EXPECT_EQ(fresh.messages.size(), static_cast<std::size_t>(c.messages)) << c.button;
    App().reporter() = CrashReporter(actions);
  }
}

TEST_F(NoLibrary, SendOpensTheMailProgramWithTheReport) {
  actions.choices = {"SendButton"};
  dialogs.files = {Path(Images() + "gib.vmdk")};
  Click(form.Button1);
  ASSERT_EQ(actions.mails.size(), 1u);
  const std::string url = actions.mails[0].toEncoded().toStdString();
  EXPECT_THAT(url,
              StartsWith("mailto:?subject=bug%20report&body=please%20find%20the%20bug%20"
                         "report%20attached%0D%0A%0D%0A%3D%3D%3D%3D%20Tessaly%20bug%20report"));
  EXPECT_THAT(url, HasSubstr("could%20not%20find%20libvmdk.so"));
  EXPECT_TRUE(actions.quits.empty());

  // Without a mail program the user is told where the report is.
  ScriptedActions no_mail;
  no_mail.mail_opens = false;
  no_mail.choices = {"SendButton"};
  App().reporter() = CrashReporter(no_mail);
  dialogs.files = {Path(Images() + "gib.vmdk")};
  Click(form.Button1);
  ASSERT_EQ(no_mail.messages.size(), 1u);
  EXPECT_THAT(no_mail.messages[0].text.toStdString(), HasSubstr("show bug report"));
  App().reporter() = CrashReporter(actions);
}

// An object whose event handler raises what it is told to.
class Raiser : public QObject {
 public:
  bool event(QEvent* event) override {
    if (event->type() == QEvent::User) throw std::out_of_range("index 7 is past the end");
    return QObject::event(event);
  }
};

TEST_F(WindowTest, AnyExceptionLeavingAnEventHandlerReachesTheReporter) {
  Raiser raiser;
  QEvent event(QEvent::User);
  EXPECT_FALSE(QCoreApplication::sendEvent(&raiser, &event));
  ASSERT_EQ(actions.dialogs.size(), 1u);
  EXPECT_EQ(actions.dialogs[0].message, "index 7 is past the end");
  const std::string report = actions.dialogs[0].report.toStdString();
  EXPECT_THAT(report, HasSubstr("exception class   : std::out_of_range\n"));
  EXPECT_THAT(report, HasSubstr("call stack where the exception was caught"));

  // And from the event loop.
  QCoreApplication::postEvent(&raiser, new QEvent(QEvent::User));
  QCoreApplication::processEvents();
  EXPECT_EQ(actions.dialogs.size(), 1u);  // the same again: a duplicate
  EXPECT_EQ(actions.messages.size(), 1u);
}

// The real modal dialogs, answered the way a user would: typing a name that
// does not exist into the file dialog, then pressing OK in the message box.
TEST_F(WindowTest, TheRealDialogsRunModallyAndTakeATypedName) {
  ModalDialogs modal;
  form.SetDialogs(modal);
  const QString typed = Path(ScratchFolder("typed") + "no-such-folder/typed.vmdk");
  QStringList seen;
  QTimer user;  // looks at the screen every few milliseconds while the test runs
  QObject::connect(&user, &QTimer::timeout, [&] {
    QWidget* modal_widget = QApplication::activeModalWidget();
    if (auto* file_dialog = qobject_cast<QFileDialog*>(modal_widget)) {
      seen << "file dialog";
      auto* name = file_dialog->findChild<QLineEdit*>("fileNameEdit");
      name->setText(typed);
      QTest::keyClick(name, Qt::Key_Return);
    } else if (auto* box = qobject_cast<QMessageBox*>(modal_widget)) {
      seen << box->text();
      box->button(QMessageBox::Ok)->click();
    }
  });
  user.start(10);
  Click(form.Button1);
  EXPECT_EQ(seen, (QStringList{"file dialog", "libvmdk_get_media_size failed"}));
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

}  // namespace
}  // namespace tessaly::gui::testing
