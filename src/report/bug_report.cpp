#include "report/bug_report.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <typeinfo>

#include <cxxabi.h>

#include "platform/error.h"
#include "platform/platform.h"

namespace tessaly::report {
namespace {

// The type's name as the source spells it (GCC's and Clang's ABI).
std::string TypeName(const std::type_info& type) {
  int status = 0;
  char* readable = abi::__cxa_demangle(type.name(), nullptr, nullptr, &status);
  std::string name = status == 0 && readable != nullptr ? readable : type.name();
  std::free(readable);
  return name;
}

std::string TimeText(std::time_t when) {
  // The reporter runs on the UI thread alone, so the shared buffer of
  // localtime is not raced.
  const std::tm* local = std::localtime(&when);
  if (local == nullptr) return std::to_string(static_cast<long long>(when));
  char text[64];
  if (std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S %z", local) == 0) return {};
  return text;
}

// `text` with every line after the first indented to `indent` columns.
std::string Indented(const std::string& text, std::size_t indent) {
  std::string out;
  for (char c : text) {
    out += c;
    if (c == '\n') out.append(indent, ' ');
  }
  return out;
}

void Field(std::ostringstream& out, const char* name, const std::string& value) {
  char label[32];
  std::snprintf(label, sizeof label, "%-18s: ", name);
  out << label << Indented(value, 20) << '\n';
}

// The frame text of one stack line, without the leading "N# ".
std::string FrameText(const std::string& line) {
  const std::size_t mark = line.find("# ");
  return mark == std::string::npos ? line : line.substr(mark + 2);
}

}  // namespace

ExceptionFacts DescribeException(std::exception_ptr error) {
  ExceptionFacts facts;
  try {
    std::rethrow_exception(error);
  } catch (const Error& e) {
    facts.type = TypeName(typeid(e));
    facts.message = e.what();
    facts.details = e.details();
    facts.stack = e.stack();
    facts.raised_here = true;
  } catch (const std::exception& e) {
    facts.type = TypeName(typeid(e));
    facts.message = e.what();
  } catch (...) {
    facts.type = "(an exception that is no std::exception)";
  }
  if (!facts.raised_here) facts.stack = platform::CaptureStack();
  return facts;
}

std::string RaisingPlace(const ExceptionFacts& facts) {
  if (!facts.raised_here) return {};
  // The first frames are the constructors of the exception (its own class
  // and the classes it derives from, tessaly::Error among them).
  std::istringstream lines(facts.stack);
  std::string line;
  while (std::getline(lines, line)) {
    const std::string frame = FrameText(line);
    if (frame.empty()) continue;
    if (frame.find(facts.type + "::") == 0 || frame.find("tessaly::Error::Error") == 0) continue;
    return frame;
  }
  return {};
}

ProcessFacts CollectProcessFacts(const std::string& version) {
  ProcessFacts facts;
  facts.when = std::time(nullptr);
  facts.executable = platform::ExecutablePath();
  facts.version = version;
  facts.os = platform::OsDescription();
  facts.threads = platform::ListThreads();
  facts.modules = platform::ListModules();
  return facts;
}

std::string BuildBugReport(const ProcessFacts& process, const ExceptionFacts& exception) {
  std::ostringstream out;
  out << kReportHeader << '\n';
  Field(out, "date/time", TimeText(process.when));
  Field(out, "executable", process.executable);
  Field(out, "version", process.version);
  Field(out, "operating system", process.os);
  Field(out, "exception class", exception.type);
  Field(out, "exception message", exception.message);
  if (!exception.details.empty()) Field(out, "exception details", exception.details);

  out << '\n'
      << (exception.raised_here ? "call stack where the exception was raised:\n"
                                : "call stack where the exception was caught (the place it was "
                                  "raised is not known):\n")
      << exception.stack;
  if (!exception.stack.empty() && exception.stack.back() != '\n') out << '\n';

  out << "\nthreads:\n";
  for (const platform::ThreadInfo& thread : process.threads) {
    out << "  " << thread.id << ' ' << thread.name;
    if (thread.is_current) out << "  (the thread the exception arose in)";
    out << '\n';
  }

  out << "\nmodules:\n";
  for (const platform::ModuleInfo& module : process.modules) {
    char base[32];
    std::snprintf(base, sizeof base, "0x%016llx", static_cast<unsigned long long>(module.base));
    out << "  " << base << ' ' << module.path << '\n';
  }
  return out.str();
}

bool DuplicateFilter::SeenBefore(const ExceptionFacts& facts) {
  const std::string key = facts.type + '\n' + facts.message + '\n' + RaisingPlace(facts);
  return !seen_.insert(key).second;
}

}  // namespace tessaly::report
