// The commands on images made by qemu-img, through the real libvmdk, with
// qemu-img's own raw output as the expected bytes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "commands/commands.h"
#include "platform/error.h"
#include "platform/platform.h"
#include "support/recording_host.h"
#include "support/test_env.h"

namespace tessaly::commands {
namespace {

using ::testing::ElementsAre;
using testing::Images;
using testing::ReadFile;
using testing::RealLibFolder;
using testing::RecordingHost;
using testing::ScratchFolder;

struct RealRun {
  RecordingHost host;
  LibSlot current_lib;
  Session session{host, current_lib, RealLibFolder()};
  explicit RealRun(const std::string& image) {
    host.choice = ImageChoice{platform::NativePath(image), std::nullopt};
  }
};

class EverySubformat : public ::testing::TestWithParam<const char*> {};

TEST_P(EverySubformat, ConvertsToQemuImgsBytes) {
  const std::string image = Images() + GetParam() + "/disk.vmdk";
  const std::string target = ScratchFolder(GetParam()) + "disk.raw";
  RealRun run(image);
  ConvertOptions options;
  options.target = target;
  EXPECT_EQ(RunConversion(run.session, options).outcome, Outcome::kDone);
  EXPECT_TRUE(run.host.messages.empty());
  const std::string expected = ReadFile(Images() + GetParam() + "/expected.raw");
  ASSERT_EQ(expected.size(), 5u * 1048576 + 1536);
  EXPECT_TRUE(ReadFile(target) == expected) << "bytes differ from qemu-img's";
  EXPECT_EQ(run.host.position, run.host.range_max);

  RealRun size(image);
  size.host.has_clipboard = false;
  EXPECT_EQ(RunSizeReport(size.session).outcome, Outcome::kDone);
  EXPECT_THAT(size.host.events.back(), "result:5244416 Bytes\r\n5121 KBytes\r\n5 MBytes");
}

INSTANTIATE_TEST_SUITE_P(QemuImg, EverySubformat,
                         ::testing::Values("monolithicSparse", "monolithicFlat",
                                           "twoGbMaxExtentSparse", "twoGbMaxExtentFlat",
                                           "streamOptimized"));

TEST(RealImages, TheDefaultTargetSitsBesideTheSource) {
  const std::string folder = ScratchFolder("beside");
  const std::string image = folder + "disk.vmdk";
  testing::WriteFile(image, ReadFile(Images() + "streamOptimized/disk.vmdk"));
  RealRun run(image);
  EXPECT_EQ(RunConversion(run.session, {}).outcome, Outcome::kDone);
  EXPECT_TRUE(ReadFile(folder + "disk.dd") == ReadFile(Images() + "streamOptimized/expected.raw"));
}

TEST(RealImages, ImagesLibvmdkCannotReadRaiseOrSayWhy) {
  for (const char* name :
       {"missing-extent/disk.vmdk", "not-an-image.vmdk", "does-not-exist.vmdk"}) {
    RealRun run(Images() + name);
    ConvertOptions options;
    options.target = ScratchFolder("unreadable") + "out.dd";
    try {
      RunConversion(run.session, options);
      ADD_FAILURE() << name << ": no exception";
    } catch (const Error& e) {
      EXPECT_STREQ(e.what(), "Unable to open extent data files") << name;
    }
    EXPECT_EQ(run.current_lib, nullptr);
  }
  for (const char* name : {"not-an-image.vmdk", "does-not-exist.vmdk"}) {
    RealRun run(Images() + name);
    EXPECT_EQ(RunSizeReport(run.session).outcome, Outcome::kFailed) << name;
    EXPECT_THAT(run.host.MessageTexts(), ElementsAre("libvmdk_get_media_size failed")) << name;
    EXPECT_EQ(run.host.clipboard, "untouched");
  }
}

TEST(RealImages, SizeReportOfAGibImage) {
  RealRun run(Images() + "gib.vmdk");
  EXPECT_EQ(RunSizeReport(run.session).outcome, Outcome::kDone);
  EXPECT_EQ(run.host.clipboard, "1073741824 Bytes\r\n1048576 KBytes\r\n1024 MBytes");
}

}  // namespace
}  // namespace tessaly::commands
