// The exception Tessaly raises for failures a person should read.
#pragma once

#include <stdexcept>
#include <string>

namespace tessaly {

// what() is the sentence for the user. details() holds what only helps a
// diagnosis (libvmdk's backtrace, the system's reason); stack() is the call
// stack where the error was raised, for the crash report.
class Error : public std::runtime_error {
 public:
  explicit Error(const std::string& message, std::string details = {});

  const std::string& details() const noexcept { return details_; }
  const std::string& stack() const noexcept { return stack_; }

 private:
  std::string details_;
  std::string stack_;
};

}  // namespace tessaly
