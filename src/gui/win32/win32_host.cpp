#include "gui/win32/win32_host.h"

#include <commctrl.h>

#include <cstring>
#include <utility>
#include <vector>

#include "platform/error.h"
#include "platform/platform.h"

namespace tessaly::gui {
namespace {

// The clipboard, open for this window while the object lives.
class OpenClipboardScope {
 public:
  explicit OpenClipboardScope(HWND owner) : open_(OpenClipboard(owner) != 0) {}
  ~OpenClipboardScope() {
    if (open_) CloseClipboard();
  }
  OpenClipboardScope(const OpenClipboardScope&) = delete;
  OpenClipboardScope& operator=(const OpenClipboardScope&) = delete;
  bool is_open() const { return open_; }

 private:
  bool open_;
};

// Global memory for the clipboard; freed unless the clipboard took it.
class GlobalBlock {
 public:
  explicit GlobalBlock(std::size_t size) : memory_(GlobalAlloc(GMEM_MOVEABLE, size)) {}
  ~GlobalBlock() {
    if (memory_ != nullptr) GlobalFree(memory_);
  }
  GlobalBlock(const GlobalBlock&) = delete;
  GlobalBlock& operator=(const GlobalBlock&) = delete;
  HGLOBAL get() const { return memory_; }
  HGLOBAL release() { return std::exchange(memory_, nullptr); }

 private:
  HGLOBAL memory_;
};

std::string LastErrorText() { return "system error " + std::to_string(GetLastError()); }

}  // namespace

bool ModalDialogs::ChooseFile(OPENFILENAMEA& request) { return GetOpenFileNameA(&request) != 0; }

void ModalDialogs::ShowMessage(HWND owner, const std::string& text, const std::string& caption,
                               UINT type) {
  MessageBoxA(owner, text.c_str(), caption.c_str(), type);
}

std::string DialogFilter(const std::string& filter) {
  std::string result = filter;
  for (char& c : result) {
    if (c == '|') c = '\0';
  }
  // Each piece ends in a null, and the list in a second one (which
  // c_str() adds).
  result += '\0';
  return result;
}

std::string ApplicationTitle(const std::string& executable_path) {
  const std::string name = executable_path.substr(platform::FolderOf(executable_path).size());
  std::string title = name.substr(0, name.find('.'));
  if (title.size() > 1) {
    CharLowerBuffA(title.data() + 1, static_cast<DWORD>(title.size() - 1));
  }
  return title;
}

bool TOpenDialog::Execute(HWND owner, UserDialogs& dialogs) {
  const std::string filters = DialogFilter(Filter);
  std::vector<char> file(kFileNameBuffer, '\0');
  FileName.copy(file.data(), file.size() - 1);

  OPENFILENAMEA request{};
  request.lStructSize = sizeof request;
  request.hwndOwner = owner;
  request.lpstrFilter = filters.c_str();
  request.nFilterIndex = 1;
  request.lpstrFile = file.data();
  request.nMaxFile = kFileNameBuffer;
  request.Flags = Options;
  if (!dialogs.ChooseFile(request)) return false;
  file.back() = '\0';
  if (file[0] == '\0') return false;
  FileName = file.data();
  return true;
}

Win32Host::Win32Host(TOpenDialog& open_dialog, HWND owner, HWND progress, HWND status,
                     UserDialogs& dialogs)
    : open_dialog_(open_dialog),
      owner_(owner),
      progress_(progress),
      status_(status),
      dialogs_(&dialogs) {}

std::optional<commands::ImageChoice> Win32Host::ChooseImage(const std::string& filter) {
  open_dialog_.Filter = filter;
  if (!open_dialog_.Execute(owner_, *dialogs_)) return std::nullopt;
  return commands::ImageChoice{open_dialog_.FileName, std::nullopt};
}

void Win32Host::ShowMessage(const commands::Message& message) {
  std::string text = message.text;
  if (!message.reason.empty()) text += "\r\n\r\n" + message.reason;
  dialogs_->ShowMessage(nullptr, text, ApplicationTitle(platform::ExecutablePath()),
                        kMessageBoxType);
}

void Win32Host::SetClipboardText(const std::string& text) {
  OpenClipboardScope clipboard(owner_);
  if (!clipboard.is_open()) throw Error("Cannot open clipboard", LastErrorText());
  if (!EmptyClipboard()) throw Error("Cannot empty the clipboard", LastErrorText());

  GlobalBlock block(text.size() + 1);
  if (block.get() == nullptr) throw Error("Not enough memory for the clipboard", LastErrorText());
  void* bytes = GlobalLock(block.get());
  if (bytes == nullptr) throw Error("Not enough memory for the clipboard", LastErrorText());
  std::memcpy(bytes, text.c_str(), text.size() + 1);
  GlobalUnlock(block.get());
  if (SetClipboardData(CF_TEXT, block.get()) == nullptr) {
    throw Error("Cannot put the text on the clipboard", LastErrorText());
  }
  block.release();  // the clipboard owns it now
}

void Win32Host::WriteResult(const std::string& text) { ShowMessage({text, {}, {}}); }

void Win32Host::SetProgressRange(int min, int max) {
  SendMessageA(progress_, PBM_SETRANGE32, static_cast<WPARAM>(min), static_cast<LPARAM>(max));
}

void Win32Host::SetProgressPosition(int position) {
  // The copy loop does not return to the message loop: paint the bar now.
  SendMessageA(progress_, PBM_SETPOS, static_cast<WPARAM>(position), 0);
  UpdateWindow(progress_);
}

void Win32Host::SetStatusText(const std::string& text) {
  SendMessageA(status_, SB_SETTEXTA, SB_SIMPLEID, reinterpret_cast<LPARAM>(text.c_str()));
  UpdateWindow(status_);
}

void Win32Host::DebugOutput(const std::string& text) { platform::DebugOutput(text); }

}  // namespace tessaly::gui
