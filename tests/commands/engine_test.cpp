// The pipelined engine against the scriptable fake libvmdk: every way a copy
// can end, under several block sizes and reader counts, with the chunk loop
// as the measure wherever both read the same way.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <chrono>
#include <thread>

#include "commands/commands.h"
#include "commands/pipelined_copy.h"
#include "platform/error.h"
#include "support/recording_host.h"
#include "support/test_env.h"

namespace tessaly::commands {
namespace {

using ::testing::ElementsAre;
using testing::FakeLib;
using testing::FakeLibFolder;
using testing::ReadFile;
using testing::RecordingHost;
using testing::ScratchFolder;

constexpr std::int64_t kMiB = 1 << 20;
constexpr std::int64_t kChunk = ChunkLoop::kChunkSize;
// Six blocks of the default size and a bit, so failures can sit in later
// blocks and in a last block that is not whole.
constexpr std::int64_t kMediaSize = 6 * kMiB + 1000;

std::string FakeMedia(std::int64_t size) {
  std::string bytes(static_cast<std::size_t>(size), '\0');
  for (std::int64_t k = 0; k < size; ++k) bytes[k] = static_cast<char>(FakeMediaByte(k));
  return bytes;
}

struct EngineSetup {
  const char* name;
  PipelineSettings settings;
};

PipelineSettings Settings(std::int32_t block_size, int readers, int depth, bool sparse = false,
                          std::string digest = {}) {
  PipelineSettings s;
  s.block_size = block_size;
  s.readers = readers;
  s.depth = depth;
  s.sparse = sparse;
  s.digest = std::move(digest);
  return s;
}

const EngineSetup kSetups[] = {
    {"default", PipelineSettings{}},
    {"64 KiB blocks, 3 readers", Settings(64 * 1024, 3, 4)},
    {"one reader, 256 KiB blocks", Settings(256 * 1024, 1, 2)},
    {"sparse with sha256", Settings(1 << 20, 2, 8, true, "sha256")},
};

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override { fake.media_size = kMediaSize; }
  void TearDown() override {
    EXPECT_EQ(fake.handles_alive, 0);
    EXPECT_EQ(fake.errors_alive, 0);
    EXPECT_EQ(fake.null_handle_calls, 0);
  }

  // A whole conversion through the command routine, with `engine` (null:
  // the chunk loop) and the fake script as it stands.
  Result Convert(CopyEngine* engine) {
    host = RecordingHost{};
    host.choice = ImageChoice{folder + "disk.vmdk", std::nullopt};
    LibSlot current_lib;
    Session session{host, current_lib, FakeLibFolder()};
    ConvertOptions options;
    options.target = target;
    options.engine = engine;
    options.check_space = check_space;
    return RunConversion(session, options);
  }

  // Sets the fake up afresh with one fault (and a media of kMediaSize).
  void Script(std::int64_t FakeScript::*fault, std::int64_t at) {
    FakeLib(FakeLibFolder());
    fake.media_size = kMediaSize;
    if (fault != nullptr) fake.*fault = at;
  }

  FakeScript& fake = FakeLib(FakeLibFolder());
  RecordingHost host;
  std::string folder =
      ScratchFolder(::testing::UnitTest::GetInstance()->current_test_info()->name());
  std::string target = folder + "disk.dd";
  // The up-front size check; off where a test makes the writes themselves fail.
  bool check_space = true;

