// tessaly-cli --hash, checked against what coreutils prints for the target.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include "cli/run_cli.h"
#include "support/test_env.h"

namespace tessaly::cli {
namespace {

using testing::Images;
using testing::ReadFile;
using testing::ScratchFolder;

// What a shell command prints on stdout.
std::string Shell(const std::string& command) {
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  std::string text;
  char buffer[4096];
  while (pipe && std::fgets(buffer, sizeof buffer, pipe.get()) != nullptr) text += buffer;
  return text;
}

std::string Quoted(const std::string& path) { return "'" + path + "'"; }

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

}  // namespace
}  // namespace tessaly::cli
