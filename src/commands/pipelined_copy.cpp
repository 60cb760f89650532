#include "commands/pipelined_copy.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <limits>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "commands/digest.h"
#include "platform/error.h"

namespace tessaly::commands {
namespace {

using Status = CopyReport::Status;
constexpr std::int64_t kPage = PipelinedCopy::kPageSize;
constexpr std::int64_t kScanPiece = 256 * 1024;
// Writes of a whole 1 MiB block were at times three times slower than writes
// of 64 or 128 KiB on the benchmark machine (a virtual machine): the page
// cache takes large writes in large pieces of memory, which such a machine
// may have handed back to its host. Small writes cost a few more calls.
constexpr std::int64_t kWritePiece = 128 * 1024;

bool AllZero(const unsigned char* bytes, std::size_t size) {
  static const unsigned char kZeros[kPage] = {};
  while (size > 0) {
    const std::size_t piece = std::min<std::size_t>(size, kPage);
    if (std::memcmp(bytes, kZeros, piece) != 0) return false;
    bytes += piece;
    size -= piece;
  }
  return true;
}

// One block of the media in memory. A reader fills it, then the writer and
// the digest take it in media order; it is filled again once both are done.
struct Block {
  std::vector<unsigned char> bytes;
  std::vector<char> zero_pages;  // with sparse: one per page, true where all zero
  std::int64_t index = -1;       // which block of the media it holds, once filled
  std::int32_t valid = 0;        // bytes read from its start
  bool failed = false;           // the read after `valid` bytes failed
  std::string reason;            // libvmdk's account of that failure
};

// One copy's threads and the state they share. The calling thread writes;
// the destructor stops and joins every thread it started, however the copy
// ends.
class Pipeline {
 public:
  Pipeline(CopyJob& job, const PipelineSettings& settings, Digest* digest)
      : job_(job),
        settings_(settings),
        digest_(digest),
        block_size_(settings.block_size),
        block_count_((job.media_size + block_size_ - 1) / block_size_),
        end_block_(block_count_) {
    const std::int64_t depth = std::min<std::int64_t>(std::max(settings.depth, 2), block_count_);
    const std::size_t bytes = static_cast<std::size_t>(std::min(block_size_, job.media_size));
    blocks_.resize(static_cast<std::size_t>(depth));
    for (Block& block : blocks_) {
      block.bytes.resize(bytes);
      if (settings.sparse) block.zero_pages.resize((bytes + kPage - 1) / kPage);
    }
  }

  ~Pipeline() { Shutdown(); }
  Pipeline(const Pipeline&) = delete;
  Pipeline& operator=(const Pipeline&) = delete;

  CopyReport Run() {
    OpenReaders();
    for (vmdk::TLibVMDK* image : images_) {
      threads_.emplace_back([this, image] { Guard([&] { ReadLoop(*image); }); });
    }
    if (digest_ != nullptr) threads_.emplace_back([this] { Guard([&] { DigestLoop(); }); });
    CopyReport report = WriteLoop();
    if (report.status == Status::kComplete) {
      // Only the digest thread can still be busy: let it finish the media.
      Join();
      std::lock_guard<std::mutex> lock(mutex_);
      if (digest_ != nullptr && hashed_ != block_count_) {
        report.status = Status::kReadFailed;
        report.reason = failure_;
      }
    }
    Shutdown();
    return report;
  }

 private:
  // Reader 0 uses the job's own handle; the others open their own. A handle
  // that cannot be opened only means fewer readers.
  void OpenReaders() {
    images_.push_back(&job_.image);
    const std::int64_t wanted = std::min<std::int64_t>(settings_.readers, block_count_);
    while (static_cast<std::int64_t>(images_.size()) < wanted && job_.open_reader) {
      std::unique_ptr<vmdk::TLibVMDK> image;
      try {
        image = job_.open_reader();
      } catch (const std::exception&) {
        break;
      }
      if (!image) break;
      images_.push_back(image.get());
      extra_images_.push_back(std::move(image));
    }
  }

  // Runs a thread's body; an exception ends the whole copy instead of the
  // process.
  template <typename Body>
  void Guard(Body body) {
    try {
      body();
    } catch (const std::exception& e) {
      Abort(e.what());
    } catch (...) {
      Abort("unexpected failure");
    }
  }

  void Abort(const std::string& why) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (failure_.empty()) failure_ = why;
    abort_ = true;
    changed_.notify_all();
  }

  // Blocks the readers may not refill yet: those the writer or the digest
  // still needs.
  std::int64_t Released() const {
    return digest_ != nullptr ? std::min(written_, hashed_) : written_;
  }

  Block& SlotOf(std::int64_t index) {
    return blocks_[static_cast<std::size_t>(index % static_cast<std::int64_t>(blocks_.size()))];
  }

