#include "test_env.h"

#include "platform/platform.h"

#include <filesystem>
#include <stdexcept>

namespace tessaly::testing {

std::string ScratchFolder(const std::string& name) {
  namespace fs = std::filesystem;
  fs::path folder = fs::path(EnvPath("TESSALY_SCRATCH")) / name;
  fs::remove_all(folder);
  fs::create_directories(folder);
  return platform::NativePath(folder.string() + "/");
}

FakeScript& FakeLib(const std::string& folder) {
  // Kept loaded for the whole test program, so the script outlives the
  // binding's own loads and releases.
  std::string reason;
  platform::ModuleHandle module =
      platform::LoadModule(folder + platform::kLibraryFileName, &reason);
  if (module == nullptr) throw std::runtime_error(reason);
  auto reset = reinterpret_cast<void (*)()>(platform::ResolveSymbol(module, "fake_libvmdk_reset"));
  auto script =
      reinterpret_cast<FakeScript* (*)()>(platform::ResolveSymbol(module, "fake_libvmdk_script"));
  if (reset == nullptr || script == nullptr) throw std::runtime_error("not the fake libvmdk");
  reset();
  return *script();
}

}  // namespace tessaly::testing
