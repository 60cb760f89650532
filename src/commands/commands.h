// The two things a user can ask of Tessaly: the size report and the raw
// conversion. Both run to their end on the caller's thread and talk to the
// user only through the Host they are handed.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "commands/copy.h"
#include "commands/host.h"
#include "vmdk/libvmdk.h"

namespace tessaly::commands {

enum class Outcome { kDone, kCancelled, kFailed, kInterrupted };

struct Result {
  Outcome outcome = Outcome::kDone;
  // Why the command failed where it showed no message about it.
  std::string note;
};

// Where the running command keeps its binding (the window's CurrentLib):
// set while a command runs, null before and after.
using LibSlot = std::unique_ptr<vmdk::TLibVMDK>;

struct Session {
  Host& host;
  LibSlot& current_lib;
  // Folder holding the library; empty means the executable's own folder.
  std::string library_folder;
};

struct ConvertOptions {
  // Where to write; empty means beside the source with the extension ".dd".
  std::string target;
  // How to copy; null means the chunk loop the window uses.
  CopyEngine* engine = nullptr;
  // Refuse, before writing, a disk larger than the target's file system can
  // hold. Off for sparse targets, whose holes need no room.
  bool check_space = true;
  // Allow extent files that are links leading out of the image's folder.
  bool follow_links = false;
  // Set from another thread (or a signal watcher) to stop the copy; the
  // partial target is then removed.
  const std::atomic<bool>* stop = nullptr;
  // Told the binding that is reading, so that a stop can cut a read short.
  std::function<void(vmdk::TLibVMDK*)> reading;
  // Told the bytes written and the media size after each piece, beside the
  // progress bar; for hosts that show a rate.
  std::function<void(std::int64_t done, std::int64_t total)> byte_progress;
};

// Shows the media size of a chosen image. Exceptions (a missing library)
// leave the routine for the caller's exception handling.
Result RunSizeReport(Session& session);
// Writes the chosen image's media to a raw file.
Result RunConversion(Session& session, const ConvertOptions& options);

// The three report lines for a media size, joined by CR LF.
std::string SizeReportText(std::int64_t media_size);
// The source path with its extension replaced by ".dd" (appended where the
// file name has no extension).
std::string TargetPathFor(const std::string& source);
// True when writing `target` would overwrite `source`: the same path, or the
// same file through a link.
bool IsSameFile(const std::string& source, const std::string& target);

// Maps media offsets onto a progress bar whose range is a 32-bit int: both
// the size and the offsets are divided by one common factor where needed.
class ProgressScale {
 public:
  explicit ProgressScale(std::int64_t media_size);
  int Max() const { return Position(media_size_); }
  int Position(std::int64_t offset) const;

 private:
  std::int64_t media_size_;
  std::int64_t divisor_;
};

}  // namespace tessaly::commands