  void ReadLoop(vmdk::TLibVMDK& image) {
    const std::int64_t depth = static_cast<std::int64_t>(blocks_.size());
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      if (abort_ || next_claim_ >= end_block_) return;
      const std::int64_t index = next_claim_++;
      changed_.wait(lock, [&] { return abort_ || index < Released() + depth; });
      if (abort_) return;
      if (index >= end_block_) continue;  // an earlier block failed
      Block& block = SlotOf(index);
      lock.unlock();
      Fill(image, block, index);
      lock.lock();
      block.index = index;
      if (block.failed) end_block_ = std::min(end_block_, index + 1);
      changed_.notify_all();
    }
  }

  // Reads one block, asking again after a short read for the rest, so that
  // every byte lands at its own offset. Where a large read fails, the rest is
  // read again chunk by chunk: the copy then keeps every chunk before the bad
  // one and names the same offset as a copy made chunk by chunk.
  void Fill(vmdk::TLibVMDK& image, Block& block, std::int64_t index) {
    constexpr std::int64_t kChunk = ChunkLoop::kChunkSize;
    const std::int64_t start = index * block_size_;
    const auto wanted = static_cast<std::int32_t>(std::min(block_size_, job_.media_size - start));
    // Looking for zeros right after each read of at most kScanPiece bytes
    // finds them still in the cache.
    const std::int64_t most = settings_.sparse ? kScanPiece : wanted;
    block.valid = 0;
    block.failed = false;
    block.reason.clear();
    std::size_t scanned = 0;  // pages looked at
    bool by_chunks = false;
    while (block.valid < wanted) {
      const std::int64_t at = start + block.valid;
      std::int32_t asked =
          static_cast<std::int32_t>(std::min<std::int64_t>(wanted - block.valid, most));
      if (by_chunks)
        asked = static_cast<std::int32_t>(std::min<std::int64_t>(asked, kChunk - at % kChunk));
      const std::int32_t read =
          image.ReadBufferAtOffset(block.bytes.data() + block.valid, asked, at);
      // Failure (-1), the end before the end of the media (0), or a count the
      // buffer cannot hold.
      if (read <= 0 || read > asked) {
        if (asked > kChunk) {
          by_chunks = true;
          continue;
        }
        block.failed = true;
        block.reason = image.LastErrorDetails();
        break;
      }
      block.valid += read;
      scanned = ScanPages(block, scanned, block.valid / kPage);
    }
    ScanPages(block, scanned, (block.valid + kPage - 1) / kPage);
  }

  // Notes which of pages [from, to) of a block are all zero, where holes are
  // wanted; returns `to`.
  static std::size_t ScanPages(Block& block, std::size_t from, std::int64_t to) {
    if (block.zero_pages.empty()) return from;
    std::size_t page = from;
    for (; page < static_cast<std::size_t>(to); ++page) {
      const std::int64_t begin = static_cast<std::int64_t>(page) * kPage;
      const std::int64_t end = std::min<std::int64_t>(begin + kPage, block.valid);
      block.zero_pages[page] =
          AllZero(block.bytes.data() + begin, static_cast<std::size_t>(end - begin));
    }
    return page;
  }

