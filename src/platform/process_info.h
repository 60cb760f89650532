// What the running process can tell about itself, for a bug report.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tessaly::platform {

struct ThreadInfo {
  std::uint64_t id = 0;
  std::string name;
  bool is_current = false;
};

struct ModuleInfo {
  std::uintptr_t base = 0;  // lowest address the module is mapped at
  std::string path;
};

// The process's threads, in the order the system lists them.
std::vector<ThreadInfo> ListThreads();
// The executable and every shared library mapped into the process, each once.
std::vector<ModuleInfo> ListModules();
// The operating system's name, release and machine, for a person.
std::string OsDescription();

}  // namespace tessaly::platform
