// The file dialog's filter on a case-sensitive file system: "*.VMDK" lists
// .vmdk files whatever their case, and only those (and folders).
#include <gtest/gtest.h>

#include <QFileDialog>
#include <QFileSystemModel>

#include "gui/qt_host.h"
#include "support/test_env.h"
#include "window_fixture.h"

namespace tessaly::gui::testing {
namespace {

using tessaly::testing::ScratchFolder;
using tessaly::testing::WriteFile;

TEST(NameFilters, FromDescriptionAndPatternPairs) {
  EXPECT_EQ(QtNameFilters("VMDK|*.VMDK"), QStringList{"VMDK (*.VMDK)"});
  EXPECT_EQ(QtNameFilters("Images|*.vmdk;*.dd|All|*"),
            (QStringList{"Images (*.vmdk *.dd)", "All (*)"}));
  EXPECT_EQ(QtNameFilters(""), QStringList{});
}

TEST(ApplicationTitles, NameCutAtTheFirstDotWithTheRestInLowerCase) {
  EXPECT_EQ(ApplicationTitle("/usr/local/bin/tessaly"), "tessaly");
  EXPECT_EQ(ApplicationTitle("/opt/TESSALY.Bin.old"), "Tessaly");
  EXPECT_EQ(ApplicationTitle("/opt/v1.2/Tess"), "Tess");
  EXPECT_EQ(ApplicationTitle("tessaly"), "tessaly");
}

// The names the dialog lists in `folder`, once it has read the folder; a
// name it shows but does not let the user pick is marked.
QStringList Listed(QFileDialog& dialog, const QString& folder) {
  auto* model = dialog.findChild<QFileSystemModel*>("qt_filesystem_model");
  if (model == nullptr) return {"(no model)"};
  dialog.setDirectory(folder);
  const QModelIndex root = model->index(folder);
  QStringList names;
  const bool loaded = QTest::qWaitFor(
      [&] { return !model->canFetchMore(root) && model->rowCount(root) >= 4; }, 5000);
  if (!loaded) return {"(not loaded)"};
  for (int row = 0; row < model->rowCount(root); ++row) {
    const QModelIndex index = model->index(row, 0, root);
    const bool enabled = model->flags(index) & Qt::ItemIsEnabled;
    names << index.data().toString() + (enabled ? "" : " (greyed out)");
  }
  names.sort();
  return names;
}

TEST_F(WindowTest, TheFilterListsVmdkFilesInAnyCase) {
  const std::string folder = ScratchFolder("filter");
  for (const char* name : {"disk.vmdk", "UPPER.VMDK", "Mixed.Vmdk", "notes.txt", "disk.dd"})
    WriteFile(folder + name, "x");
  QDir(QString::fromStdString(folder)).mkdir("sub");

  QStringList listed;
  dialogs.files = {QString()};
  dialogs.on_file_dialog = [&](QFileDialog& dialog) {
    dialog.show();
    listed = Listed(dialog, QString::fromStdString(folder));
    dialog.hide();
  };
  Click(form.Button1);
  EXPECT_EQ(listed, (QStringList{"Mixed.Vmdk", "UPPER.VMDK", "disk.vmdk", "sub"}));
}

}  // namespace
}  // namespace tessaly::gui::testing
