// libFuzzer target: each input is written as a single-file image, opened the
// way a conversion opens it, and part of its media is read through the
// binding. Finds crashes, hangs and oversized allocations on hostile images.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "commands/image.h"
#include "platform/error.h"
#include "platform/platform.h"
#include "vmdk/libvmdk.h"

namespace {

// The folder this process fuzzes in, and libvmdk's folder (TESSALY_LIBVMDK_DIR,
// or the fuzzer's own folder).
const std::string& WorkFolder() {
  static const std::string folder = [] {
    char pattern[] = "/tmp/tessaly-fuzz-XXXXXX";
    const char* made = mkdtemp(pattern);
    if (made == nullptr) std::abort();
    return std::string(made) + "/";
  }();
  return folder;
}

std::string LibraryFolder() {
  const char* folder = std::getenv("TESSALY_LIBVMDK_DIR");
  return folder != nullptr ? std::string(folder) + "/" : std::string();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tessaly;
  const std::string image = WorkFolder() + "fuzz.vmdk";
  {
    FILE* out = std::fopen(image.c_str(), "wb");
    if (out == nullptr) std::abort();
    std::fwrite(data, 1, size, out);
    std::fclose(out);
  }
  try {
    const std::string folder = LibraryFolder();
    vmdk::TLibVMDK lib = folder.empty() ? vmdk::TLibVMDK() : vmdk::TLibVMDK(folder);
    if (commands::OpenImageFile(lib, commands::ImageChoice{image, std::nullopt}) != 0) return 0;
    commands::OpenImageData(lib, image, commands::ImageRules{folder, false, 4});
    const std::int64_t media_size = lib.GetMediaSize();
    if (media_size <= 0) return 0;
    // The start, the end, and a few places between: enough to reach the
    // grain tables without reading terabytes a lie may claim.
    std::vector<unsigned char> buffer(65536);
    for (int i = 0; i <= 16; ++i) {
      const std::int64_t offset = media_size / 16 * i;
      const std::int32_t got = lib.ReadBufferAtOffset(buffer.data(), 65536, offset);
      if (got < -1 || got > 65536) std::abort();  // the binding lets no other count through
    }
  } catch (const Error&) {
    // A refusal is a fine answer to a hostile image.
  }
  return 0;
}
