// The crash reporter's parts without a window: the report text, the report
// file, duplicate detection, the mailto: URL and the process facts.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>

#include "platform/error.h"
#include "platform/platform.h"
#include "platform/process_info.h"
#include "report/bug_report.h"
#include "report/mailto.h"
#include "report/report_file.h"
#include "report/settings.h"
#include "support/test_env.h"

namespace tessaly::report {
namespace {

using ::testing::AllOf;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

// A report of about `size` bytes whose text names it.
std::string Report(const std::string& name, std::size_t size) {
  std::string text = std::string(kReportHeader) + "\n" + name + "\n";
  text.append(size > text.size() + 1 ? size - text.size() - 1 : 0, 'x');
  return text + "\n";
}

// The names of the reports in `content`, oldest first; "?" for a report that
// is not whole.
std::vector<std::string> ReportNames(const std::string& content) {
  std::vector<std::string> names;
  const std::string header = std::string(kReportHeader) + "\n";
  std::size_t at = 0;
  while (at < content.size()) {
    if (content.compare(at, header.size(), header) != 0) {
      names.push_back("?");
      break;
    }
    const std::size_t name_end = content.find('\n', at + header.size());
    names.push_back(content.substr(at + header.size(), name_end - at - header.size()));
    const std::size_t next = content.find(header, name_end);
    at = next == std::string::npos ? content.size() : next;
  }
  return names;
}

TEST(ReportFile, KeepsTheNewestWholeReportsWithinTheLimit) {
  struct Case {
    const char* what;
    std::string old_content;
    std::string report;
    std::size_t limit;
    std::vector<std::string> names;
  };
  const std::vector<Case> cases = {
      {"first report", "", Report("a", 100), 1000, {"a"}},
      {"appended after the old ones",
       Report("a", 100) + Report("b", 100),
       Report("c", 100),
       1000,
       {"a", "b", "c"}},
      {"exactly at the limit", Report("a", 500), Report("b", 500), 1000, {"a", "b"}},
      {"one byte over drops the oldest",
       Report("a", 501) + Report("b", 200),
       Report("c", 300),
       1000,
       {"b", "c"}},
      {"drops as many as needed",
       Report("a", 400) + Report("b", 400) + Report("c", 100),
       Report("d", 800),
       1000,
       {"c", "d"}},
      {"old text that is no report goes first",
       "some foreign text\n" + Report("a", 300),
       Report("b", 700),
       1000,
       {"a", "b"}},
      {"nothing old fits", Report("a", 300), Report("b", 900), 1000, {"b"}},
  };
  for (const Case& c : cases) {
    const std::string content = AppendedContent(c.old_content, c.report, c.limit);
    EXPECT_LE(content.size(), c.limit) << c.what;
    EXPECT_EQ(ReportNames(content), c.names) << c.what;
    EXPECT_THAT(content, EndsWith(c.report)) << c.what;
  }
}

TEST(ReportFile, AReportLongerThanTheLimitKeepsItsBeginning) {
  const std::string report = Report("huge", 5000);
  EXPECT_EQ(AppendedContent(Report("a", 100), report, 1000), report.substr(0, 1000));
}

TEST(ReportFile, AppendsOnDiskAndStaysWithinTheSize) {
  const std::string path = testing::ScratchFolder("report_file") + "bugreport.txt";
  std::string reason;
  for (int i = 0; i < 60; ++i) {
    ASSERT_TRUE(AppendBugReport(path, Report("r" + std::to_string(i), 3000), 100000, &reason))
        << reason;
    const std::string content = testing::ReadFile(path);
    ASSERT_LE(content.size(), 100000u);
    const std::vector<std::string> names = ReportNames(content);
    ASSERT_FALSE(names.empty());
    EXPECT_EQ(names.back(), "r" + std::to_string(i));
    EXPECT_THAT(names, Not(::testing::Contains("?")));
  }
  // 60 reports of 3000 bytes: the newest 33 fit.
  const std::vector<std::string> names = ReportNames(testing::ReadFile(path));
  EXPECT_EQ(names.size(), 33u);
  EXPECT_EQ(names.front(), "r27");
  EXPECT_FALSE(platform::FileExists(path + ".new"));
}

TEST(ReportFile, AFileThatCannotBeWrittenSaysWhyAndKeepsNothingHalfDone) {
  const std::string folder = testing::ScratchFolder("report_file_fails");
  std::string reason;
  EXPECT_FALSE(
      AppendBugReport(folder + "no-such-folder/bugreport.txt", Report("a", 10), 1000, &reason));
  EXPECT_THAT(reason, HasSubstr("No such file"));
}

void RaiseAt(int line) {
  // Two raising places of the same message on two lines.
  if (line == 1) throw Error("the same words");
  throw Error("the same words");
}

ExceptionFacts Caught(const std::function<void()>& raise) {
  try {
    raise();
  } catch (...) {
    return DescribeException(std::current_exception());
  }
  ADD_FAILURE() << "nothing raised";
  return {};
}

TEST(Duplicates, SameTypeMessageAndRaisingPlaceIsADuplicate) {
  DuplicateFilter filter;
  EXPECT_FALSE(filter.SeenBefore(Caught([] { RaiseAt(1); })));
  EXPECT_TRUE(filter.SeenBefore(Caught([] { RaiseAt(1); })));
  // Same words from another line: another exception.
  EXPECT_FALSE(filter.SeenBefore(Caught([] { RaiseAt(2); })));
  EXPECT_TRUE(filter.SeenBefore(Caught([] { RaiseAt(2); })));
  // Same place and type, other words.
  ExceptionFacts other = Caught([] { RaiseAt(1); });
  other.message = "other words";
  EXPECT_FALSE(filter.SeenBefore(other));

  // Where the raising place is unknown, type and message decide.
  EXPECT_FALSE(filter.SeenBefore(Caught([] { throw std::runtime_error("the same words"); })));
  EXPECT_TRUE(filter.SeenBefore(Caught([] { throw std::runtime_error("the same words"); })));
  EXPECT_FALSE(filter.SeenBefore(Caught([] { throw std::logic_error("the same words"); })));
}

TEST(Duplicates, TheRaisingPlaceIsTheThrowingFunction) {
  const ExceptionFacts facts = Caught([] { RaiseAt(1); });
  EXPECT_TRUE(facts.raised_here);
  EXPECT_THAT(RaisingPlace(facts), AllOf(HasSubstr("RaiseAt"), Not(HasSubstr("Error::Error"))));
}

TEST(ExceptionFacts, DescribeWhatWasRaised) {
  const ExceptionFacts own = Caught([] { throw Error("could not find libvmdk.so", "why"); });
  EXPECT_EQ(own.type, "tessaly::Error");
  EXPECT_EQ(own.message, "could not find libvmdk.so");
  EXPECT_EQ(own.details, "why");

  const ExceptionFacts other = Caught([] { throw std::out_of_range("index 7"); });
  EXPECT_EQ(other.type, "std::out_of_range");
  EXPECT_EQ(other.message, "index 7");
  EXPECT_FALSE(other.raised_here);
  EXPECT_FALSE(other.stack.empty());  // taken where it was caught
  EXPECT_EQ(RaisingPlace(other), "");

  const ExceptionFacts odd = Caught([] { throw 42; });
  EXPECT_THAT(odd.type, HasSubstr("no std::exception"));
}

TEST(BugReport, HoldsTheProcessAndTheException) {
  ProcessFacts process;
  process.when = 0;
  process.executable = "/opt/tessaly/tessaly";
  process.version = "0.1";
  process.os = "Linux 6.1.0 x86_64, Debian GNU/Linux 12 (bookworm)";
  process.threads = {{100, "tessaly", true}, {101, "QXcbEventQueue", false}};
  process.modules = {{0x400000, "/opt/tessaly/tessaly"}, {0x7f0000001000, "/usr/lib/libc.so.6"}};
  ExceptionFacts exception;
  exception.type = "tessaly::Error";
  exception.message = "could not find libvmdk.so";
  exception.details = "line one\nline two";
  exception.stack = " 0# Raise() at raise.cpp:7\n 1# main at main.cpp:3\n";
  exception.raised_here = true;

  const std::string report = BuildBugReport(process, exception);
  EXPECT_THAT(report, StartsWith(std::string(kReportHeader) + "\n"));
  for (const char* part : {
           "executable        : /opt/tessaly/tessaly\n",
           "version           : 0.1\n",
           "operating system  : Linux 6.1.0 x86_64, Debian GNU/Linux 12 (bookworm)\n",
           "exception class   : tessaly::Error\n",
           "exception message : could not find libvmdk.so\n",
           "exception details : line one\n                    line two\n",
           "call stack where the exception was raised:\n 0# Raise() at raise.cpp:7\n",
           "threads:\n  100 tessaly  (the thread the exception arose in)\n  101 QXcbEventQueue\n",
           "modules:\n  0x0000000000400000 /opt/tessaly/tessaly\n"
           "  0x00007f0000001000 /usr/lib/libc.so.6\n",
       }) {
    EXPECT_THAT(report, HasSubstr(part));
  }
  EXPECT_THAT(report, ::testing::ContainsRegex("date/time *: 19[67][0-9]-[0-9][0-9]-[0-9][0-9] "
                                               "[0-9][0-9]:[0-9][0-9]:[0-9][0-9]"));
}

TEST(ProcessFacts, ListTheThreadsAndModulesOfThisProcess) {
  std::mutex mutex;
  std::condition_variable changed;
  bool started = false;
  bool done = false;
  std::thread worker([&] {
    std::unique_lock<std::mutex> lock(mutex);
    started = true;
    changed.notify_all();
    changed.wait(lock, [&] { return done; });
  });
  {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [&] { return started; });
  }
  const ProcessFacts facts = CollectProcessFacts("0.1");
  {
    std::lock_guard<std::mutex> lock(mutex);
    done = true;
  }
  changed.notify_all();
  worker.join();

