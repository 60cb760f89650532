// Linux: the process's threads and modules from /proc/self.
#include <sys/syscall.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/process_info.h"

namespace tessaly::platform {
namespace {

std::string FirstLineOf(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

// PRETTY_NAME from os-release, without its quotes.
std::string DistributionName() {
  std::ifstream in("/etc/os-release");
  std::string line;
  const std::string key = "PRETTY_NAME=";
  while (std::getline(in, line)) {
    if (line.compare(0, key.size(), key) != 0) continue;
    std::string value = line.substr(key.size());
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
      value = value.substr(1, value.size() - 2);
    return value;
  }
  return {};
}

}  // namespace

std::vector<ThreadInfo> ListThreads() {
  namespace fs = std::filesystem;
  const auto current = static_cast<std::uint64_t>(syscall(SYS_gettid));
  std::vector<ThreadInfo> threads;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator("/proc/self/task", error)) {
    ThreadInfo thread;
    try {
      thread.id = std::stoull(entry.path().filename().string());
    } catch (const std::exception&) {
      continue;
    }
    thread.name = FirstLineOf((entry.path() / "comm").string());
    thread.is_current = thread.id == current;
    threads.push_back(std::move(thread));
  }
  std::sort(threads.begin(), threads.end(),
            [](const ThreadInfo& a, const ThreadInfo& b) { return a.id < b.id; });
  return threads;
}

std::vector<ModuleInfo> ListModules() {
  // Each line: start-end perms offset dev inode [path]
  std::ifstream maps("/proc/self/maps");
  std::vector<ModuleInfo> modules;
  std::string line;
  while (std::getline(maps, line)) {
    std::istringstream fields(line);
    std::string range, perms, offset, device, inode, path;
    fields >> range >> perms >> offset >> device >> inode;
    std::getline(fields >> std::ws, path);
    if (path.empty() || path.front() != '/') continue;  // anonymous, [heap], [stack], ...
    const std::uintptr_t start = std::stoull(range.substr(0, range.find('-')), nullptr, 16);
    auto known = std::find_if(modules.begin(), modules.end(),
                              [&](const ModuleInfo& m) { return m.path == path; });
    if (known == modules.end()) {
      modules.push_back({start, path});
    } else {
      known->base = std::min(known->base, start);
    }
  }
  return modules;
}

std::string OsDescription() {
  struct utsname names;
  std::string text;
  if (uname(&names) == 0)
    text = std::string(names.sysname) + " " + names.release + " " + names.machine;
  const std::string distribution = DistributionName();
  if (!distribution.empty()) text += (text.empty() ? "" : ", ") + distribution;
  return text;
}

}  // namespace tessaly::platform
