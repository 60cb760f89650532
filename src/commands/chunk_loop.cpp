#include <vector>

#include "commands/copy.h"

namespace tessaly::commands {

CopyReport ChunkLoop::Copy(CopyJob& job) {
  std::vector<unsigned char> buffer(kChunkSize);
  std::int32_t chunk = kChunkSize;
  std::int64_t offset = 0;
  CopyReport report;
  std::int32_t read = 0;
  do {
    if (offset + chunk > job.media_size) chunk = static_cast<std::int32_t>(job.media_size - offset);
    read = job.image.ReadBufferAtOffset(buffer.data(), chunk, offset);
    if (job.stop != nullptr && job.stop->load()) {
      // An aborted read may have come back short: nothing of it is kept.
      report.status = CopyReport::Status::kInterrupted;
      break;
    }
    if (read > 0) {
      std::size_t written = 0;
      if (!job.target.Write(buffer.data(), static_cast<std::size_t>(read), &written) ||
          written != static_cast<std::size_t>(read)) {
        report.status = CopyReport::Status::kWriteFailed;
        report.reason = job.target.LastError();
        break;
      }
    } else if (read < 0 || offset < job.media_size) {
      // A failed read, or the end reported before the end of the media: the
      // image is not complete, and saying so beats a short file that looks
      // whole.
      report.status = CopyReport::Status::kReadFailed;
      report.reason = job.image.LastErrorDetails();
      break;
    }
    // Advance by what was read, so a short read never shifts later bytes.
    offset += read;
    if (job.progress) job.progress(offset);
  } while (read > 0);
  report.offset = offset;
  return report;
}

}  // namespace tessaly::commands
