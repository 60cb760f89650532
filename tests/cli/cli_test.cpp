// tessaly-cli's words and exit codes, run in process on real images.
#include "cli/cli.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <regex>
#include <sstream>
#include <vector>

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

// Whole-text match with ECMAScript syntax, the same on every platform.
bool Matches(const std::string& text, const char* pattern) {
  return std::regex_match(text, std::regex(pattern));
}

struct Outcome {
  int code;
  std::string out;
  std::string err;
};

Outcome RunCli(std::vector<std::string> args, const std::string& library = RealLibFolder(),
               bool terminal = false) {
  args.insert(args.begin(), "tessaly-cli");
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  std::ostringstream out;
  std::ostringstream err;
  const int code =
      Run(static_cast<int>(argv.size()), argv.data(), out, err, terminal, library.c_str());
  return {code, out.str(), err.str()};
}

// What a shell command prints on stdout.
std::string Shell(const std::string& command) {
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  std::string text;
  char buffer[4096];
  while (pipe && std::fgets(buffer, sizeof buffer, pipe.get()) != nullptr) text += buffer;
  return text;
}

std::string Quoted(const std::string& path) { return "'" + path + "'"; }

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

TEST(Cli, HashPrintsWhatCoreutilsPrintsForTheTarget) {
  const std::string scratch = ScratchFolder("hash");
  struct Case {
    std::vector<std::string> options;
    const char* tool;
    std::string target;
  };
  for (const Case& c : {
           Case{{"--hash", "sha256"}, "sha256sum", scratch + "out.dd"},
           Case{{"--sparse", "--hash", "md5"}, "md5sum", scratch + "sparse.dd"},
           Case{{"--hash", "sha1"}, "sha1sum", scratch + "back\\slash.dd"},
           Case{{"--hash", "sha256"}, "sha256sum", scratch + "new\nline.dd"},
       }) {
    std::vector<std::string> args{"convert", Images() + "monolithicSparse/disk.vmdk", "-o",
                                  c.target};
    args.insert(args.end(), c.options.begin(), c.options.end());
    const Outcome r = RunCli(args);
    EXPECT_EQ(r.code, 0) << c.target;
    EXPECT_TRUE(Matches(r.err, "done in [0-9]+ms\n")) << r.err;
    EXPECT_TRUE(ReadFile(c.target) == ReadFile(Images() + "monolithicSparse/expected.raw"));
    // The digest of the target file, named as the user named it.
    EXPECT_EQ(r.out, Shell(std::string(c.tool) + " " + Quoted(c.target))) << c.target;
    // ... which is the digest of the media.
    std::string hex = r.out.substr(0, r.out.find(' '));
    if (!hex.empty() && hex[0] == '\\') hex.erase(0, 1);
    const std::string media =
        Shell(std::string(c.tool) + " < " + Quoted(Images() + "monolithicSparse/expected.raw"));
    EXPECT_EQ(hex, media.substr(0, media.find(' ')));
  }

  // Without -o the line names the target beside the image.
  const std::string image = scratch + "disk.vmdk";
  testing::WriteFile(image, ReadFile(Images() + "streamOptimized/disk.vmdk"));
  const Outcome beside = RunCli({"convert", "--hash", "sha256", image});
  EXPECT_EQ(beside.code, 0);
  EXPECT_EQ(beside.out, Shell("sha256sum " + Quoted(scratch + "disk.dd")));
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
