// tessaly-cli's words and exit codes, run in process on real images.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

#include "cli/run_cli.h"
#include "platform/platform.h"
#include "support/test_env.h"

namespace tessaly::cli {
namespace {

using testing::FakeLib;
using testing::FakeLibFolder;
using testing::Images;
using testing::ReadFile;
using testing::RealLibFolder;
using testing::ScratchFolder;

TEST(Cli, SizePrintsTheThreeLinesOnStdout) {
  const Outcome r = RunCli({"size", Images() + "gib.vmdk"});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out, "1073741824 Bytes\n1048576 KBytes\n1024 MBytes\n");
  EXPECT_EQ(r.err, "");
}

TEST(Cli, ConvertWritesTheImageAndTheTime) {
  const std::string target = ScratchFolder("convert") + "out.dd";
  const Outcome r = RunCli({"convert", Images() + "streamOptimized/disk.vmdk", "-o", target});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(Matches(r.err, "done in [0-9]+ms\n")) << r.err;
  EXPECT_TRUE(ReadFile(target) == ReadFile(Images() + "streamOptimized/expected.raw"));

  const Outcome verbose =
      RunCli({"--verbose", "convert", Images() + "monolithicSparse/disk.vmdk", "-o", target});
  EXPECT_EQ(verbose.code, 0);
  EXPECT_TRUE(Matches(verbose.err, "start\ndone in [0-9]+ms\n")) << verbose.err;
}

TEST(Cli, HashIsTheDigestOfTheDisk) {
  // On every platform, whichever library computes it.
  const std::string target = ScratchFolder("hash-any") + "out.dd";
  const Outcome r =
      RunCli({"convert", "--hash", "sha256", Images() + "streamOptimized/disk.vmdk", "-o", target});
  EXPECT_EQ(r.code, 0) << r.err;
  std::string expected = ReadFile(Images() + "streamOptimized/expected.sha256");
  expected = expected.substr(0, expected.find('\n'));
  ASSERT_EQ(expected.size(), 64u);
  EXPECT_NE(r.out.find(expected + "  "), std::string::npos) << r.out;
}

TEST(Cli, FailuresSayTheirTextOnStderrAndExitNonZero) {
  const std::string scratch = ScratchFolder("failures");
  struct Case {
    std::vector<std::string> args;
    const char* err;
  };
  for (const Case& c : {
           Case{{"size", Images() + "not-an-image.vmdk"}, "libvmdk_get_media_size failed\n"},
           Case{{"size", scratch + "nothing-here.vmdk"}, "libvmdk_get_media_size failed\n"},
           Case{{"convert", Images() + "missing-extent/disk.vmdk", "-o", scratch + "x.dd"},
                "Unable to open extent data files\n"},
           Case{{"convert", Images() + "gib.vmdk", "-o", Images() + "gib.vmdk"},
                "source and target are the same file: "},
       }) {
    const Outcome r = RunCli(c.args);
    EXPECT_EQ(r.code, 1) << c.args[1];
    EXPECT_EQ(r.err.rfind(c.err, 0), 0u) << r.err;
    EXPECT_EQ(r.out, "");
  }
  const Outcome no_lib = RunCli({"size", Images() + "gib.vmdk"}, scratch);
  EXPECT_EQ(no_lib.code, 1);
  EXPECT_EQ(no_lib.err, std::string("could not find ") + platform::kLibraryFileName + "\n");
}

TEST(Cli, ReadFailuresAreNotSuccess) {
  FakeScript& fake = FakeLib(FakeLibFolder());
  fake.fail_read_at = 3 * 65536;
  const std::string folder = ScratchFolder("read-failure");
  testing::WriteFile(folder + "disk.vmdk", "");
  const Outcome r =
      RunCli({"convert", folder + "disk.vmdk", "-o", folder + "out.dd"}, FakeLibFolder());
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(Matches(r.err, "read failed at offset 196608\ndone in [0-9]+ms\n")) << r.err;

  FakeLib(FakeLibFolder()).initialize_result = -1;
  const Outcome no_handle = RunCli({"size", "disk.vmdk"}, FakeLibFolder());
  EXPECT_EQ(no_handle.code, 1);
  EXPECT_EQ(no_handle.err, "could not create a libvmdk handle\n");
}

TEST(Cli, NoDigestForAConversionThatFailed) {
  FakeScript& fake = FakeLib(FakeLibFolder());
  fake.media_size = 3 << 20;
  fake.fail_read_at = (2 << 20) + 5;
  const std::string folder = ScratchFolder("hash-failure");
  testing::WriteFile(folder + "disk.vmdk", "");
  const Outcome r =
      RunCli({"convert", "--hash", "sha256", folder + "disk.vmdk", "-o", folder + "out.dd"},
             FakeLibFolder());
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(Matches(r.err, "read failed at offset 2097152\ndone in [0-9]+ms\n")) << r.err;
}

TEST(Cli, TheProgressLineReachesTheEndOnATerminal) {
  const std::string target = ScratchFolder("progress") + "out.dd";
  const Outcome r = RunCli({"convert", Images() + "streamOptimized/disk.vmdk", "-o", target},
                           RealLibFolder(), true);
  EXPECT_EQ(r.code, 0);
  EXPECT_TRUE(Matches(r.err, "(\r[ 0-9]+%[^\r\n]*)*\r100%[^\r\n]*\ndone in [0-9]+ms\n")) << r.err;
}

TEST(Cli, UsageErrorsExitTwoAndHelpAndVersionZero) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{},
        {"size"},
        {"frobnicate", "x"},
        {"convert", "a", "--bogus"},
        {"convert", "a", "--hash", "crc32"},
        {"convert", "a", "--engine", "chunk", "--sparse"},
        {"convert", "a", "--engine", "chunk", "--hash", "md5"}}) {
    EXPECT_EQ(RunCli(args).code, 2) << args.size();
  }
  const Outcome version = RunCli({"--version"});
  EXPECT_EQ(version.code, 0);
  EXPECT_EQ(version.out, "tessaly-cli 0.1\n");
  const Outcome help = RunCli({"--help"});
  EXPECT_EQ(help.code, 0);
  EXPECT_THAT(help.out, ::testing::HasSubstr("convert"));
}

}  // namespace
}  // namespace tessaly::cli
