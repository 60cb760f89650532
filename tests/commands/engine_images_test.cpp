// Both engines on the images qemu-img made, through the real libvmdk: the
// same bytes as qemu-img's raw output, holes only where asked for, and
// digests equal to those of coreutils.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <memory>

#include "commands/commands.h"
#include "commands/pipelined_copy.h"
#include "support/recording_host.h"
#include "support/test_env.h"

namespace tessaly::commands {
namespace {

using testing::Images;
using testing::ReadFile;
using testing::RealLibFolder;
using testing::RecordingHost;
using testing::ScratchFolder;

// What `TOOL FILE` prints before the file name (sha256sum, sha1sum, md5sum).
std::string CoreutilsDigest(const std::string& tool, const std::string& file) {
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen((tool + " '" + file + "'").c_str(), "r"),
                                             pclose);
  if (!pipe) return "popen failed";
  char line[256] = {};
  if (std::fgets(line, sizeof line, pipe.get()) == nullptr) return "no output";
  std::string text(line);
  return text.substr(0, text.find(' '));
}

std::int64_t AllocatedBytes(const std::string& path) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return -1;
  return static_cast<std::int64_t>(info.st_blocks) * 512;
}

struct Variant {
  const char* name;
  bool chunk_loop;
  PipelineSettings settings;
};

PipelineSettings With(bool sparse, std::string digest, std::int32_t block_size = 1 << 20,
                      int readers = 2, int depth = 8) {
  PipelineSettings s;
  s.sparse = sparse;
  s.digest = std::move(digest);
  s.block_size = block_size;
  s.readers = readers;
  s.depth = depth;
  return s;
}

const Variant kVariants[] = {
    {"chunk loop", true, {}},
    {"pipelined", false, {}},
    {"pipelined --sparse", false, With(true, "")},
    {"pipelined --hash sha256", false, With(false, "sha256")},
    {"pipelined --sparse --hash sha1", false, With(true, "sha1")},
    {"pipelined, 64 KiB blocks, 3 readers, --sparse --hash md5", false,
     With(true, "md5", 64 * 1024, 3, 4)},
};

class BothEngines : public ::testing::TestWithParam<const char*> {};

TEST_P(BothEngines, WriteQemuImgsBytesWithHolesOnlyWhenAsked) {
  const std::string source = Images() + GetParam() + "/disk.vmdk";
  const std::string expected_path = Images() + GetParam() + "/expected.raw";
  const std::string expected = ReadFile(expected_path);
  ASSERT_EQ(expected.size(), 5u * 1048576 + 1536);
  const std::int64_t size = static_cast<std::int64_t>(expected.size());
  const std::string folder = ScratchFolder(GetParam());

  for (const Variant& v : kVariants) {
    const std::string target = folder + "disk.dd";
    RecordingHost host;
    host.choice = ImageChoice{source, std::nullopt};
    LibSlot current_lib;
    Session session{host, current_lib, RealLibFolder()};
    PipelinedCopy engine(v.settings);
    ConvertOptions options;
    options.target = target;
    options.engine = v.chunk_loop ? nullptr : &engine;
    EXPECT_EQ(RunConversion(session, options).outcome, Outcome::kDone) << v.name;
    EXPECT_TRUE(host.messages.empty()) << v.name;
    EXPECT_EQ(host.position, host.range_max) << v.name;
    EXPECT_TRUE(ReadFile(target) == expected) << v.name << ": bytes differ from qemu-img's";

    // The image holds a run of 1 MiB + 4 KiB of zeros.
    const std::int64_t allocated = AllocatedBytes(target);
    if (v.settings.sparse) {
      EXPECT_LE(allocated, size - 1048576) << v.name << ": no holes";
    } else {
      EXPECT_GE(allocated, size) << v.name << ": holes, yet every byte was to be written";
    }

    if (!v.settings.digest.empty()) {
      EXPECT_EQ(engine.digest(), CoreutilsDigest(v.settings.digest + "sum", expected_path))
          << v.name;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(QemuImg, BothEngines,
                         ::testing::Values("monolithicSparse", "monolithicFlat",
                                           "twoGbMaxExtentSparse", "twoGbMaxExtentFlat",
                                           "streamOptimized"));

TEST(SparseTarget, HolesRunToTheEndAndTheLengthIsTheMedias) {
  const std::string expected_path = Images() + "zero-tail/expected.raw";
  const std::string expected = ReadFile(expected_path);
  ASSERT_EQ(expected.size(), 3u * 1048576);
  const std::string target = ScratchFolder("zero-tail") + "disk.dd";
  RecordingHost host;
  host.choice = ImageChoice{Images() + "zero-tail/disk.vmdk", std::nullopt};
  LibSlot current_lib;
  Session session{host, current_lib, RealLibFolder()};
  PipelinedCopy engine(With(true, "sha256"));
  ConvertOptions options;
  options.target = target;
  options.engine = &engine;
  EXPECT_EQ(RunConversion(session, options).outcome, Outcome::kDone);
  EXPECT_TRUE(ReadFile(target) == expected);
  EXPECT_LE(AllocatedBytes(target), 1048576 + 65536);
  EXPECT_EQ(engine.digest(), CoreutilsDigest("sha256sum", expected_path));
}

}  // namespace
}  // namespace tessaly::commands
