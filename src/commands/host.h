// What the commands need of whoever runs them: the window, the command-line
// tool and the tests each implement this.
#pragma once

#include <optional>
#include <string>

namespace tessaly::commands {

// The image the user chose. `wide` is set where the chooser had the path as
// UTF-16 already (Windows); otherwise the command derives it from `path`.
struct ImageChoice {
  std::string path;
  std::optional<std::wstring> wide;
};

// What a command tells the user. `text` is the sentence itself; `reason` the
// system's short account of the cause, where there is one; `details` what
// only helps a diagnosis (libvmdk's backtrace). A window may show `text` alone.
struct Message {
  std::string text;
  std::string reason;
  std::string details;
};

class Host {
 public:
  virtual ~Host() = default;

  // Runs the file chooser with `filter` ("VMDK|*.VMDK"); nullopt on cancel.
  virtual std::optional<ImageChoice> ChooseImage(const std::string& filter) = 0;
  // A modal message with one OK button; returns once it is closed.
  virtual void ShowMessage(const Message& message) = 0;
  // Whether this host has a clipboard. A host without one gets results
  // through WriteResult instead.
  virtual bool HasClipboard() const = 0;
  virtual void SetClipboardText(const std::string& text) = 0;
  // A command's result for a host without a clipboard (lines joined by CR LF).
  virtual void WriteResult(const std::string& text) = 0;
  virtual void SetProgressRange(int min, int max) = 0;
  virtual void SetProgressPosition(int position) = 0;
  virtual void SetStatusText(const std::string& text) = 0;
  virtual void DebugOutput(const std::string& text) = 0;
};

}  // namespace tessaly::commands
