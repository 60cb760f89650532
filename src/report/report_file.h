// The bug report file: reports appended one after another, the oldest
// dropped to keep the file within its size.
#pragma once

#include <cstddef>
#include <string>

namespace tessaly::report {

// The file's new content after adding `report` to `old_content`: whole
// reports, oldest first, at most `limit` bytes. Reports start with
// kReportHeader; old ones are dropped from the front until the rest fits.
// A report longer than `limit` on its own is cut to its first `limit` bytes.
std::string AppendedContent(const std::string& old_content, const std::string& report,
                            std::size_t limit);

// Adds `report` to the file at `path` as AppendedContent says. The file is
// replaced whole (written beside it, then renamed over it), so a failure
// leaves the old reports as they were. Returns false and puts the system's
// reason into *reason when it could not write.
bool AppendBugReport(const std::string& path, const std::string& report, std::size_t limit,
                     std::string* reason);

}  // namespace tessaly::report
