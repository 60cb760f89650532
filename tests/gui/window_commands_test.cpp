// The two buttons on real images through the real libvmdk: what the user
// sees in the message box, on the clipboard, in the bars and on disk.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QClipboard>
#include <QEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QStatusBar>

#include "window_fixture.h"

namespace tessaly::gui::testing {
namespace {

using tessaly::testing::Images;
using tessaly::testing::ReadFile;
using tessaly::testing::ScratchFolder;

QString Path(const std::string& path) { return QString::fromStdString(path); }

using WindowCommands = WindowTest;

TEST_F(WindowCommands, SizeShowsTheReportThenPutsItOnTheClipboard) {
  QGuiApplication::clipboard()->setText("held before");
  dialogs.files = {Path(Images() + "gib.vmdk")};
  Click(form.Button1);

  ASSERT_EQ(dialogs.messages.size(), 1u);
  const ShownMessage& shown = dialogs.messages[0];
  EXPECT_EQ(shown.text,
            "1073741824 Bytes\r\n1048576 KBytes\r\n1024 MBytes\r\n\r\ndata pasted in clipboard");
  EXPECT_EQ(shown.clipboard, "held before") << "the clipboard changed before the box closed";
  EXPECT_EQ(shown.icon, QMessageBox::NoIcon);
  EXPECT_EQ(shown.buttons, QStringList{"OK"});
  EXPECT_EQ(shown.modality, Qt::ApplicationModal);
  EXPECT_FALSE(shown.has_parent);      // centred on the screen, not on the window
  EXPECT_EQ(shown.title, "gui_test");  // this program's name as an application title
  EXPECT_EQ(QGuiApplication::clipboard()->text(),
            "1073741824 Bytes\r\n1048576 KBytes\r\n1024 MBytes");
  EXPECT_EQ(dialogs.filters, std::vector<QStringList>{QStringList{"VMDK (*.VMDK)"}});
  EXPECT_EQ(CurrentLib, nullptr);
}

TEST_F(WindowCommands, AFailedSizeReportLeavesTheClipboardAlone) {
  QGuiApplication::clipboard()->setText("held before");
  dialogs.files = {Path(Images() + "not-an-image.vmdk"), Path(Images() + "no-such-file.vmdk"),
                   QString()};
  for (int i = 0; i < 3; ++i) Click(form.Button1);
  EXPECT_EQ(dialogs.MessageTexts(),
            (QStringList{"libvmdk_get_media_size failed", "libvmdk_get_media_size failed"}));
  EXPECT_EQ(QGuiApplication::clipboard()->text(), "held before");
  EXPECT_TRUE(actions.dialogs.empty());
}

// Records the value the progress bar had each time it was painted.
class PaintWatch : public QObject {
 public:
  explicit PaintWatch(QProgressBar* bar) : bar_(bar) { bar->installEventFilter(this); }
  std::vector<int> painted;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == bar_ && event->type() == QEvent::Paint) painted.push_back(bar_->value());
    return false;
  }

 private:
  QProgressBar* bar_;
};

TEST_F(WindowCommands, ConvertWritesTheRawImageBesideTheSource) {
  const std::string folder = ScratchFolder("window_convert");
  const std::string image = folder + "disk.vmdk";
  tessaly::testing::WriteFile(image, ReadFile(Images() + "monolithicSparse/disk.vmdk"));
  tessaly::testing::WriteFile(folder + "disk.dd", "an older target");
  dialogs.files = {Path(image)};
  PaintWatch watch(form.pb_img);

  // Called directly, as the button's handler: no event loop runs until it
  // returns, so every paint seen came from the copy loop itself.
  form.Button2Click();

  EXPECT_TRUE(dialogs.messages.empty());
  EXPECT_TRUE(ReadFile(folder + "disk.dd") == ReadFile(Images() + "monolithicSparse/expected.raw"))
      << "bytes differ from qemu-img's";
  EXPECT_GT(form.pb_img->maximum(), 0);
  EXPECT_EQ(form.pb_img->value(), form.pb_img->maximum());
  ASSERT_GT(watch.painted.size(), 2u) << "the bar was not repainted while copying";
  EXPECT_EQ(watch.painted.back(), form.pb_img->maximum()) << "the full bar was never painted";
  EXPECT_TRUE(
      QRegularExpression("^done in [0-9]+ms$").match(form.StatusBar1->currentMessage()).hasMatch())
      << form.StatusBar1->currentMessage().toStdString();
  EXPECT_EQ(CurrentLib, nullptr);
}

TEST_F(WindowCommands, TheDialogShowsTheLastFileNameAgain) {
  const QString image = Path(Images() + "gib.vmdk");
  dialogs.files = {image, QString()};
  QString folder_at_second_run;
  dialogs.on_file_dialog = [&](QFileDialog& dialog) {
    folder_at_second_run = dialog.directory().absolutePath();
  };
  Click(form.Button1);
  Click(form.Button1);
  ASSERT_EQ(dialogs.filled_in.size(), 2u);
  EXPECT_EQ(dialogs.filled_in[1], "gib.vmdk");
  EXPECT_EQ(folder_at_second_run + "/", Path(Images()));
}

}  // namespace
}  // namespace tessaly::gui::testing