 private:
  // The fake reads no file, but the image must exist like any chosen file.
  bool source_written_ = (testing::WriteFile(folder + "disk.vmdk", ""), true);
};

TEST_F(EngineTest, CopiesEveryByteWhateverTheSizes) {
  // Less than a block, exactly whole blocks, and whole blocks and a bit.
  for (std::int64_t size : {std::int64_t{1000}, 2 * kMiB, kMediaSize}) {
    for (const EngineSetup& setup : kSetups) {
      Script(nullptr, 0);
      fake.media_size = size;
      PipelinedCopy engine(setup.settings);
      EXPECT_EQ(Convert(&engine).outcome, Outcome::kDone) << setup.name << ", " << size;
      EXPECT_TRUE(ReadFile(target) == FakeMedia(size)) << setup.name << ", " << size;
      EXPECT_TRUE(host.messages.empty()) << setup.name;
      EXPECT_EQ(host.position, host.range_max) << setup.name;
    }
  }
}

TEST_F(EngineTest, ShortReadsNeverShiftTheOutput) {
  // At the start, at a block's start, and inside a block of the large sizes.
  for (std::int64_t at : {std::int64_t{0}, 2 * kMiB, 3 * kMiB + kChunk}) {
    for (const EngineSetup& setup : kSetups) {
      Script(&FakeScript::short_read_at, at);
      PipelinedCopy engine(setup.settings);
      EXPECT_EQ(Convert(&engine).outcome, Outcome::kDone) << setup.name << ", " << at;
      EXPECT_TRUE(ReadFile(target) == FakeMedia(kMediaSize)) << setup.name << ", " << at;
    }
  }
}

TEST_F(EngineTest, ReadFailuresStopWhereTheChunkLoopStops) {
  struct Case {
    const char* what;
    std::int64_t FakeScript::*fault;
    std::int64_t at;
    std::int64_t offset;  // where the copy must say it failed
  };
  const Case cases[] = {
      {"bad byte in the first chunk", &FakeScript::fail_read_at, 100, 0},
      {"bad byte inside a later block", &FakeScript::fail_read_at, 4 * kMiB + 3 * kChunk + 100,
       4 * kMiB + 3 * kChunk},
      {"bad byte at a block's start", &FakeScript::fail_read_at, 3 * kMiB, 3 * kMiB},
      {"bad byte in the last, partial block", &FakeScript::fail_read_at, 6 * kMiB + 500, 6 * kMiB},
      {"end of media reported early", &FakeScript::zero_read_at, 2 * kMiB, 2 * kMiB},
      {"count larger than asked for", &FakeScript::oversized_read_at, 5 * kMiB, 5 * kMiB},
  };
  for (const Case& c : cases) {
    Script(c.fault, c.at);
    EXPECT_EQ(Convert(nullptr).outcome, Outcome::kFailed) << c.what;
    const std::vector<std::string> chunk_messages = host.MessageTexts();
    const std::string chunk_file = ReadFile(target);
    EXPECT_THAT(chunk_messages, ElementsAre("read failed at offset " + std::to_string(c.offset)))
        << c.what;

    for (const EngineSetup& setup : kSetups) {
      Script(c.fault, c.at);
      PipelinedCopy engine(setup.settings);
      EXPECT_EQ(Convert(&engine).outcome, Outcome::kFailed) << c.what << ", " << setup.name;
      EXPECT_EQ(host.MessageTexts(), chunk_messages) << c.what << ", " << setup.name;
      const std::string file = ReadFile(target);
      EXPECT_EQ(file.size(), static_cast<std::size_t>(c.offset)) << c.what << ", " << setup.name;
      EXPECT_TRUE(file == chunk_file) << c.what << ", " << setup.name;
      EXPECT_EQ(engine.digest(), "") << c.what << ", " << setup.name;
      EXPECT_EQ(host.events.back().rfind("status:done in ", 0), 0u);
    }
  }
}

TEST_F(EngineTest, ReadFailureDetailsComeFromLibvmdk) {
  Script(&FakeScript::fail_read_at, 2 * kMiB + 7);
  PipelinedCopy engine;
  EXPECT_EQ(Convert(&engine).outcome, Outcome::kFailed);
  ASSERT_EQ(host.messages.size(), 1u);
  EXPECT_EQ(host.messages[0].text, "read failed at offset 2097152");
  EXPECT_EQ(host.messages[0].details, "fake libvmdk: read failed");
}

TEST_F(EngineTest, AFailureAfterAShortReadKeepsEveryByteBeforeIt) {
  // Block 1 comes back half; the rest of it is asked for from 1.5 MiB on, and
  // that read meets the bad byte one chunk further.
  Script(&FakeScript::short_read_at, kMiB);
  fake.fail_read_at = kMiB + kMiB / 2 + kChunk + 10;
  PipelinedCopy engine;
  EXPECT_EQ(Convert(&engine).outcome, Outcome::kFailed);
  const std::int64_t offset = kMiB + kMiB / 2 + kChunk;
  EXPECT_THAT(host.MessageTexts(), ElementsAre("read failed at offset " + std::to_string(offset)));
  EXPECT_TRUE(ReadFile(target) == FakeMedia(offset));
}

TEST_F(EngineTest, AFailedWriteStopsTheCopyAndSaysWhy) {
  // The file size limit cuts the write of the block at 2 MiB after 100 bytes,
  // and refuses to reserve the whole length up front.
  struct rlimit old_limit;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old_limit), 0);
  auto old_handler = signal(SIGXFSZ, SIG_IGN);
  check_space = false;
  auto convert = [&](CopyEngine* engine) {
    Script(nullptr, 0);
    struct rlimit limit = old_limit;
    limit.rlim_cur = 2 * kMiB + 100;
    EXPECT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    const Result result = Convert(engine);
    setrlimit(RLIMIT_FSIZE, &old_limit);
    return result;
  };
  EXPECT_EQ(convert(nullptr).outcome, Outcome::kFailed);
  const std::string chunk_file = ReadFile(target);
  EXPECT_EQ(chunk_file.size(), static_cast<std::size_t>(2 * kMiB + 100));
  for (const EngineSetup& setup : kSetups) {
    PipelinedCopy engine(setup.settings);
    EXPECT_EQ(convert(&engine).outcome, Outcome::kFailed) << setup.name;
    ASSERT_EQ(host.messages.size(), 1u) << setup.name;
    EXPECT_EQ(host.messages[0].text, "writefile failed");
    EXPECT_EQ(host.messages[0].reason, "File too large");
    EXPECT_EQ(host.position, 2 * kMiB) << setup.name;
    EXPECT_TRUE(ReadFile(target) == chunk_file) << setup.name;
    EXPECT_EQ(engine.digest(), "");
  }
  signal(SIGXFSZ, old_handler);
}

