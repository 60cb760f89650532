// The two commands against the scriptable fake libvmdk, and the rules they
// are built from.
#include "commands/commands.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <limits>

#include "commands/texts.h"
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
using testing::WriteFile;

std::string FakeMedia(std::int64_t size) {
  std::string bytes(static_cast<std::size_t>(size), '\0');
  for (std::int64_t k = 0; k < size; ++k) bytes[k] = static_cast<char>(FakeMediaByte(k));
  return bytes;
}

bool Exists(const std::string& path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0;
}

TEST(SizeReportText, DropsRemaindersAndJoinsLinesWithCrLf) {
  struct Case {
    std::int64_t size;
    const char* text;
  };
  for (const Case& c : {Case{1023, "1023 Bytes\r\n0 KBytes\r\n0 MBytes"},
                        Case{1024, "1024 Bytes\r\n1 KBytes\r\n0 MBytes"},
                        Case{1073741824, "1073741824 Bytes\r\n1048576 KBytes\r\n1024 MBytes"},
                        Case{5368709121, "5368709121 Bytes\r\n5242880 KBytes\r\n5120 MBytes"}}) {
    EXPECT_EQ(SizeReportText(c.size), c.text) << c.size;
  }
}

TEST(TargetPathFor, ReplacesOrAddsTheExtensionOfTheFileName) {
  EXPECT_EQ(TargetPathFor("/vm/disk1.vmdk"), "/vm/disk1.dd");
  EXPECT_EQ(TargetPathFor("/vm.old/disk1"), "/vm.old/disk1.dd");
  EXPECT_EQ(TargetPathFor("image"), "image.dd");
  EXPECT_EQ(TargetPathFor("/a/b.c.VMDK"), "/a/b.c.dd");
  EXPECT_EQ(TargetPathFor("/a/disk.dd"), "/a/disk.dd");
}

TEST(ProgressScale, FitsEverySizeIntoTheBarsRange) {
  constexpr std::int64_t kIntMax = std::numeric_limits<int>::max();
  for (std::int64_t size : {std::int64_t{1}, std::int64_t{3} * 65536, std::int64_t{5} << 30,
                            std::int64_t{1} << 62, std::numeric_limits<std::int64_t>::max()}) {
    const ProgressScale scale(size);
    EXPECT_GT(scale.Max(), 0) << size;
    EXPECT_LE(scale.Max(), kIntMax) << size;
    EXPECT_EQ(scale.Position(0), 0) << size;
    EXPECT_EQ(scale.Position(size), scale.Max()) << size;
    EXPECT_LE(scale.Position(size / 2), scale.Max() / 2 + 1) << size;
    EXPECT_GE(scale.Position(size / 2), scale.Max() / 2 - 1) << size;
  }
  EXPECT_EQ(ProgressScale(1).Max(), 1);
  EXPECT_EQ(ProgressScale(3 * 65536).Max(), 3 * 65536);
}

class CommandTest : public ::testing::Test {
 protected:
  Result SizeReport() {
    Session session{host, current_lib, FakeLibFolder()};
    Result result = RunSizeReport(session);
    EXPECT_EQ(current_lib, nullptr);
    return result;
  }
  Result Convert(ConvertOptions options = {}) {
    Session session{host, current_lib, FakeLibFolder()};
    Result result = RunConversion(session, options);
    EXPECT_EQ(current_lib, nullptr);
    return result;
  }
  void TearDown() override {
    EXPECT_EQ(fake.handles_alive, 0);
    EXPECT_EQ(fake.errors_alive, 0);
    EXPECT_EQ(fake.null_handle_calls, 0);
    EXPECT_EQ(fake.descriptors_alive, 0);
  }

  FakeScript& fake = FakeLib(FakeLibFolder());
  RecordingHost host;
  LibSlot current_lib;
  std::string folder =
      ScratchFolder(::testing::UnitTest::GetInstance()->current_test_info()->name());
  // The fake reads no file, but the image must exist like any chosen file.
  std::string source = WriteSource(folder + "disk.vmdk");
  std::string target = folder + "disk.dd";

 private:
  static std::string WriteSource(const std::string& path) {
    WriteFile(path, "");
    return path;
  }
};

