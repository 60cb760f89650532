// Images from strangers, made by tests/fixtures/make_hostile.sh: each row
// says what tessaly-cli must answer, and every row checks that the image's
// folder is exactly as it was and that no target is left where it failed.
#include <dirent.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <sstream>
#include <vector>

#include "cli/cli.h"
#include "support/test_env.h"

namespace tessaly::cli {
namespace {

using testing::EnvPath;
using testing::ReadFile;
using testing::RealLibFolder;
using testing::ScratchFolder;

std::string Hostile() { return EnvPath("TESSALY_HOSTILE"); }

// Every entry below `folder`: regular files by content, links by target,
// anything else by its kind. Nothing is opened that could block.
void Snapshot(const std::string& folder, std::map<std::string, std::string>& entries) {
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return;
  while (dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    const std::string path = folder + "/" + name;
    struct stat info;
    if (lstat(path.c_str(), &info) != 0) continue;
    if (S_ISLNK(info.st_mode)) {
      char target[4096];
      const ssize_t n = readlink(path.c_str(), target, sizeof target);
      entries[path] = "link:" + std::string(target, n > 0 ? n : 0);
    } else if (S_ISDIR(info.st_mode)) {
      entries[path] = "dir";
      Snapshot(path, entries);
    } else if (S_ISREG(info.st_mode)) {
      // Sparse giants are compared by size only.
      entries[path] =
          info.st_size > (64 << 20) ? "size:" + std::to_string(info.st_size) : ReadFile(path);
    } else {
      entries[path] = "other";
    }
  }
  closedir(dir);
}

struct Row {
  const char* image;              // below the hostile images' folder
  std::vector<std::string> args;  // before IMAGE; "-o TARGET" is added unless given
  int exit_code;
  const char* err;  // a regular expression for the first line on stderr
  // kNone: no target is left; kQemuBytes: it equals qemu-img's expected.raw;
  // kPrefix: a failed read may leave what came before it, and nothing else.
  enum Target { kNone, kQemuBytes, kPrefix } target;
};

class HostileImages : public ::testing::TestWithParam<Row> {};

TEST_P(HostileImages, AnswerPlainlyAndTouchNothing) {
  const Row& row = GetParam();
  const std::string image = Hostile() + row.image;
  const std::string case_folder =
      Hostile() + std::string(row.image).substr(0, std::string(row.image).find('/'));
  std::map<std::string, std::string> before;
  Snapshot(Hostile().substr(0, Hostile().size() - 1), before);

  const std::string target = ScratchFolder("hostile") + "out.dd";
  std::vector<std::string> args = {"tessaly-cli"};
  // "@/" in a row stands for the hostile images' folder.
  for (const std::string& arg : row.args) {
    args.push_back(arg.rfind("@/", 0) == 0 ? Hostile() + arg.substr(2) : arg);
  }
  args.push_back(image);
  const bool own_target = std::find(row.args.begin(), row.args.end(), "-o") != row.args.end();
  if (!own_target) {
    args.push_back("-o");
    args.push_back(target);
  }
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  std::ostringstream out;
  std::ostringstream err;
  const int code = cli::Run(static_cast<int>(argv.size()), argv.data(), out, err, false,
                            RealLibFolder().c_str());

  EXPECT_EQ(code, row.exit_code) << err.str();
  const std::string first_line = err.str().substr(0, err.str().find('\n'));
  EXPECT_THAT(first_line, ::testing::ContainsRegex(row.err));
  if (row.target == Row::kQemuBytes) {
    EXPECT_TRUE(ReadFile(target) == ReadFile(case_folder + "/expected.raw"))
        << "bytes differ from qemu-img's";
  } else if (row.target == Row::kPrefix) {
    long long offset = -1;
    if (std::sscanf(first_line.c_str(), "read failed at offset %lld", &offset) == 1) {
      EXPECT_EQ(static_cast<long long>(ReadFile(target).size()), offset);
    }
  } else if (!own_target) {
    struct stat info;
    EXPECT_NE(lstat(target.c_str(), &info), 0) << "a target was left behind";
  }
  std::map<std::string, std::string> after;
  Snapshot(Hostile().substr(0, Hostile().size() - 1), after);
  EXPECT_TRUE(before == after) << "the images' files changed";
}

const Row kRows[] = {
    // Snapshot chains read like qemu-img reads them; broken ones are named.
    {"chain/top.vmdk", {"convert"}, 0, "^done in", Row::kQemuBytes},
    {"missing-parent/top.vmdk",
     {"convert"},
     1,
     "^the parent image .*/base.vmdk of .*/mid.vmdk is missing$",
     Row::kNone},
    {"foreign-parent/mid.vmdk",
     {"convert"},
     1,
     "^the parent image .*/base.vmdk does not belong to .*/mid.vmdk$",
     Row::kNone},
    {"loop/base.vmdk",
     {"convert"},
     1,
     "^the snapshot chain loops back to .*/base.vmdk$",
     Row::kNone},
    // A renamed image reads itself, never the file its descriptor names.
    {"renamed/b2.vmdk", {"convert"}, 0, "^done in", Row::kQemuBytes},
    {"renamed-alone/b2.vmdk", {"convert"}, 0, "^done in", Row::kQemuBytes},
    // Extent names are followed only where they stay beside the image.
    {"subfolder/disk.vmdk", {"convert"}, 0, "^done in", Row::kQemuBytes},
    {"parent-step/disk.vmdk",
     {"convert"},
     1,
     "extent file ../disk-flat.vmdk lies outside",
     Row::kNone},
    {"absolute/disk.vmdk", {"convert"}, 1, "by an absolute path \\(/etc/passwd\\)", Row::kNone},
    {"link-out/disk.vmdk",
     {"convert"},
     1,
     "is a link to .*/elsewhere/disk-flat.vmdk, outside",
     Row::kNone},
    {"link-out/disk.vmdk", {"convert", "--follow-links"}, 0, "^done in", Row::kQemuBytes},
    {"fifo/disk.vmdk", {"convert"}, 1, "disk-flat.vmdk is not a regular file$", Row::kNone},
    {"directory/disk.vmdk", {"convert"}, 1, "disk-flat.vmdk is not a regular file$", Row::kNone},
    {"no-extents/disk.vmdk",
     {"convert"},
     1,
     "^the image .*/disk.vmdk names no extent files$",
     Row::kNone},
    // Lies about the size, and images cut short.
    {"huge/disk.vmdk", {"convert"}, 1, "^Unable to open extent data files$", Row::kNone},
    {"too-big/disk.vmdk",
     {"convert"},
     1,
     "^writefile failed: the raw image needs 8796093022208 bytes, but only [0-9]+ bytes are free",
     Row::kNone},
    {"truncated/disk.vmdk",
     {"convert"},
     1,
     "^(read failed at offset [0-9]+|Unable to open extent data files)$",
     Row::kPrefix},
    // The target is never a file the image reads.
    {"link-out/disk.vmdk",
     {"convert", "--follow-links", "-o", "@/elsewhere/disk-flat.vmdk"},
     1,
     "^source and target are the same file",
     Row::kNone},
    {"chain/top.vmdk",
     {"convert", "-o", "@/chain/base.vmdk"},
     1,
     "^source and target are the same file",
     Row::kNone},
    {"subfolder/disk.vmdk",
     {"convert", "-o", "@/subfolder/sub/disk-flat.vmdk"},
     1,
     "^source and target are the same file",
     Row::kNone},
};

INSTANTIATE_TEST_SUITE_P(Table, HostileImages, ::testing::ValuesIn(kRows));

}  // namespace
}  // namespace tessaly::cli