  ASSERT_GE(facts.threads.size(), 2u);
  int current = 0;
  for (const auto& thread : facts.threads) current += thread.is_current ? 1 : 0;
  EXPECT_EQ(current, 1);
  EXPECT_FALSE(facts.threads.front().name.empty());

  std::set<std::string> paths;
  for (const auto& module : facts.modules) {
    EXPECT_TRUE(paths.insert(module.path).second) << module.path << " listed twice";
    EXPECT_NE(module.base, 0u);
  }
  EXPECT_TRUE(paths.count(platform::ExecutablePath())) << "the executable is missing";
  EXPECT_TRUE(std::any_of(paths.begin(), paths.end(), [](const std::string& path) {
    return path.find("libc.so") != std::string::npos;
  }));
  EXPECT_EQ(facts.executable, platform::ExecutablePath());
  EXPECT_THAT(facts.os, StartsWith("Linux "));
}

TEST(Mailto, EncodesSubjectAndBody) {
  EXPECT_EQ(MailtoUrl("", "bug report", "please find the bug report attached\n\nA & B = C?\n"),
            "mailto:?subject=bug%20report&body=please%20find%20the%20bug%20report%20attached"
            "%0D%0A%0D%0AA%20%26%20B%20%3D%20C%3F%0D%0A");
  EXPECT_EQ(MailtoUrl("bugs@example.org", "x", "a\r\nb"),
            "mailto:bugs@example.org?subject=x&body=a%0D%0Ab");
  EXPECT_EQ(PercentEncode("\xc3\xa9-._~%"), "%C3%A9-._~%25");
}

TEST(Mailto, ALongBodyIsCutWithANoteAndStaysValidUtf8) {
  std::string body;
  for (int i = 0; i < 5000; ++i) body += "line \xc3\xa9\xc3\xa9\n";
  for (std::size_t max : {2000u, 2001u, 2002u, 2003u, 2004u, 32000u}) {
    const std::string url = MailtoUrl("", "bug report", body, max);
    EXPECT_LE(url.size(), max);
    EXPECT_GT(url.size(), max - 12);  // the room is used
    EXPECT_THAT(url, EndsWith(PercentEncode("\r\n[the report is cut here; \"show bug report\" "
                                            "shows it whole]")));
    // The body before the note ends on a whole character and no lone CR.
    const std::string note = PercentEncode(std::string("\r\n[the report"));
    const std::string before = url.substr(0, url.rfind(note));
    EXPECT_THAT(before, Not(EndsWith("%C3"))) << max;
    EXPECT_THAT(before, Not(EndsWith("%0D"))) << max;
  }
  EXPECT_EQ(MailtoUrl("", "s", "short", 100), "mailto:?subject=s&body=short");
}

TEST(Settings, EachSettingIsListedOnce) {
  std::set<std::string_view> names;
  for (const Setting& setting : kSettings) {
    EXPECT_TRUE(names.insert(setting.name).second) << setting.name;
    if (!setting.applies) {
      EXPECT_FALSE(setting.note.empty()) << setting.name;
    }
  }
}

}  // namespace
}  // namespace tessaly::report