TEST_F(EngineTest, ATargetThatCannotBeCreatedSaysWhy) {
  ASSERT_EQ(mkdir(target.c_str(), 0755), 0);
  testing::WriteFile(target + "/keep", "kept");
  PipelinedCopy engine;
  EXPECT_EQ(Convert(&engine).outcome, Outcome::kFailed);
  ASSERT_EQ(host.messages.size(), 1u);
  EXPECT_EQ(host.messages[0].text, "writefile failed");
  EXPECT_EQ(host.messages[0].reason, "File exists");
  EXPECT_EQ(ReadFile(target + "/keep"), "kept");
}

// The engine on its own, for what the command routine does not reach: the
// stop flag, readers that cannot open, how far reading runs ahead.
class EngineJobTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    ASSERT_EQ(lib.Open("disk.vmdk", vmdk::kAccessRead), 0);
    ASSERT_EQ(lib.OpenExtentDataFiles(), 1);
  }
  void TearDown() override {
    lib.Close();
    EngineTest::TearDown();
  }

  CopyJob Job(platform::OutputFile& file) {
    return CopyJob{lib,
                   file,
                   fake.media_size,
                   nullptr,
                   [this] {
                     auto reader = std::make_unique<vmdk::TLibVMDK>(FakeLibFolder());
                     reader->Open("disk.vmdk", vmdk::kAccessRead);
                     reader->OpenExtentDataFiles();
                     return reader;
                   },
                   &stop};
  }

  vmdk::TLibVMDK lib{FakeLibFolder()};
  std::atomic<bool> stop{false};
};

