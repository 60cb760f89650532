// Where the test build keeps its pieces; set by the CMake test helper.
#pragma once

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "../fake_libvmdk/fake_libvmdk.h"
#include "platform/platform.h"

namespace tessaly::testing {

// A folder from the environment, with a trailing separator, written the
// platform's way.
inline std::string EnvPath(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? platform::NativePath(std::string(value) + "/") : std::string();
}

// Folder with the real libvmdk staged as the build's executables have it.
inline std::string RealLibFolder() { return EnvPath("TESSALY_BIN_DIR"); }
// Folder with the fake library that exports every name.
inline std::string FakeLibFolder() { return EnvPath("TESSALY_FAKE_DIR") + "full/"; }
// Folder with the fake library that lacks most names.
inline std::string BareFakeLibFolder() { return EnvPath("TESSALY_FAKE_DIR") + "bare/"; }
// Folder of the images made by tests/fixtures/make_images.sh.
inline std::string Images() { return EnvPath("TESSALY_IMAGES"); }

// A fresh, empty folder for one test's files.
std::string ScratchFolder(const std::string& name);

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// The fake library's script, reached through the same file the binding loads
// (dlopen hands both the one loaded copy). Resets it.
FakeScript& FakeLib(const std::string& folder);

}  // namespace tessaly::testing
