// The command-line tool's copy engine: reader threads, each on its own
// libvmdk handle, fill large blocks ahead of one writer that puts them at
// their offsets in the target; an optional digest thread hashes the same
// blocks in media order. The result is the chunk loop's, byte for byte.
#pragma once

#include <cstdint>
#include <string>

#include "commands/copy.h"

namespace tessaly::commands {

struct PipelineSettings {
  // Bytes per read and per write; rounded down to whole chunks of the chunk
  // loop (65536 bytes), at least one.
  std::int32_t block_size = 1 << 20;
  // Threads reading the image, each with a handle of its own. Where another
  // handle cannot be opened, the copy goes on with the ones it has.
  int readers = 2;
  // Blocks in memory at once (being read, waiting, being written or hashed);
  // bounds the memory used to depth x block_size.
  int depth = 8;
  // Pages that are all zero are not written and stay holes; the length is
  // set at the end. Otherwise every byte is written.
  bool sparse = false;
  // "sha256", "sha1" or "md5" to hash the media while copying; empty for none.
  std::string digest;
};

class PipelinedCopy : public CopyEngine {
 public:
  // The unit of holes: a page that is all zero becomes a hole with `sparse`.
  static constexpr std::int32_t kPageSize = 4096;

  explicit PipelinedCopy(PipelineSettings settings = {});

  // Throws tessaly::Error where the digest asked for is not available.
  CopyReport Copy(CopyJob& job) override;

  // The digest of the media in lower-case hex after a complete copy that
  // asked for one; empty otherwise.
  const std::string& digest() const { return digest_; }
  const PipelineSettings& settings() const { return settings_; }

 private:
  PipelineSettings settings_;
  std::string digest_;
};

}  // namespace tessaly::commands
