#include "commands/commands.h"

#include <limits>

#include "commands/texts.h"
#include "platform/error.h"

namespace tessaly::commands {
namespace {

std::unique_ptr<vmdk::TLibVMDK> MakeLib(const std::string& folder) {
  return folder.empty() ? std::make_unique<vmdk::TLibVMDK>()
                        : std::make_unique<vmdk::TLibVMDK>(folder);
}

// Holds the command's binding in the session's slot and empties the slot
// however the command ends, which closes the image and releases the library.
class CurrentLibScope {
 public:
  explicit CurrentLibScope(Session& session) : slot_(session.current_lib) {
    slot_ = MakeLib(session.library_folder);
  }
  ~CurrentLibScope() { slot_.reset(); }
  CurrentLibScope(const CurrentLibScope&) = delete;
  CurrentLibScope& operator=(const CurrentLibScope&) = delete;

  vmdk::TLibVMDK& lib() { return *slot_; }

 private:
  LibSlot& slot_;
};

// Opens the image by its 16-bit path where the platform's paths are code-page
// strings, by its bytes elsewhere.
int OpenForConversion(vmdk::TLibVMDK& lib, const ImageChoice& choice) {
  std::optional<std::wstring> wide = choice.wide ? choice.wide : platform::WidePathFor(choice.path);
  if (wide) return lib.OpenWide(*wide, vmdk::kAccessRead);
  return lib.Open(choice.path, vmdk::kAccessRead);
}

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
  platform::DeleteFile(target_path);  // a file that stays is caught by the create below

  CurrentLibScope scope(session);
  vmdk::TLibVMDK& lib = scope.lib();
  if (OpenForConversion(lib, *choice) != 0) return Failed(texts::kNoHandle);
  if (lib.OpenExtentDataFiles() != 1) throw Error(texts::kExtentsFailed, lib.LastErrorDetails());
  const std::int64_t media_size = lib.GetMediaSize();
  if (media_size <= 0) {
    host.ShowMessage({texts::kMediaSizeFailed, {}, lib.LastErrorDetails()});
    return Failed();
  }

  const ProgressScale scale(media_size);
  host.SetProgressRange(0, scale.Max());
  platform::OutputFile target = platform::OutputFile::CreateNew(target_path);
  const std::uint32_t start = platform::TickCount();

  CopyJob job{lib, target, media_size,
              [&](std::int64_t offset) {
                host.SetProgressPosition(scale.Position(offset));
                if (options.byte_progress) options.byte_progress(offset, media_size);
              },
              [&] {
                auto reader = MakeLib(session.library_folder);
                if (OpenForConversion(*reader, *choice) != 0 || reader->OpenExtentDataFiles() != 1)
                  throw Error(texts::kExtentsFailed, reader->LastErrorDetails());
                return reader;
              }};
  ChunkLoop chunk_loop;
  CopyEngine& engine = options.engine != nullptr ? *options.engine : chunk_loop;
  const CopyReport report = engine.Copy(job);

  bool complete = report.status == CopyReport::Status::kComplete;
  if (report.status == CopyReport::Status::kWriteFailed) {
    host.ShowMessage({texts::kWriteFailed, report.reason, {}});
  } else if (report.status == CopyReport::Status::kReadFailed) {
    host.ShowMessage({texts::kReadFailedAt + std::to_string(report.offset), {}, report.reason});
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