// Lowers the file size limit for one scope; writes past it fail with EFBIG.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &old_);
    struct rlimit limit = old_;
    limit.rlim_cur = bytes;
    old_handler_ = signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &old_);
    signal(SIGXFSZ, old_handler_);
  }

 private:
  struct rlimit old_;
  sighandler_t old_handler_;
};

TEST_F(CommandTest, SizeReportShowsTheReportThenFillsTheClipboard) {
  fake.media_size = 1073741824;
  host.choice = ImageChoice{source, std::nullopt};
  EXPECT_EQ(SizeReport().outcome, Outcome::kDone);
  const std::string report = "1073741824 Bytes\r\n1048576 KBytes\r\n1024 MBytes";
  EXPECT_THAT(host.events, ElementsAre("choose:VMDK|*.VMDK",
                                       "message:" + report + "\r\n\r\ndata pasted in clipboard",
                                       "clipboard:" + report));
  EXPECT_STREQ(fake.last_open_path, source.c_str());
  EXPECT_EQ(fake.open_extent_files_calls, 0);
}

TEST_F(CommandTest, SizeReportGoesToTheResultWhereThereIsNoClipboard) {
  host.has_clipboard = false;
  host.choice = ImageChoice{source, std::nullopt};
  EXPECT_EQ(SizeReport().outcome, Outcome::kDone);
  EXPECT_THAT(host.events,
              ElementsAre("choose:VMDK|*.VMDK", "result:1048576 Bytes\r\n1024 KBytes\r\n1 MBytes"));
}

TEST_F(CommandTest, SizeReportFailuresLeaveTheClipboardAlone) {
  host.choice = ImageChoice{source, std::nullopt};
  fake.media_size = 0;
  EXPECT_EQ(SizeReport().outcome, Outcome::kFailed);
  fake.media_size_written = 0;  // the size query failed
  EXPECT_EQ(SizeReport().outcome, Outcome::kFailed);
  EXPECT_THAT(host.MessageTexts(),
              ElementsAre("libvmdk_get_media_size failed", "libvmdk_get_media_size failed"));
  EXPECT_EQ(host.clipboard, "untouched");

  // No handle: no message, but the result says why.
  fake.initialize_result = -1;
  const Result silent = SizeReport();
  EXPECT_EQ(silent.outcome, Outcome::kFailed);
  EXPECT_EQ(silent.note, texts::kNoHandle);
  EXPECT_EQ(host.messages.size(), 2u);
}

TEST_F(CommandTest, CancelledDialogsDoNothingElse) {
  EXPECT_EQ(SizeReport().outcome, Outcome::kCancelled);
  EXPECT_EQ(Convert().outcome, Outcome::kCancelled);
  EXPECT_THAT(host.events, ElementsAre("choose:VMDK|*.VMDK", "debug:start", "choose:VMDK|*.VMDK"));
  EXPECT_EQ(fake.initialize_calls, 0);
}

TEST_F(CommandTest, ConversionCopiesEveryByteInOrder) {
  // Less than a chunk, exactly three chunks, and three chunks and a bit.
  for (std::int64_t size :
       {std::int64_t{1000}, std::int64_t{3} * 65536, std::int64_t{3} * 65536 + 7}) {
    fake.media_size = size;
    host = RecordingHost{};
    host.choice = ImageChoice{source, std::nullopt};
    EXPECT_EQ(Convert().outcome, Outcome::kDone) << size;
    EXPECT_EQ(ReadFile(target), FakeMedia(size)) << size;
    EXPECT_EQ(host.events.front(), "debug:start");
    EXPECT_EQ(host.range_max, static_cast<int>(size));
    EXPECT_EQ(host.position, static_cast<int>(size));
    EXPECT_TRUE(host.messages.empty());
    EXPECT_EQ(host.status.rfind("done in ", 0), 0u) << host.status;
    EXPECT_EQ(host.status.substr(host.status.size() - 2), "ms");
  }
}

TEST_F(CommandTest, ConversionReplacesAnOldTarget) {
  WriteFile(target, std::string(5u << 20, 'x'));
  host.choice = ImageChoice{source, std::nullopt};
  EXPECT_EQ(Convert().outcome, Outcome::kDone);
  EXPECT_EQ(ReadFile(target), FakeMedia(1 << 20));
}

