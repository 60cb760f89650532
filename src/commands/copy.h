// How the media of an opened image gets into the target file. The window
// uses ChunkLoop; the command-line tool may hand in a faster engine.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/platform.h"
#include "vmdk/libvmdk.h"

namespace tessaly::commands {

struct CopyJob {
  vmdk::TLibVMDK& image;  // opened, extents open
  platform::OutputFile& target;
  std::int64_t media_size;
  // Called with the media offset reached after each piece is written.
  std::function<void(std::int64_t)> progress;
  // Opens another handle on the same image, for engines that read in
  // parallel (a libvmdk handle serves one reader at a time).
  std::function<std::unique_ptr<vmdk::TLibVMDK>()> open_reader;
  // When set and true, the copy stops as soon as it can and reports
  // kInterrupted (the command-line tool sets it on SIGINT and SIGTERM).
  const std::atomic<bool>* stop = nullptr;
};

struct CopyReport {
  enum class Status { kComplete, kWriteFailed, kReadFailed, kInterrupted };
  Status status = Status::kComplete;
  std::int64_t offset = 0;  // media offset reached (or where the read failed)
  std::string reason;       // the system's or library's account of a failure
};

class CopyEngine {
 public:
  virtual ~CopyEngine() = default;
  virtual CopyReport Copy(CopyJob& job) = 0;
};

// Reads and writes 65536 bytes at a time through one buffer, in order,
// every chunk written, zeros included.
class ChunkLoop : public CopyEngine {
 public:
  static constexpr std::int32_t kChunkSize = 65536;
  CopyReport Copy(CopyJob& job) override;
};

}  // namespace tessaly::commands
