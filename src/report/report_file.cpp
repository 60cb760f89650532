#include "report/report_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include "report/bug_report.h"

namespace tessaly::report {
namespace {

// Offset of the first report header at or after `from` that starts a line.
std::size_t NextReportStart(const std::string& content, std::size_t from) {
  for (std::size_t at = content.find(kReportHeader, from); at != std::string::npos;
       at = content.find(kReportHeader, at + 1)) {
    if (at == 0 || content[at - 1] == '\n') return at;
  }
  return std::string::npos;
}

}  // namespace

std::string AppendedContent(const std::string& old_content, const std::string& report,
                            std::size_t limit) {
  std::string entry = report;
  if (!entry.empty() && entry.back() != '\n') entry += '\n';
  if (entry.size() >= limit) return entry.substr(0, limit);

  std::string content = old_content;
  if (!content.empty() && content.back() != '\n') content += '\n';
  const std::size_t room = limit - entry.size();
  if (content.size() > room) {
    // Keep the newest old reports that fit: start at the first report header
    // inside the part that may stay.
    const std::size_t start = NextReportStart(content, content.size() - room);
    content = start == std::string::npos ? std::string() : content.substr(start);
  }
  return content + entry;
}

bool AppendBugReport(const std::string& path, const std::string& report, std::size_t limit,
                     std::string* reason) {
  std::string old_content;
  {
    std::ifstream in(path, std::ios::binary);
    if (in) old_content.assign(std::istreambuf_iterator<char>(in), {});
  }
  const std::string content = AppendedContent(old_content, report, limit);

  const std::string temporary = path + ".new";
  auto fail = [&](const char* what) {
    if (reason != nullptr) *reason = std::string(what) + ": " + std::strerror(errno);
    std::remove(temporary.c_str());
    return false;
  };
  errno = 0;
  std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
  if (!out) return fail("could not create the report file");
  out << content;
  out.close();
  if (out.fail()) return fail("could not write the report file");
  if (std::rename(temporary.c_str(), path.c_str()) != 0)
    return fail("could not replace the report file");
  return true;
}

}  // namespace tessaly::report