TEST_F(CommandTest, ShortReadsNeverShiftTheOutput) {
  fake.short_read_at = 65536;
  host.choice = ImageChoice{source, std::nullopt};
  EXPECT_EQ(Convert().outcome, Outcome::kDone);
  EXPECT_EQ(ReadFile(target), FakeMedia(1 << 20));
}

TEST_F(CommandTest, ReadFailuresSayWhereAndKeepWhatWasCopied) {
  struct Case {
    std::int64_t FakeScript::*fault;
    std::int64_t offset;
  };
  for (const Case& c :
       {Case{&FakeScript::fail_read_at, 65536}, Case{&FakeScript::zero_read_at, 131072},
        Case{&FakeScript::oversized_read_at, 0}}) {
    FakeLib(FakeLibFolder());
    fake.*c.fault = c.offset;
    host = RecordingHost{};
    host.choice = ImageChoice{source, std::nullopt};
    EXPECT_EQ(Convert().outcome, Outcome::kFailed);
    EXPECT_THAT(host.MessageTexts(),
                ElementsAre("read failed at offset " + std::to_string(c.offset)));
    EXPECT_EQ(ReadFile(target), FakeMedia(c.offset));
    EXPECT_EQ(host.events.back().rfind("status:done in ", 0), 0u);
  }
}

TEST_F(CommandTest, UnopenableExtentsRaiseBeforeAnyTargetExists) {
  fake.open_extent_files_result = -1;
  host.choice = ImageChoice{source, std::nullopt};
  try {
    Convert();
    FAIL() << "no exception";
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "Unable to open extent data files");
    EXPECT_EQ(e.details(), "fake libvmdk: open extent data files failed");
  }
  EXPECT_EQ(current_lib, nullptr);
  EXPECT_FALSE(Exists(target));
}

TEST_F(CommandTest, NoMediaSizeMeansNoTarget) {
  host.choice = ImageChoice{source, std::nullopt};
  for (int written : {1, 0}) {
    fake.media_size = 0;
    fake.media_size_written = written;
    EXPECT_EQ(Convert().outcome, Outcome::kFailed);
  }
  EXPECT_THAT(host.MessageTexts(),
              ElementsAre("libvmdk_get_media_size failed", "libvmdk_get_media_size failed"));
  EXPECT_FALSE(Exists(target));
  EXPECT_TRUE(host.status.empty());
}

TEST_F(CommandTest, ATargetThatCannotBeReplacedFailsTheWrite) {
  // A non-empty directory at the target path survives the delete.
  ASSERT_EQ(mkdir(target.c_str(), 0755), 0);
  WriteFile(target + "/keep", "kept");
  host.choice = ImageChoice{source, std::nullopt};
  EXPECT_EQ(Convert().outcome, Outcome::kFailed);
  EXPECT_THAT(host.MessageTexts(), ElementsAre("writefile failed"));
  // The reason is why the target could not be made.
  EXPECT_EQ(host.messages[0].reason, "File exists");
  EXPECT_EQ(ReadFile(target + "/keep"), "kept");
  EXPECT_EQ(host.events.back().rfind("status:done in ", 0), 0u);
}

TEST_F(CommandTest, TargetsThatCannotHoldTheImageFailWithTheReason) {
  host.choice = ImageChoice{source, std::nullopt};
  Result result;
  {
    FileSizeLimit limit(65536 + 100);
    // Refused up front, naming both sizes, before any file is made.
    EXPECT_EQ(Convert().outcome, Outcome::kFailed);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].text, "writefile failed");
    EXPECT_EQ(host.messages[0].reason,
              "the raw image needs 1048576 bytes, but files where it goes can hold at most "
              "65636 bytes");
    EXPECT_FALSE(Exists(target));
    host = RecordingHost{};
    host.choice = ImageChoice{source, std::nullopt};
    // Without that check (as for sparse targets) the second chunk's write
    // meets the limit.
    ConvertOptions options;
    options.check_space = false;
    result = Convert(options);
  }

  EXPECT_EQ(result.outcome, Outcome::kFailed);
  ASSERT_EQ(host.messages.size(), 1u);
  EXPECT_EQ(host.messages[0].text, "writefile failed");
  EXPECT_EQ(host.messages[0].reason, "File too large");
  // The bar stopped after the one chunk that was written whole.
  EXPECT_EQ(host.position, 65536);
  EXPECT_EQ(host.events.back().rfind("status:done in ", 0), 0u);
}

