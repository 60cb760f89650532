// The two buttons on real images through the real libvmdk: what the user
// sees in the message box, on the clipboard, in the bars and on disk, and
// what reaches the crash reporter.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <windows.h>
// Must follow windows.h.
#include <commctrl.h>

#include <regex>
#include <thread>

#include "platform/platform.h"
#include "window_fixture.h"

namespace tessaly::gui::testing {
namespace {

using tessaly::testing::Images;
using tessaly::testing::ReadFile;
using tessaly::testing::ScratchFolder;
using ::testing::HasSubstr;
using ::testing::StartsWith;

constexpr char kGibReport[] = "1073741824 Bytes\r\n1048576 KBytes\r\n1024 MBytes";

using WindowCommands = WindowTest;

TEST_F(WindowCommands, SizeShowsTheReportThenPutsItOnTheClipboard) {
  SetClipboard("held before");
  dialogs.files = {Images() + "gib.vmdk"};
  Click(form.Button1);

  ASSERT_EQ(dialogs.requests.size(), 1u);
  const FileRequest& request = dialogs.requests[0];
  EXPECT_EQ(request.owner, form.Handle);
  EXPECT_EQ(request.filter, std::string("VMDK\0*.VMDK\0", 12));
  EXPECT_EQ(request.index, 1u);
  EXPECT_EQ(request.buffer, 260u);
  EXPECT_NE(request.flags & OFN_HIDEREADONLY, 0u);
  EXPECT_EQ(request.flags & (OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST), 0u)
      << "a name that does not exist must be accepted";
  EXPECT_EQ(request.filled_in, "");

  ASSERT_EQ(dialogs.messages.size(), 1u);
  const ShownMessage& shown = dialogs.messages[0];
  EXPECT_EQ(shown.text, std::string(kGibReport) + "\r\n\r\ndata pasted in clipboard");
  EXPECT_EQ(shown.clipboard, "held before") << "the clipboard changed before the box closed";
  EXPECT_EQ(shown.type, static_cast<UINT>(MB_OK | MB_TASKMODAL)) << "one OK button, no icon";
  EXPECT_EQ(shown.owner, nullptr) << "centred on the screen, not on the window";
  EXPECT_EQ(shown.caption, "gui_win32_test");  // this program's name as an application title
  EXPECT_EQ(ClipboardText(), kGibReport);
  EXPECT_EQ(CurrentLib, nullptr);
}

TEST_F(WindowCommands, AFailedOrCancelledSizeReportLeavesTheClipboardAlone) {
  SetClipboard("held before");
  dialogs.files = {Images() + "not-an-image.vmdk", Images() + "no-such-file.vmdk", ""};
  for (int i = 0; i < 3; ++i) Click(form.Button1);
  EXPECT_EQ(dialogs.MessageTexts(), (std::vector<std::string>{"libvmdk_get_media_size failed",
                                                              "libvmdk_get_media_size failed"}));
  EXPECT_EQ(ClipboardText(), "held before");
  EXPECT_TRUE(actions.dialogs.empty());
}

TEST_F(WindowCommands, TheDialogShowsTheLastAcceptedFileNameAgain) {
  const std::string image = Images() + "gib.vmdk";
  dialogs.files = {image, "", Images() + std::string(300, 'x') + ".vmdk"};
  for (int i = 0; i < 4; ++i) Click(form.Button1);
  ASSERT_EQ(dialogs.requests.size(), 4u);
  EXPECT_EQ(dialogs.requests[1].filled_in, image);
  EXPECT_EQ(dialogs.requests[2].filled_in, image) << "a cancel forgot the name";
  EXPECT_EQ(dialogs.requests[3].filled_in, image) << "a failed run changed the name";
  EXPECT_EQ(dialogs.messages.size(), 1u);
}

// Records the bar's position each time it is painted.
class PaintWatch {
 public:
  explicit PaintWatch(HWND bar) : bar_(bar) {
    SetWindowSubclass(bar, Proc, 1, reinterpret_cast<DWORD_PTR>(this));
  }
  ~PaintWatch() { RemoveWindowSubclass(bar_, Proc, 1); }
  std::vector<int> painted;

