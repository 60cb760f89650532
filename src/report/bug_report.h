// The crash reporter's parts that need no window system: what an exception
// was, the bug report text, and which exceptions were reported already.
#pragma once

#include <cstdint>
#include <ctime>
#include <exception>
#include <set>
#include <string>
#include <vector>

#include "platform/process_info.h"

namespace tessaly::report {

// What the reporter knows of one exception.
struct ExceptionFacts {
  std::string type;     // the exception's class, demangled
  std::string message;  // what()
  std::string details;  // tessaly::Error::details(); empty for others
  // The call stack where the exception was raised (tessaly::Error captures
  // it); for other exceptions, where it was caught, as raised_here tells.
  std::string stack;
  bool raised_here = false;
};

// Describes `error`, which must not be null. For an exception Tessaly did not
// raise itself, the stack is captured now, so call this where it was caught.
ExceptionFacts DescribeException(std::exception_ptr error);

// The frame that raised the exception: the first frame of the stack below the
// exception's own constructor, without its frame number. Empty when the stack
// holds no such frame.
std::string RaisingPlace(const ExceptionFacts& facts);

// Everything a bug report holds beside the exception.
struct ProcessFacts {
  std::time_t when = 0;
  std::string executable;
  std::string version;
  std::string os;
  std::vector<platform::ThreadInfo> threads;
  std::vector<platform::ModuleInfo> modules;
};

// The facts of the running process, now.
ProcessFacts CollectProcessFacts(const std::string& version);

// The bug report as text, lines ending in LF. It starts with kReportHeader.
std::string BuildBugReport(const ProcessFacts& process, const ExceptionFacts& exception);
inline constexpr char kReportHeader[] = "==== Tessaly bug report ====";

// Remembers the exceptions reported so far; one of the same type, message
// and raising place counts as a duplicate.
class DuplicateFilter {
 public:
  // True when an equal exception was seen before; remembers this one.
  bool SeenBefore(const ExceptionFacts& facts);

 private:
  std::set<std::string> seen_;
};

}  // namespace tessaly::report
