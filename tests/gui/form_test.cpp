// The main window as the form describes it: names, nesting, captions,
// geometry, tab order, window kind, and what a resize does to it.
#include <gtest/gtest.h>

#include <QFileDialog>
#include <QGroupBox>
#include <QLayout>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>

#include "window_fixture.h"

namespace tessaly::gui::testing {
namespace {

using FormTest = WindowTest;

TEST_F(FormTest, HoldsTheNamedControlsNestedAsDescribed) {
  EXPECT_EQ(Form1, &form);
  EXPECT_EQ(form.objectName(), "Form1");
  EXPECT_STREQ(form.metaObject()->className(), "tessaly::gui::TForm1");
  EXPECT_EQ(form.windowTitle(), "Tessaly 0.1");

  struct Expected {
    QWidget* widget;
    const char* name;
    const char* kind;
    QWidget* parent;
    QRect geometry;
  };
  const Expected controls[] = {
      {form.GroupBox1, "GroupBox1", "QGroupBox", &form, {0, 0, 496, 98}},
      {form.Button1, "Button1", "QPushButton", form.GroupBox1, {328, 32, 73, 25}},
      {form.Button2, "Button2", "QPushButton", form.GroupBox1, {408, 32, 75, 25}},
      {form.pb_img, "pb_img", "QProgressBar", form.GroupBox1, {8, 32, 313, 25}},
      {form.StatusBar1, "StatusBar1", "QStatusBar", form.GroupBox1, {2, 77, 492, 19}},
  };
  for (const Expected& c : controls) {
    ASSERT_NE(c.widget, nullptr) << c.name;
    EXPECT_EQ(c.widget->objectName(), c.name);
    EXPECT_STREQ(c.widget->metaObject()->className(), c.kind) << c.name;
    EXPECT_EQ(c.widget->parentWidget(), c.parent) << c.name;
    EXPECT_EQ(c.widget->geometry(), c.geometry) << c.name;
    EXPECT_EQ(form.findChild<QWidget*>(c.name), c.widget) << c.name;
  }
  EXPECT_EQ(form.GroupBox1->title(), "");
  EXPECT_EQ(form.Button1->text(), "size");
  EXPECT_EQ(form.Button2->text(), "Convert");
  EXPECT_EQ(form.pb_img->minimum(), 0);
  EXPECT_EQ(form.pb_img->maximum(), 100);
  EXPECT_EQ(form.pb_img->value(), 0);
  EXPECT_EQ(form.StatusBar1->currentMessage(), "");
  EXPECT_FALSE(form.StatusBar1->isSizeGripEnabled());

  ASSERT_NE(form.OpenDialog1, nullptr);
  EXPECT_EQ(form.OpenDialog1->objectName(), "OpenDialog1");
  EXPECT_EQ(form.OpenDialog1->parentWidget(), &form);
  EXPECT_EQ(form.OpenDialog1->fileMode(), QFileDialog::AnyFile);
  EXPECT_EQ(form.OpenDialog1->acceptMode(), QFileDialog::AcceptOpen);
  EXPECT_EQ(form.findChild<QFileDialog*>("OpenDialog1"), form.OpenDialog1);
}

TEST_F(FormTest, OpensAtItsPlaceAndSizeInItsFont) {
  EXPECT_EQ(form.pos(), QPoint(465, 155));
  EXPECT_EQ(form.size(), QSize(496, 98));
  EXPECT_EQ(form.font().family(), "MS Sans Serif");
  EXPECT_EQ(form.font().pointSize(), 8);
  EXPECT_EQ(form.font().styleHint(), QFont::SansSerif);
  EXPECT_EQ(form.Button1->font().family(), "MS Sans Serif");
}

TEST_F(FormTest, IsASizeableToolWindowWithOnlyTheCloseButton) {
  const Qt::WindowFlags flags = form.windowFlags();
  EXPECT_EQ(flags & Qt::WindowType_Mask, Qt::Tool);
  EXPECT_TRUE(flags & Qt::CustomizeWindowHint);
  EXPECT_TRUE(flags & Qt::WindowTitleHint);
  EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
  EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
  EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
  EXPECT_FALSE(flags & Qt::WindowContextHelpButtonHint);
  EXPECT_NE(form.minimumSize(), form.maximumSize());
}

TEST_F(FormTest, TabGoesFromSizeToConvertAndRoundAgain) {
  EXPECT_EQ(form.Button1->nextInFocusChain(), form.Button2);
  EXPECT_EQ(form.Button2->nextInFocusChain(), form.pb_img);
  form.activateWindow();
  form.Button1->setFocus();
  ASSERT_TRUE(QTest::qWaitFor([&] { return form.Button1->hasFocus(); }));
  QTest::keyClick(&form, Qt::Key_Tab);
  EXPECT_TRUE(form.Button2->hasFocus());
  QTest::keyClick(&form, Qt::Key_Tab);  // the bars take no focus
  EXPECT_TRUE(form.Button1->hasFocus());
}

TEST_F(FormTest, ResizingStretchesTheBoxAndStatusBarOnly) {
  for (const QSize size : {QSize(700, 160), QSize(400, 90), QSize(496, 98)}) {
    form.resize(size);
    ASSERT_TRUE(QTest::qWaitFor([&] { return form.GroupBox1->size() == size; }))
        << size.width() << "x" << size.height();
    EXPECT_EQ(form.GroupBox1->geometry(), QRect(QPoint(0, 0), size));
    EXPECT_EQ(form.StatusBar1->geometry(), QRect(2, size.height() - 21, size.width() - 4, 19));
    EXPECT_EQ(form.Button1->geometry(), QRect(328, 32, 73, 25));
    EXPECT_EQ(form.Button2->geometry(), QRect(408, 32, 75, 25));
    EXPECT_EQ(form.pb_img->geometry(), QRect(8, 32, 313, 25));
  }
}

TEST_F(FormTest, ClosingTheWindowEndsTheMessageLoop) {
  bool timed_out = false;
  QTimer::singleShot(0, &form, [&] { form.close(); });
  QTimer guard;
  guard.setSingleShot(true);
  QObject::connect(&guard, &QTimer::timeout, [&] {
    timed_out = true;
    QCoreApplication::exit(2);
  });
  guard.start(10000);
  EXPECT_EQ(QCoreApplication::exec(), 0);
  EXPECT_FALSE(timed_out);
}

}  // namespace
}  // namespace tessaly::gui::testing