 private:
  static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR,
                               DWORD_PTR data) {
    if (message == WM_PAINT) {
      reinterpret_cast<PaintWatch*>(data)->painted.push_back(
          static_cast<int>(SendMessageA(window, PBM_GETPOS, 0, 0)));
    }
    return DefSubclassProc(window, message, wparam, lparam);
  }
  HWND bar_;
};

TEST_F(WindowCommands, ConvertWritesTheRawImageBesideTheSource) {
  const std::string folder = ScratchFolder("window_convert");
  const std::string image = folder + "disk.vmdk";
  tessaly::testing::WriteFile(image, ReadFile(Images() + "monolithicSparse/disk.vmdk"));
  tessaly::testing::WriteFile(folder + "disk.dd", "an older target");
  dialogs.files = {image};
  form.Show(SW_SHOWNORMAL);  // painted at all
  PumpMessages();
  PaintWatch watch(form.pb_img);

  // Called directly, as the button's handler: no message loop runs until it
  // returns, so every paint seen came from the copy loop itself.
  form.Button2Click();

  EXPECT_TRUE(dialogs.messages.empty());
  EXPECT_TRUE(ReadFile(folder + "disk.dd") == ReadFile(Images() + "monolithicSparse/expected.raw"))
      << "bytes differ from qemu-img's";
  const auto max = static_cast<int>(SendMessageA(form.pb_img, PBM_GETRANGE, FALSE, 0));
  EXPECT_GT(max, 0);
  EXPECT_EQ(SendMessageA(form.pb_img, PBM_GETPOS, 0, 0), max);
  ASSERT_GT(watch.painted.size(), 2u) << "the bar was not repainted while copying";
  EXPECT_EQ(watch.painted.back(), max) << "the full bar was never painted";

  // In simple mode the status bar answers its simple text for part 0.
  char status[64] = "";
  SendMessageA(form.StatusBar1, SB_GETTEXTA, 0, reinterpret_cast<LPARAM>(status));
  EXPECT_TRUE(std::regex_match(status, std::regex("done in [0-9]+ms"))) << status;
  EXPECT_EQ(CurrentLib, nullptr);
}

// Holds the clipboard open for a window of its own on a thread of its own
// while it lives, as another program would.
class ClipboardHolder {
 public:
  ClipboardHolder() {
    thread_ = std::thread([this] {
      HWND window = CreateWindowExA(0, "STATIC", "holder", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                    nullptr, nullptr);
      opened_ = OpenClipboard(window) != 0;
      SetEvent(ready_);
      WaitForSingleObject(release_, INFINITE);
      if (opened_) CloseClipboard();
      DestroyWindow(window);
    });
    WaitForSingleObject(ready_, INFINITE);
  }
  ~ClipboardHolder() {
    SetEvent(release_);
    thread_.join();
    CloseHandle(ready_);
    CloseHandle(release_);
  }
  bool opened() const { return opened_; }