TEST_F(EngineJobTest, StopsWhenToldAndKeepsWhatItWrote) {
  for (const EngineSetup& setup : kSetups) {
    // Told before it starts: nothing written.
    {
      stop = true;
      platform::DeleteFile(target);
      platform::OutputFile file = platform::OutputFile::CreateNew(target);
      CopyJob job = Job(file);
      PipelinedCopy engine(setup.settings);
      const CopyReport report = engine.Copy(job);
      EXPECT_EQ(report.status, CopyReport::Status::kInterrupted) << setup.name;
      EXPECT_EQ(report.offset, 0) << setup.name;
      ASSERT_TRUE(file.Close());
      EXPECT_EQ(ReadFile(target), "") << setup.name;
    }
    // Told after the first block: that block and nothing after it.
    {
      stop = false;
      platform::DeleteFile(target);
      platform::OutputFile file = platform::OutputFile::CreateNew(target);
      CopyJob job = Job(file);
      std::vector<std::int64_t> reached;
      job.progress = [&](std::int64_t offset) {
        reached.push_back(offset);
        stop = true;
      };
      PipelinedCopy engine(setup.settings);
      const CopyReport report = engine.Copy(job);
      const std::int64_t block = engine.settings().block_size;
      EXPECT_EQ(report.status, CopyReport::Status::kInterrupted) << setup.name;
      EXPECT_EQ(report.offset, block) << setup.name;
      EXPECT_THAT(reached, ElementsAre(block)) << setup.name;
      EXPECT_EQ(engine.digest(), "") << setup.name;
      ASSERT_TRUE(file.Close());
      EXPECT_TRUE(ReadFile(target) == FakeMedia(block)) << setup.name;
    }
  }
}

TEST_F(EngineJobTest, GoesOnWithFewerReadersWhereNoMoreHandlesOpen) {
  platform::OutputFile file = platform::OutputFile::CreateNew(target);
  CopyJob job = Job(file);
  int attempts = 0;
  job.open_reader = [&]() -> std::unique_ptr<vmdk::TLibVMDK> {
    ++attempts;
    throw Error("Unable to open extent data files");
  };
  PipelinedCopy engine(Settings(64 * 1024, 3, 4, false, "md5"));
  const CopyReport report = engine.Copy(job);
  EXPECT_EQ(report.status, CopyReport::Status::kComplete);
  EXPECT_EQ(report.offset, kMediaSize);
  EXPECT_GE(attempts, 1);
  ASSERT_TRUE(file.Close());
  EXPECT_TRUE(ReadFile(target) == FakeMedia(kMediaSize));
  EXPECT_EQ(engine.digest().size(), 32u);
}

TEST_F(EngineJobTest, ReadsNoFurtherAheadThanItsBlocksHold) {
  // The writer is slowed so the readers could run far ahead if nothing held
  // them; what is in memory is bounded by depth x block size, whatever the
  // size of the disk.
  fake.media_size = 4 * kMiB;
  const PipelineSettings settings = Settings(64 * 1024, 3, 4);
  platform::OutputFile file = platform::OutputFile::CreateNew(target);
  CopyJob job = Job(file);
  std::int64_t worst = 0;
  job.progress = [&](std::int64_t offset) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const std::int64_t ahead = __atomic_load_n(&fake.furthest_read_end, __ATOMIC_RELAXED) - offset;
    worst = std::max(worst, ahead);
  };
  PipelinedCopy engine(settings);
  EXPECT_EQ(engine.Copy(job).status, CopyReport::Status::kComplete);
  EXPECT_LE(worst, settings.depth * settings.block_size);
  EXPECT_GT(worst, 0);
}

TEST(PipelineSettings, BlocksAreWholeChunksAndDepthCoversTheReaders) {
  EXPECT_EQ(PipelinedCopy(Settings(1, 1, 2)).settings().block_size, kChunk);
  EXPECT_EQ(PipelinedCopy(Settings(3 * kChunk + 5, 1, 2)).settings().block_size, 3 * kChunk);
  EXPECT_EQ(PipelinedCopy(Settings(kMiB, 4, 2)).settings().depth, 5);
}

TEST(PipelineSettings, AnUnknownDigestIsRefusedBeforeAnythingIsWritten) {
  const std::string folder = ScratchFolder("unknown-digest");
  FakeScript& fake = FakeLib(FakeLibFolder());
  {
    vmdk::TLibVMDK lib(FakeLibFolder());
    ASSERT_EQ(lib.Open("disk.vmdk", vmdk::kAccessRead), 0);
    platform::OutputFile file = platform::OutputFile::CreateNew(folder + "out.dd");
    CopyJob job{lib, file, fake.media_size, nullptr, nullptr};
    PipelinedCopy engine(Settings(kMiB, 2, 8, false, "crc32"));
    EXPECT_THROW(engine.Copy(job), Error);
    EXPECT_EQ(fake.read_calls, 0);
  }
  EXPECT_EQ(fake.handles_alive, 0);
}

}  // namespace
}  // namespace tessaly::commands
