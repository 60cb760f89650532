#include "test_env.h"

#include <dlfcn.h>

#include <filesystem>
#include <stdexcept>

namespace tessaly::testing {

std::string ScratchFolder(const std::string& name) {
  namespace fs = std::filesystem;
  fs::path folder = fs::path(EnvPath("TESSALY_SCRATCH")) / name;
  fs::remove_all(folder);
  fs::create_directories(folder);
  return folder.string() + "/";
}

FakeScript& FakeLib(const std::string& folder) {
  // Kept loaded for the whole test program, so the script outlives the
  // binding's own loads and releases.
  void* module = dlopen((folder + "libvmdk.so").c_str(), RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) throw std::runtime_error(dlerror());
  auto reset = reinterpret_cast<void (*)()>(dlsym(module, "fake_libvmdk_reset"));
  auto script = reinterpret_cast<FakeScript* (*)()>(dlsym(module, "fake_libvmdk_script"));
  if (reset == nullptr || script == nullptr) throw std::runtime_error("not the fake libvmdk");
  reset();
  return *script();
}

}  // namespace tessaly::testing
