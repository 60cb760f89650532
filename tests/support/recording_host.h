// A host for tests: answers the file chooser from a script and records every
// call in order.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "commands/host.h"

namespace tessaly::testing {

class RecordingHost : public commands::Host {
 public:
  std::optional<commands::ImageChoice> choice;  // nullopt: the user cancels
  bool has_clipboard = true;

  std::vector<std::string> events;  // "kind:text", in call order
  std::vector<commands::Message> messages;
  std::string clipboard = "untouched";
  int range_max = -1;
  int position = -1;
  std::vector<int> positions;
  std::string status;

  std::optional<commands::ImageChoice> ChooseImage(const std::string& filter) override {
    events.push_back("choose:" + filter);
    return choice;
  }
  void ShowMessage(const commands::Message& message) override {
    events.push_back("message:" + message.text);
    messages.push_back(message);
  }
  bool HasClipboard() const override { return has_clipboard; }
  void SetClipboardText(const std::string& text) override {
    events.push_back("clipboard:" + text);
    clipboard = text;
  }
  void WriteResult(const std::string& text) override { events.push_back("result:" + text); }
  void SetProgressRange(int min, int max) override {
    events.push_back("range:" + std::to_string(min) + "-" + std::to_string(max));
    range_max = max;
  }
  void SetProgressPosition(int value) override {
    position = value;
    positions.push_back(value);
  }
  void SetStatusText(const std::string& text) override {
    events.push_back("status:" + text);
    status = text;
  }
  void DebugOutput(const std::string& text) override { events.push_back("debug:" + text); }

  // Just the message texts.
  std::vector<std::string> MessageTexts() const {
    std::vector<std::string> texts;
    for (const auto& m : messages) texts.push_back(m.text);
    return texts;
  }
};

}  // namespace tessaly::testing