  // Waits for block `index`; null when the copy is being abandoned.
  const Block* AwaitBlock(std::int64_t index) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return abort_ || SlotOf(index).index == index; });
    return abort_ ? nullptr : &SlotOf(index);
  }

  void DigestLoop() {
    for (std::int64_t index = 0; index < block_count_; ++index) {
      const Block* block = AwaitBlock(index);
      if (block == nullptr) return;
      digest_->Update(block->bytes.data(), static_cast<std::size_t>(block->valid));
      std::lock_guard<std::mutex> lock(mutex_);
      if (block->failed) return;  // the copy ends there; so does the digest
      hashed_ = index + 1;
      changed_.notify_all();
    }
  }

  bool StopAsked() const { return job_.stop != nullptr && job_.stop->load(); }

  CopyReport WriteLoop() {
    CopyReport report;
    std::int64_t reached = 0;
    for (std::int64_t index = 0; index < block_count_; ++index) {
      if (StopAsked()) {
        report.status = Status::kInterrupted;
        break;
      }
      const Block* block = AwaitBlock(index);
      if (block == nullptr) {
        std::lock_guard<std::mutex> lock(mutex_);
        report.status = Status::kReadFailed;
        report.reason = failure_;
        break;
      }
      const std::int64_t start = index * block_size_;
      std::int64_t done = 0;
      if (!WriteBlock(*block, start, &done)) {
        report.status = Status::kWriteFailed;
        report.reason = job_.target.LastError();
        reached = start + done;
        break;
      }
      reached = start + block->valid;
      const bool wrote = block->valid > 0;
      if (block->failed) {
        report.status = Status::kReadFailed;
        report.reason = block->reason;
      }
      {
        // From here on a reader may fill the block again.
        std::lock_guard<std::mutex> lock(mutex_);
        written_ = index + 1;
        changed_.notify_all();
      }
      if (wrote && job_.progress) job_.progress(reached);
      if (report.status != Status::kComplete) break;
    }
    report.offset = reached;
    return report;
  }

  // Writes the valid bytes of a block at `start`: all of them, or with
  // sparse only the runs of pages that hold something. *done: bytes from the
  // block's start known to be in the file.
  bool WriteBlock(const Block& block, std::int64_t start, std::int64_t* done) {
    const unsigned char* bytes = block.bytes.data();
    if (!settings_.sparse) return Put(bytes, 0, block.valid, start, done);
    std::int64_t at = 0;
    while (at < block.valid) {
      const std::size_t page = static_cast<std::size_t>(at / kPage);
      std::int64_t end = std::min<std::int64_t>(at + kPage, block.valid);
      if (block.zero_pages[page]) {
        *done = at = end;
        continue;
      }
      while (end < block.valid && !block.zero_pages[static_cast<std::size_t>(end / kPage)]) {
        end = std::min<std::int64_t>(end + kPage, block.valid);
      }
      if (!Put(bytes, at, end, start, done)) return false;
      at = end;
    }
    return true;
  }

  bool Put(const unsigned char* bytes, std::int64_t from, std::int64_t to, std::int64_t start,
           std::int64_t* done) {
    for (std::int64_t at = from; at < to; at += kWritePiece) {
      const std::int64_t end = std::min(to, at + kWritePiece);
      std::size_t written = 0;
      const bool ok =
          job_.target.WriteAt(bytes + at, static_cast<std::size_t>(end - at), start + at, &written);
      *done = at + static_cast<std::int64_t>(written);
      if (!ok) return false;
    }
    return true;
  }

  void Join() {
    for (std::thread& thread : threads_) {
      if (thread.joinable()) thread.join();
    }
  }

  void Shutdown() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      abort_ = true;
      changed_.notify_all();
    }
    Join();
  }

  CopyJob& job_;
  const PipelineSettings& settings_;
  Digest* digest_;
  const std::int64_t block_size_;
  const std::int64_t block_count_;

  std::vector<Block> blocks_;
  std::vector<std::unique_ptr<vmdk::TLibVMDK>> extra_images_;
  std::vector<vmdk::TLibVMDK*> images_;

  std::mutex mutex_;
  std::condition_variable changed_;
  std::int64_t next_claim_ = 0;  // the next block a reader takes
  std::int64_t end_block_;       // blocks to read; cut after a block whose read failed
  std::int64_t written_ = 0;     // blocks the writer is done with
  std::int64_t hashed_ = 0;      // blocks the digest is done with
  bool abort_ = false;
  std::string failure_;  // why a thread gave up, where it was not a read

  // Last, so that they are gone before anything they use.
  std::vector<std::thread> threads_;
};

PipelineSettings Sane(PipelineSettings settings) {
  const std::int32_t chunk = ChunkLoop::kChunkSize;
  settings.block_size = std::max(chunk, settings.block_size / chunk * chunk);
  settings.readers = std::max(1, settings.readers);
  settings.depth = std::max(settings.readers + 1, settings.depth);
  return settings;
}

}  // namespace

PipelinedCopy::PipelinedCopy(PipelineSettings settings) : settings_(Sane(std::move(settings))) {}

CopyReport PipelinedCopy::Copy(CopyJob& job) {
  digest_.clear();
  std::unique_ptr<Digest> digest;
  if (!settings_.digest.empty()) {
    digest = Digest::Create(settings_.digest);
    if (!digest) throw Error("the " + settings_.digest + " digest is not available");
  }
  CopyReport report;
  if (!job.target.IsOpen()) {
    report.status = Status::kWriteFailed;
    report.reason = job.target.LastError();
    return report;
  }
  if (settings_.sparse && !job.target.AllowHoles()) {
    report.status = Status::kWriteFailed;
    report.reason = job.target.LastError();
    return report;
  }
  // Room set aside up front makes the writes cheaper; where the file system
  // cannot, the writes allocate as they go and say what fails.
  if (!settings_.sparse) job.target.Reserve(job.media_size);
  if (job.media_size > 0) {
    Pipeline pipeline(job, settings_, digest.get());
    report = pipeline.Run();
  }
  if (report.status == Status::kComplete) {
    // Trailing holes need the length set; a full copy has it already.
    if (settings_.sparse && !job.target.SetLength(job.media_size)) {
      report.status = Status::kWriteFailed;
      report.reason = job.target.LastError();
    }
  } else {
    // The target holds exactly the media before the offset reported, like a
    // copy that wrote in order and stopped there.
    job.target.SetLength(report.offset);
  }
  if (report.status == Status::kComplete && digest) {
    digest_ = digest->FinishHex();
    if (digest_.empty()) throw Error("the " + settings_.digest + " digest could not be computed");
  }
  return report;
}

}  // namespace tessaly::commands
