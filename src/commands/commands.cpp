#include "commands/commands.h"

#include <algorithm>
#include <limits>

#include "commands/image.h"
#include "commands/texts.h"
#include "platform/error.h"

namespace tessaly::commands {
namespace {

// Holds the command's binding in the session's slot and empties the slot
// however the command ends, which closes the image and releases the library.
class CurrentLibScope {
 public:
  explicit CurrentLibScope(Session& session) : slot_(session.current_lib) {
    slot_ = MakeBinding(session.library_folder);
  }
  ~CurrentLibScope() { slot_.reset(); }
  CurrentLibScope(const CurrentLibScope&) = delete;
  CurrentLibScope& operator=(const CurrentLibScope&) = delete;

  vmdk::TLibVMDK& lib() { return *slot_; }

 private:
  LibSlot& slot_;
};

Result Failed(std::string note = {}) { return Result{Outcome::kFailed, std::move(note)}; }

}  // namespace

std::string SizeReportText(std::int64_t media_size) {
  const std::int64_t kbytes = media_size / 1024;
  const std::int64_t mbytes = kbytes / 1024;
  return std::to_string(media_size) + " Bytes" + texts::kLineBreak + std::to_string(kbytes) +
         " KBytes" + texts::kLineBreak + std::to_string(mbytes) + " MBytes";
}

std::string TargetPathFor(const std::string& source) {
  for (std::size_t i = source.size(); i > 0; --i) {
    const char c = source[i - 1];
    if (c == '.') return source.substr(0, i - 1) + ".dd";
    if (platform::IsPathSeparator(c)) break;
  }
  return source + ".dd";
}

bool IsSameFile(const std::string& source, const std::string& target) {
  if (source == target) return true;
  std::optional<platform::FileIdentity> a = platform::IdentifyFile(source);
  std::optional<platform::FileIdentity> b = platform::IdentifyFile(target);
  return a && b && *a == *b;
}

ProgressScale::ProgressScale(std::int64_t media_size) : media_size_(media_size), divisor_(1) {
  constexpr std::int64_t kMax = std::numeric_limits<int>::max();
  if (media_size_ > kMax) divisor_ = media_size_ / kMax + 1;
}

int ProgressScale::Position(std::int64_t offset) const {
  return static_cast<int>(offset / divisor_);
}

Result RunSizeReport(Session& session) {
  Host& host = session.host;
  std::optional<ImageChoice> choice = host.ChooseImage(texts::kImageFilter);
  if (!choice) return Result{Outcome::kCancelled, {}};

  CurrentLibScope scope(session);
  vmdk::TLibVMDK& lib = scope.lib();
  Result result;
  if (lib.Open(choice->path, vmdk::kAccessRead) != 0) {
    result = Failed(texts::kNoHandle);
  } else if (const std::int64_t media_size = lib.GetMediaSize(); media_size > 0) {
    const std::string report = SizeReportText(media_size);
    if (host.HasClipboard()) {
      host.ShowMessage(
          {report + texts::kLineBreak + texts::kLineBreak + texts::kClipboardNote, {}, {}});
      host.SetClipboardText(report);
    } else {
      host.WriteResult(report);
    }
  } else {
    host.ShowMessage({texts::kMediaSizeFailed, {}, lib.LastErrorDetails()});
    result = Failed();
  }
  lib.Close();
  return result;
}

// Refuses a target the file system cannot hold, before anything is written.
bool TargetFits(Host& host, const std::string& target_path, std::int64_t media_size) {
  const std::string folder = platform::FolderOf(target_path);
  const auto needed = static_cast<std::uint64_t>(media_size);
  if (std::optional<std::uint64_t> max = platform::MaxFileSize(folder); max && needed > *max) {
    host.ShowMessage({texts::kWriteFailed,
                      "the raw image needs " + std::to_string(needed) +
                          " bytes, but files where it goes can hold at most " +
                          std::to_string(*max) + " bytes",
                      {}});
    return false;
  }
  std::optional<std::uint64_t> free = platform::FreeSpace(folder);
  if (free && platform::KindOf(target_path) == platform::FileKind::kRegular) {
    // The old target is deleted first: its space counts as free.
    *free += static_cast<std::uint64_t>(platform::FileSizeOf(target_path).value_or(0));
  }
  if (free && needed > *free) {
    host.ShowMessage({texts::kWriteFailed,
                      "the raw image needs " + std::to_string(needed) + " bytes, but only " +
                          std::to_string(*free) + " bytes are free where it goes",
                      {}});
    return false;
  }
  return true;
}

Result RunConversion(Session& session, const ConvertOptions& options) {
  Host& host = session.host;
  host.DebugOutput(texts::kStart);
  std::optional<ImageChoice> choice = host.ChooseImage(texts::kImageFilter);
  if (!choice) return Result{Outcome::kCancelled, {}};

  const std::string target_path =
      options.target.empty() ? TargetPathFor(choice->path) : options.target;
  if (IsSameFile(choice->path, target_path)) {
    host.ShowMessage({texts::kSameFile, target_path, {}});
    return Failed();
  }
  const ImageRules rules{session.library_folder, options.follow_links};

  CurrentLibScope scope(session);
  vmdk::TLibVMDK& lib = scope.lib();
  if (OpenImageFile(lib, *choice) != 0) return Failed(texts::kNoHandle);
  const ImageFiles files = OpenImageData(lib, choice->path, rules);
  const std::int64_t media_size = lib.GetMediaSize();
  if (media_size <= 0) {
    host.ShowMessage({texts::kMediaSizeFailed, {}, lib.LastErrorDetails()});
    return Failed();
  }
  // Checked once the image is open, so that no extent or parent of the image
  // is ever deleted as an old target.
  if (std::optional<platform::FileIdentity> id = platform::IdentifyFile(target_path);
      id && std::find(files.begin(), files.end(), *id) != files.end()) {
    host.ShowMessage({texts::kSameFile, target_path, {}});
    return Failed();
  }
  if (options.check_space && !TargetFits(host, target_path, media_size)) return Failed();

  const ProgressScale scale(media_size);
  host.SetProgressRange(0, scale.Max());
  platform::DeleteFile(target_path);  // a file that stays is caught by the create below
  platform::OutputFile target = platform::OutputFile::CreateNew(target_path);
  const bool created = target.IsOpen();
  const std::uint32_t start = platform::TickCount();
  if (options.reading) options.reading(&lib);

  CopyJob job{lib,
              target,
              media_size,
              [&](std::int64_t offset) {
                host.SetProgressPosition(scale.Position(offset));
                if (options.byte_progress) options.byte_progress(offset, media_size);
              },
              [&] {
                auto reader = MakeBinding(session.library_folder);
                if (OpenImageFile(*reader, *choice) != 0) throw Error(texts::kNoHandle);
                OpenImageData(*reader, choice->path, rules);
                return reader;
              },
              options.stop};
  ChunkLoop chunk_loop;
  CopyEngine& engine = options.engine != nullptr ? *options.engine : chunk_loop;
  const CopyReport report = engine.Copy(job);
  if (options.reading) options.reading(nullptr);

  bool complete = report.status == CopyReport::Status::kComplete;
  switch (report.status) {
    case CopyReport::Status::kComplete:
      break;
    case CopyReport::Status::kWriteFailed:
      host.ShowMessage({texts::kWriteFailed, report.reason, {}});
      break;
    case CopyReport::Status::kReadFailed:
      host.ShowMessage({texts::kReadFailedAt + std::to_string(report.offset), {}, report.reason});
      break;
    case CopyReport::Status::kInterrupted:
      target.Close();
      if (created) platform::DeleteFile(target_path);
      host.ShowMessage({texts::kInterrupted, {}, {}});
      return Result{Outcome::kInterrupted, {}};
  }
  if (!target.Close() && complete) {
    host.ShowMessage({texts::kWriteFailed, target.LastError(), {}});
    complete = false;
  }
  const std::uint32_t elapsed = platform::TickCount() - start;
  host.SetStatusText(texts::kDoneIn + std::to_string(elapsed) + "ms");
  return complete ? Result{} : Failed();
}

}  // namespace tessaly::commands
