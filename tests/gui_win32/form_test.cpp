// The window as the form describes it: its frame, its controls' kinds,
// places, texts, fonts and first state, and how it behaves when resized.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <windows.h>
// Must follow windows.h.
#include <commctrl.h>

#include "window_fixture.h"

namespace tessaly::gui::testing {
namespace {

using Form = WindowTest;

TEST_F(Form, IsASizeableToolWindowWithItsClientAreaInPlace) {
  form.Show(SW_SHOWNORMAL);
  PumpMessages();
  EXPECT_TRUE(IsWindowVisible(form.Handle));
  EXPECT_EQ(WindowText(form.Handle), "Tessaly 0.1");
  EXPECT_EQ(ClassOf(form.Handle), "TForm1");
  EXPECT_EQ(ClientOf(form.Handle), (Place{0, 0, 496, 98}));
  RECT frame{};
  GetWindowRect(form.Handle, &frame);
  EXPECT_EQ(frame.left, 465);
  EXPECT_EQ(frame.top, 155);

  const auto style = static_cast<DWORD>(GetWindowLongPtrA(form.Handle, GWL_STYLE));
  const auto ex_style = static_cast<DWORD>(GetWindowLongPtrA(form.Handle, GWL_EXSTYLE));
  EXPECT_NE(ex_style & WS_EX_TOOLWINDOW, 0u);
  EXPECT_NE(style & WS_THICKFRAME, 0u) << "not sizeable";
  EXPECT_NE(style & WS_SYSMENU, 0u);
  EXPECT_EQ(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX), 0u);
  EXPECT_EQ(GetClassLongPtrA(form.Handle, GCLP_HBRBACKGROUND), COLOR_BTNFACE + 1);

  // The group box shows the face colour between its controls, not
  // whatever was on the screen before.
  UpdateWindow(form.Handle);
  HDC dc = GetDC(form.GroupBox1);
  for (const POINT at : {POINT{200, 68}, POINT{30, 20}, POINT{480, 65}}) {
    EXPECT_EQ(GetPixel(dc, at.x, at.y), GetSysColor(COLOR_BTNFACE)) << at.x << "," << at.y;
  }
  ReleaseDC(form.GroupBox1, dc);
}

TEST_F(Form, HoldsItsControlsInTheGroupBoxInTabOrder) {
  EXPECT_EQ(ChildrenOf(form.Handle), std::vector<HWND>{form.GroupBox1});
  EXPECT_EQ(ChildrenOf(form.GroupBox1),
            (std::vector<HWND>{form.Button1, form.Button2, form.pb_img, form.StatusBar1}));

  struct Row {
    HWND control;
    const char* kind;
    const char* text;
    Place place;
  };
  const Row rows[] = {
      {form.GroupBox1, "Button", "", {0, 0, 496, 98}},
      {form.Button1, "Button", "size", {328, 32, 73, 25}},
      {form.Button2, "Button", "Convert", {408, 32, 75, 25}},
      {form.pb_img, "msctls_progress32", "", {8, 32, 313, 25}},
      {form.StatusBar1, "msctls_statusbar32", "", {2, 77, 492, 19}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.kind + std::string(" ") + row.text);
    EXPECT_EQ(ClassOf(row.control), row.kind);
    EXPECT_EQ(WindowText(row.control), row.text);
    EXPECT_EQ(PlaceOf(row.control), row.place);
    EXPECT_TRUE(HasVisibleStyle(row.control));

    LOGFONTA font{};
    ASSERT_GT(GetObjectA(reinterpret_cast<HFONT>(SendMessageA(row.control, WM_GETFONT, 0, 0)),
                         sizeof font, &font),
              0);
    EXPECT_STREQ(font.lfFaceName, "MS Sans Serif");
    EXPECT_EQ(font.lfHeight, -11);
    EXPECT_EQ(font.lfWeight, FW_NORMAL);
    EXPECT_EQ(font.lfCharSet, DEFAULT_CHARSET);
    EXPECT_FALSE(font.lfItalic || font.lfUnderline || font.lfStrikeOut);
  }
  EXPECT_EQ(GetWindowLongPtrA(form.GroupBox1, GWL_STYLE) & BS_TYPEMASK, BS_GROUPBOX);
  EXPECT_EQ(GetNextDlgTabItem(form.Handle, form.Button1, FALSE), form.Button2);
  EXPECT_EQ(GetNextDlgTabItem(form.Handle, form.Button2, FALSE), form.Button1);
}

TEST_F(Form, StartsWithAnEmptyBarAndAnEmptySimpleStatusLine) {
  EXPECT_EQ(SendMessageA(form.pb_img, PBM_GETRANGE, TRUE, 0), 0);
  EXPECT_EQ(SendMessageA(form.pb_img, PBM_GETRANGE, FALSE, 0), 100);
  EXPECT_EQ(SendMessageA(form.pb_img, PBM_GETPOS, 0, 0), 0);
  EXPECT_EQ(SendMessageA(form.pb_img, PBM_SETSTEP, 10, 0), 10);  // answers the step it had

  EXPECT_TRUE(SendMessageA(form.StatusBar1, SB_ISSIMPLE, 0, 0));
  // In simple mode the status bar answers its simple text for part 0.
  EXPECT_EQ(LOWORD(SendMessageA(form.StatusBar1, SB_GETTEXTLENGTHA, 0, 0)), 0);
}

// Gives the window a client area of `width` x `height`.
void ResizeClient(HWND window, int width, int height) {
  RECT frame{0, 0, width, height};
  AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongPtrA(window, GWL_STYLE)), FALSE,
                     static_cast<DWORD>(GetWindowLongPtrA(window, GWL_EXSTYLE)));
  SetWindowPos(window, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
               SWP_NOMOVE | SWP_NOZORDER);
  PumpMessages();
}

TEST_F(Form, ResizingStretchesTheGroupBoxAndKeepsTheStatusBarAtItsFoot) {
  struct Size {
    long width, height;
  };
  for (const Size size : {Size{700, 200}, Size{300, 60}, Size{496, 98}}) {
    SCOPED_TRACE(std::to_string(size.width) + "x" + std::to_string(size.height));
    ResizeClient(form.Handle, size.width, size.height);
    ASSERT_EQ(ClientOf(form.Handle), (Place{0, 0, size.width, size.height}));
    EXPECT_EQ(PlaceOf(form.GroupBox1), (Place{0, 0, size.width, size.height}));
    EXPECT_EQ(PlaceOf(form.StatusBar1), (Place{2, size.height - 21, size.width - 4, 19}));
    EXPECT_EQ(PlaceOf(form.Button1), (Place{328, 32, 73, 25}));
    EXPECT_EQ(PlaceOf(form.Button2), (Place{408, 32, 75, 25}));
    EXPECT_EQ(PlaceOf(form.pb_img), (Place{8, 32, 313, 25}));
  }
}

TEST(FormText, TheApplicationTitleIsTheFileNameCutAtItsFirstDot) {
  EXPECT_EQ(ApplicationTitle("C:\\Tools\\TESSALY.EXE"), "Tessaly");
  EXPECT_EQ(ApplicationTitle("Z:\\a.b\\my.tool.exe"), "my");  // folders' dots do not count
  EXPECT_EQ(ApplicationTitle("D:Tessaly.exe"), "Tessaly");
  EXPECT_EQ(ApplicationTitle("C:\\x\\\xC4RGER.exe"), "\xC4rger");  // first character kept as is
  EXPECT_EQ(ApplicationTitle("C:\\x\\t\xC4ST.exe"), "t\xE4st");    // in the ANSI code page
}

}  // namespace
}  // namespace tessaly::gui::testing
