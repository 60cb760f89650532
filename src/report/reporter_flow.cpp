#include "report/reporter_flow.h"

#include <string_view>

#include "platform/platform.h"
#include "report/report_file.h"
#include "report/settings.h"

namespace tessaly::report {
namespace {

// Writes the report to the bug report file, where a setting asks for that.
// With AutoSave off and no save button, none does.
void SaveWhereAsked(const std::string& report) {
  constexpr bool kAutoSave = Flag("AutoSave");
  constexpr std::string_view kFile = Text("BugRepFile");
  constexpr long kFileSize = Number("BugRepFileSize");
  if constexpr (kAutoSave) {
    const std::string path = platform::FolderOf(platform::ExecutablePath()) + std::string(kFile);
    AppendBugReport(path, report, kFileSize, nullptr);
  }
}

}  // namespace

void HandleException(std::exception_ptr error, DuplicateFilter& duplicates, ReporterFront& front,
                     const std::string& line_break) {
  const ExceptionFacts facts = DescribeException(error);
  if constexpr (Flag("NoDupExcepts")) {
    if (duplicates.SeenBefore(facts)) {
      // Reported once already: say it again, without a new report.
      constexpr std::string_view kExceptMsg = Text("ExceptMsg");
      front.ShowPlain(std::string(kExceptMsg) + line_break + line_break + facts.message +
                      line_break + line_break + "(This error was reported before.)");
      return;
    }
  }
  const std::string text = BuildBugReport(CollectProcessFacts(TESSALY_VERSION), facts);
  SaveWhereAsked(text);

  switch (front.ShowReport(facts.message, text)) {
    case Choice::kRestart:
      if (front.StartAgain()) {
        front.Quit(0);
      } else {
        front.ShowPlain("The application could not be started again.");
      }
      break;
    case Choice::kClose:
      front.Quit(1);
      break;
    case Choice::kContinue:
      break;
  }
}

}  // namespace tessaly::report