TEST_F(CommandTest, RefusesToWriteOverItsSource) {
  const std::string raw = folder + "disk.dd";
  WriteFile(raw, "the source");
  const std::string hard_link = folder + "hard.dd";
  const std::string soft_link = folder + "soft.dd";
  ASSERT_EQ(link(raw.c_str(), hard_link.c_str()), 0);
  ASSERT_EQ(symlink(raw.c_str(), soft_link.c_str()), 0);

  host.choice = ImageChoice{raw, std::nullopt};
  for (const std::string& to : {std::string(), hard_link, soft_link}) {
    ConvertOptions options;
    options.target = to;
    EXPECT_EQ(Convert(options).outcome, Outcome::kFailed) << to;
  }
  EXPECT_THAT(host.MessageTexts(),
              ElementsAre(texts::kSameFile, texts::kSameFile, texts::kSameFile));
  EXPECT_EQ(ReadFile(raw), "the source");
  EXPECT_TRUE(Exists(hard_link));
  EXPECT_TRUE(Exists(soft_link));
  EXPECT_EQ(fake.initialize_calls, 0);
}

TEST_F(CommandTest, ExtentsInSubfoldersAreLookedUpInAPrivateFolder) {
  fake.extent_type = 1;  // flat, with a file
  ASSERT_TRUE(std::filesystem::create_directory(folder + "sub"));
  WriteFile(folder + "sub/disk-flat.vmdk", "flat");
  std::snprintf(fake.extent_name, sizeof fake.extent_name, "disk-flat.vmdk");
  host.choice = ImageChoice{source, std::nullopt};
  // A plain name is left to the library's own look-up beside the image.
  EXPECT_THROW(Convert(), Error);  // no disk-flat.vmdk beside the image
  EXPECT_STREQ(fake.extent_data_files_path, "");
  std::snprintf(fake.extent_name, sizeof fake.extent_name, "sub/disk-flat.vmdk");
  EXPECT_EQ(Convert().outcome, Outcome::kDone);
  const std::string staged = fake.extent_data_files_path;
  ASSERT_FALSE(staged.empty());
  EXPECT_EQ(staged.find(folder), std::string::npos) << staged;
  // The folder of links is gone with the conversion.
  EXPECT_FALSE(Exists(staged));
}

TEST(CommandsOnABareLibrary, RefuseWhatTheyCannotCheck) {
  FakeLib(testing::BareFakeLibFolder());
  const std::string folder = ScratchFolder("bare");
  WriteFile(folder + "disk.vmdk", "");
  RecordingHost host;
  host.choice = ImageChoice{folder + "disk.vmdk", std::nullopt};
  LibSlot current_lib;
  Session session{host, current_lib, testing::BareFakeLibFolder()};
  try {
    RunConversion(session, {});
    FAIL() << "no exception";
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "checking an image's files is not supported by this libvmdk");
  }
  EXPECT_FALSE(Exists(folder + "disk.dd"));
}

TEST(CommandsWithoutLibrary, RaiseTheMissingLibraryAndLeaveNoBinding) {
  const std::string folder = ScratchFolder("no-library");
  RecordingHost host;
  host.choice = ImageChoice{folder + "disk.vmdk", std::nullopt};
  LibSlot current_lib;
  Session session{host, current_lib, folder};
  WriteFile(folder + "disk.dd", "old target");

  EXPECT_THROW(RunSizeReport(session), Error);
  try {
    RunConversion(session, {});
    FAIL() << "no exception";
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "could not find libvmdk.so");
  }
  EXPECT_EQ(current_lib, nullptr);
  // A conversion that cannot start leaves an old target as it was.
  EXPECT_EQ(ReadFile(folder + "disk.dd"), "old target");
}

}  // namespace
}  // namespace tessaly::commands
