#include "vmdk/libvmdk.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "platform/error.h"
#include "support/test_env.h"

namespace tessaly::vmdk {
namespace {

using testing::BareFakeLibFolder;
using testing::FakeLib;
using testing::FakeLibFolder;
using testing::Images;
using testing::RealLibFolder;
using testing::ScratchFolder;

std::string CreateError(const std::string& folder) {
  try {
    TLibVMDK lib(folder);
  } catch (const Error& e) {
    return e.what();
  }
  return "no error";
}

TEST(LibraryLookup, AbsentOrUnloadableLibraryIsReportedByName) {
  const std::string name = platform::kLibraryFileName;
  const std::string empty = ScratchFolder("empty");
  EXPECT_EQ(CreateError(empty), "could not find " + name);

  const std::string with_dir = ScratchFolder("with-dir");
  ASSERT_TRUE(std::filesystem::create_directory(with_dir + name));
  EXPECT_EQ(CreateError(with_dir), "could not find " + name);

  const std::string broken = ScratchFolder("broken");
  testing::WriteFile(broken + name, "not a shared object");
  EXPECT_EQ(CreateError(broken).rfind("could not load " + name + ": ", 0), 0u)
      << CreateError(broken);
}

class FakeBinding : public ::testing::Test {
 protected:
  FakeScript& fake = FakeLib(FakeLibFolder());
};

TEST_F(FakeBinding, HandleLifeCycleFollowsTheLibrary) {
  {
    TLibVMDK lib(FakeLibFolder());
    EXPECT_EQ(lib.Open("/images/disk.vmdk", kAccessRead), 0);
    EXPECT_STREQ(fake.last_open_path, "/images/disk.vmdk");
    EXPECT_EQ(lib.OpenExtentDataFiles(), 1);
    EXPECT_EQ(lib.GetMediaSize(), 1 << 20);

    std::vector<unsigned char> buffer(100);
    EXPECT_EQ(lib.ReadBufferAtOffset(buffer.data(), 100, 5000), 100);
    EXPECT_EQ(buffer[7], FakeMediaByte(5007));
    EXPECT_EQ(lib.ReadBufferAtOffset(buffer.data(), 100, 1 << 20), 0);
    EXPECT_EQ(fake.handles_alive, 1);
  }
  // Destroy closed and freed the handle that was still open.
  EXPECT_EQ(fake.close_calls, 1);
  EXPECT_EQ(fake.free_calls, 1);
  EXPECT_EQ(fake.handles_alive, 0);
  EXPECT_EQ(fake.null_handle_calls, 0);
}

TEST_F(FakeBinding, CloseThenDestroyClosesOnce) {
  {
    TLibVMDK lib(FakeLibFolder());
    ASSERT_EQ(lib.Open("x", kAccessRead), 0);
    lib.Close();
    EXPECT_EQ(fake.handles_alive, 0);
  }
  EXPECT_EQ(fake.close_calls, 1);
  EXPECT_EQ(fake.free_calls, 1);
}

TEST_F(FakeBinding, AFailedCloseStillFreesTheHandle) {
  fake.close_result = -1;
  {
    TLibVMDK lib(FakeLibFolder());
    ASSERT_EQ(lib.Open("x", kAccessRead), 0);
    lib.Close();
    EXPECT_EQ(lib.GetMediaSize(), -1);
    EXPECT_EQ(fake.handles_alive, 0);
  }
  EXPECT_EQ(fake.close_calls, 1);
  EXPECT_EQ(fake.free_calls, 1);
}

TEST_F(FakeBinding, FailuresAreResultsAndTheLibrarysErrorsAreFreed) {
  fake.initialize_result = -1;
  {
    TLibVMDK lib(FakeLibFolder());
    EXPECT_EQ(lib.Open("x", kAccessRead), -1);
    EXPECT_EQ(fake.open_calls, 0);
    EXPECT_EQ(lib.LastErrorDetails(), "fake libvmdk: initialize failed");
    // Never opened: no size, and the library is not asked.
    EXPECT_EQ(lib.GetMediaSize(), -1);
    EXPECT_EQ(fake.media_size_calls, 0);
    // Closing with no handle calls the library's close, which fails.
    lib.Close();
    EXPECT_EQ(fake.free_calls, 0);
  }
  EXPECT_EQ(fake.errors_alive, 0);
}

TEST_F(FakeBinding, ResultsOutsideTheSignedRangesReadAsFailures) {
  TLibVMDK lib(FakeLibFolder());
  ASSERT_EQ(lib.Open("x", kAccessRead), 0);

  fake.media_size_written = 0;
  EXPECT_EQ(lib.GetMediaSize(), -1);
  fake.media_size_written = 1;
  fake.media_size = -5;  // a size past 2^63 as the library would write it
  EXPECT_LT(lib.GetMediaSize(), 0);

  fake.media_size = 1 << 20;
  std::vector<unsigned char> buffer(64);
  fake.oversized_read_at = 0;
  EXPECT_EQ(lib.ReadBufferAtOffset(buffer.data(), 64, 0), -1);
  EXPECT_EQ(lib.ReadBufferAtOffset(buffer.data(), -1, 64), -1);
  fake.fail_read_at = 64;
  EXPECT_EQ(lib.ReadBufferAtOffset(buffer.data(), 64, 64), -1);
  EXPECT_EQ(lib.LastErrorDetails(), "fake libvmdk: read failed");
}

TEST(BareLibrary, MissingEntryPointsAreNeverCalled) {
  FakeScript& fake = FakeLib(BareFakeLibFolder());
  {
    TLibVMDK lib(BareFakeLibFolder());
    EXPECT_FALSE(lib.HasOpenWide());
    EXPECT_EQ(lib.OpenWide(L"x", kAccessRead), -1);
    EXPECT_EQ(lib.Open("x", kAccessRead), 0);
    EXPECT_EQ(lib.OpenExtentDataFiles(), -1);
    EXPECT_EQ(lib.GetMediaSize(), -1);
    unsigned char buffer[16];
    EXPECT_EQ(lib.ReadBufferAtOffset(buffer, 16, 0), -1);
  }
  EXPECT_EQ(fake.handles_alive, 0);
}

TEST(RealLibrary, OpensImagesAndRefusesOtherFiles) {
  TLibVMDK image(RealLibFolder());
  ASSERT_EQ(image.Open(Images() + "gib.vmdk", kAccessRead), 0);
  EXPECT_EQ(image.GetMediaSize(), std::int64_t{1} << 30);
  EXPECT_EQ(image.OpenExtentDataFiles(), 1);

  // A handle exists even though the file is no image; the next calls say so.
  TLibVMDK other(RealLibFolder());
  EXPECT_EQ(other.Open(Images() + "not-an-image.vmdk", kAccessRead), 0);
  EXPECT_LE(other.GetMediaSize(), 0);
  EXPECT_NE(other.OpenExtentDataFiles(), 1);
  EXPECT_FALSE(other.LastErrorDetails().empty());
}

}  // namespace
}  // namespace tessaly::vmdk