 private:
  HANDLE ready_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE release_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  bool opened_ = false;
  std::thread thread_;
};

TEST_F(WindowCommands, AHeldClipboardIsAnErrorForTheReporterAndTheWindowStaysUsable) {
  SetClipboard("held before");
  dialogs.files = {Images() + "gib.vmdk", Images() + "gib.vmdk"};
  {
    ClipboardHolder holder;
    ASSERT_TRUE(holder.opened());
    Click(form.Button1);
  }
  ASSERT_EQ(actions.dialogs.size(), 1u);
  EXPECT_EQ(actions.dialogs[0].message, "Cannot open clipboard");
  EXPECT_EQ(ClipboardText(), "held before");
  EXPECT_EQ(CurrentLib, nullptr);

  // "continue application": the window takes the next command.
  EXPECT_TRUE(IsWindowEnabled(form.Handle));
  Click(form.Button1);
  EXPECT_EQ(dialogs.messages.size(), 2u);
  EXPECT_EQ(ClipboardText(), kGibReport);
  EXPECT_EQ(actions.dialogs.size(), 1u);
}

TEST_F(WindowCommands, WithoutTheLibraryTheReporterShowsTheErrorOnceInFull) {
  form.library_folder = ScratchFolder("no_library");
  dialogs.files = {Images() + "gib.vmdk", Images() + "gib.vmdk"};
  Click(form.Button1);

  ASSERT_EQ(actions.dialogs.size(), 1u);
  const ShownReporter& shown = actions.dialogs[0];
  EXPECT_EQ(shown.title, "gui_win32_test.exe");
  EXPECT_EQ(shown.heading, "An error occurred in the application.");
  EXPECT_EQ(shown.message, "could not find libvmdk.dll");
  EXPECT_EQ(shown.buttons,
            (std::vector<std::string>{"send bug report", "show bug report", "continue application",
                                      "restart application", "close application"}));
  EXPECT_FALSE(shown.report_visible_at_start);
  EXPECT_TRUE(shown.report_visible_after_show);
  EXPECT_THAT(shown.report, StartsWith("==== Tessaly bug report ====\r\n"));
  EXPECT_THAT(shown.report, HasSubstr("could not find libvmdk.dll"));
  EXPECT_THAT(shown.report, HasSubstr("gui_win32_test.exe"));  // the modules, the executable
  EXPECT_TRUE(dialogs.messages.empty());
  EXPECT_EQ(CurrentLib, nullptr);

  // The same error again: said, not reported anew.
  Click(form.Button1);
  EXPECT_EQ(actions.dialogs.size(), 1u);
  ASSERT_EQ(actions.messages.size(), 1u);
  EXPECT_THAT(actions.messages[0], StartsWith("gui_win32_test.exe: An error occurred in the "
                                              "application.\r\n\r\ncould not find libvmdk.dll"));
  EXPECT_THAT(actions.messages[0], HasSubstr("reported before"));
}

TEST_F(WindowCommands, TheReportersButtonsDoWhatTheySay) {
  struct Case {
    int button;
    bool works;  // the mail program or the new process starts
    int mails;
    int starts;
    std::vector<int> quits;
    const char* message;  // what a plain message says, "" for none
  };
  const Case cases[] = {
      {CrashDialog::kContinueId, true, 0, 0, {}, ""},
      {CrashDialog::kSendId, true, 1, 0, {}, ""},
      {CrashDialog::kSendId, false, 1, 0, {}, "No mail program could be started."},
      {CrashDialog::kRestartId, true, 0, 1, {0}, ""},
      {CrashDialog::kRestartId, false, 0, 1, {}, "The application could not be started again."},
      {CrashDialog::kCloseId, true, 0, 0, {1}, ""},
  };
  form.library_folder = ScratchFolder("no_library");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.button);
    ScriptedActions scripted;
    scripted.choices = {c.button};
    scripted.mail_opens = scripted.start_succeeds = c.works;
    Application->reporter() = CrashReporter(scripted);
    dialogs.files = {Images() + "gib.vmdk"};
    Click(form.Button1);

    ASSERT_EQ(scripted.dialogs.size(), 1u);
    EXPECT_EQ(static_cast<int>(scripted.mails.size()), c.mails);
    EXPECT_EQ(scripted.starts, c.starts);
    EXPECT_EQ(scripted.quits, c.quits);
    if (*c.message == '\0') {
      EXPECT_TRUE(scripted.messages.empty());
    } else {
      ASSERT_EQ(scripted.messages.size(), 1u);
      EXPECT_THAT(scripted.messages[0], HasSubstr(c.message));
    }
    for (const std::string& url : scripted.mails) {
      EXPECT_THAT(url, StartsWith("mailto:?subject=bug%20report&body=please%20find%20the%20bug%"
                                  "20report%20attached%0D%0A%0D%0A%3D%3D%3D%3D%20Tessaly%20bug"));
      EXPECT_THAT(url, HasSubstr("could%20not%20find%20libvmdk.dll"));
    }
    EXPECT_TRUE(IsWindowEnabled(form.Handle));
  }
}

}  // namespace
}  // namespace tessaly::gui::testing
