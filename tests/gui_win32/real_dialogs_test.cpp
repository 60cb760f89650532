// The system's own open dialog and message box, as the window runs them,
// answered by a "user" who acts on whatever dialog is on the screen: the
// last name comes back filled in, a name that does not exist is accepted, a
// cancel runs nothing, and the message box has one OK button, a centred
// place and the whole application waiting for it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>

#include "window_fixture.h"

namespace tessaly::gui::testing {
namespace {

using tessaly::testing::Images;
using tessaly::testing::ScratchFolder;

// The control that holds the open dialog's file name.
constexpr int kFileNameBox = 0x47c;

// Acts on the dialogs of this thread from a timer, which runs inside their
// modal loops: each new dialog is recorded and answered with the next step.
class ScreenUser {
 public:
  enum class Kind { kFileDialog, kMessageBox };
  struct Step {
    Kind kind;
    std::string type;  // what is typed as the file name
    int button;        // IDOK or IDCANCEL
  };
  struct Seen {
    Kind kind;
    std::string title;
    std::string filled_in;             // the open dialog's file name at the start
    std::string text;                  // the message box's text
    std::vector<std::string> buttons;  // the message box's buttons
    bool window_enabled = true;        // the main window, while the dialog was up
    bool centred = false;
  };

  ScreenUser(HWND main_window, std::vector<Step> steps)
      : main_window_(main_window), steps_(std::move(steps)) {
    active_ = this;
    timer_ = SetTimer(nullptr, 0, 50, Tick);
  }
  ~ScreenUser() {
    KillTimer(nullptr, timer_);
    active_ = nullptr;
  }

  std::vector<Seen> seen;
  // Dialogs that came when no step was left, or stayed up 3 s after their
  // answer (a dialog refusing the name, say): they are cancelled.
  int unexpected = 0;

 private:
  static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
    if (active_ == nullptr) return;
    EnumThreadWindows(GetCurrentThreadId(), OnWindow, reinterpret_cast<LPARAM>(active_));
    active_->CancelStuck();
  }
  void CancelStuck() {
    for (auto& [dialog, when] : answered_) {
      if (when != 0 && IsWindow(dialog) && IsWindowVisible(dialog) &&
          GetTickCount() - when > 3000) {
        when = 0;
        ++unexpected;
        PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
      }
    }
  }
  static BOOL CALLBACK OnWindow(HWND window, LPARAM self) {
    if (ClassOf(window) == "#32770" && IsWindowVisible(window)) {
      reinterpret_cast<ScreenUser*>(self)->Answer(window);
    }
    return TRUE;
  }

  void Answer(HWND dialog) {
    if (!answered_.emplace(dialog, GetTickCount()).second) return;
    if (next_ == steps_.size()) {
      ++unexpected;
      PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
      return;
    }
    const Step& step = steps_[next_++];
    Seen shown;
    shown.kind =
        GetDlgItem(dialog, kFileNameBox) != nullptr ? Kind::kFileDialog : Kind::kMessageBox;
    shown.title = WindowText(dialog);
    shown.window_enabled = IsWindowEnabled(main_window_) != 0;
    if (shown.kind == Kind::kFileDialog) {
      shown.filled_in = WindowText(GetDlgItem(dialog, kFileNameBox));
      if (!step.type.empty()) SetDlgItemTextA(dialog, kFileNameBox, step.type.c_str());
    } else {
      for (HWND child : ChildrenOf(dialog)) {
        const std::string kind = ClassOf(child);
        if (kind == "Button" && IsWindowVisible(child)) shown.buttons.push_back(WindowText(child));
        if (kind == "Static" && GetWindowTextLengthA(child) > 0) shown.text = WindowText(child);
      }
      RECT box{};
      GetWindowRect(dialog, &box);
      const long dx = (box.left + box.right) / 2 - GetSystemMetrics(SM_CXSCREEN) / 2;
      const long dy = (box.top + box.bottom) / 2 - GetSystemMetrics(SM_CYSCREEN) / 2;
      shown.centred = std::labs(dx) <= 1 && std::labs(dy) <= 1;
    }
    seen.push_back(shown);
    PostMessageA(dialog, WM_COMMAND, step.button, 0);
  }

  static ScreenUser* active_;
  HWND main_window_;
  std::vector<Step> steps_;
  std::size_t next_ = 0;
  std::map<HWND, DWORD> answered_;  // when each was answered; 0 once cancelled
  UINT_PTR timer_ = 0;
};
ScreenUser* ScreenUser::active_ = nullptr;

using RealDialogs = WindowTest;
using Kind = ScreenUser::Kind;

TEST_F(RealDialogs, SizeThroughTheSystemsOpenDialogAndMessageBox) {
  ModalDialogs system_dialogs;
  form.SetDialogs(system_dialogs);
  form.Show(SW_SHOWNORMAL);
  PumpMessages();
  SetClipboard("held before");
  const std::string nowhere = ScratchFolder("real_dialogs") + "no-folder\\no-file.vmdk";

  ScreenUser user(form.Handle, {{Kind::kFileDialog, Images() + "gib.vmdk", IDOK},
                                {Kind::kMessageBox, "", IDOK},
                                {Kind::kFileDialog, nowhere, IDOK},
                                {Kind::kMessageBox, "", IDOK},
                                {Kind::kFileDialog, "", IDCANCEL}});
  for (int i = 0; i < 3; ++i) Click(form.Button1);

  EXPECT_EQ(user.unexpected, 0);
  ASSERT_EQ(user.seen.size(), 5u);
  std::vector<Kind> kinds;
  for (const auto& s : user.seen) kinds.push_back(s.kind);
  EXPECT_EQ(kinds, (std::vector<Kind>{Kind::kFileDialog, Kind::kMessageBox, Kind::kFileDialog,
                                      Kind::kMessageBox, Kind::kFileDialog}));

  EXPECT_EQ(user.seen[0].filled_in, "");
  EXPECT_EQ(user.seen[2].filled_in, "gib.vmdk") << "the last name is not filled in again";
  EXPECT_EQ(user.seen[4].filled_in, "no-file.vmdk") << "a name that does not exist was refused";
  for (const auto& s : user.seen) {
    EXPECT_FALSE(s.window_enabled) << "the window took input while a dialog was up";
  }

  const ScreenUser::Seen& report = user.seen[1];
  EXPECT_EQ(report.title, "gui_win32_test");
  EXPECT_EQ(report.text,
            "1073741824 Bytes\r\n1048576 KBytes\r\n1024 MBytes\r\n\r\ndata pasted in "
            "clipboard");
  EXPECT_EQ(report.buttons, std::vector<std::string>{"OK"});
  EXPECT_TRUE(report.centred);
  EXPECT_EQ(user.seen[3].text, "libvmdk_get_media_size failed");
  EXPECT_EQ(user.seen[3].buttons, std::vector<std::string>{"OK"});

  EXPECT_EQ(ClipboardText(), "1073741824 Bytes\r\n1048576 KBytes\r\n1024 MBytes");
  EXPECT_TRUE(IsWindowEnabled(form.Handle));
  EXPECT_EQ(CurrentLib, nullptr);
}

}  // namespace
}  // namespace tessaly::gui::testing
