// POSIX (Linux) implementation of the platform layer.
#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <thread>
#include <utility>
#include <vector>

#include <boost/stacktrace.hpp>

#include "platform/error.h"
#include "platform/platform.h"

namespace tessaly::platform {

const char* const kLibraryFileName = "libvmdk.so";

ModuleHandle LoadModule(const std::string& path, std::string* reason) {
  // A path with a slash makes dlopen take exactly that file.
  ModuleHandle module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr && reason != nullptr) {
    const char* text = dlerror();
    *reason = text != nullptr ? text : "unknown loader error";
  }
  return module;
}

void* ResolveSymbol(ModuleHandle module, const char* name) {
  if (module == nullptr) return nullptr;
  return dlsym(module, name);
}

void ReleaseModule(ModuleHandle module) {
  if (module != nullptr) dlclose(module);
}

std::string ExecutablePath() {
  std::vector<char> buffer(4096);
  for (;;) {
    ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length < 0) return {};
    if (static_cast<std::size_t>(length) < buffer.size()) return std::string(buffer.data(), length);
    buffer.resize(buffer.size() * 2);
  }
}

bool IsPathSeparator(char c) { return c == '/'; }

const char kLibraryPathSeparator = '/';

std::string NativePath(const std::string& path) { return path; }

std::optional<std::wstring> WidePathFor(const std::string&) { return std::nullopt; }

bool IsAbsolutePath(const std::string& path) { return !path.empty() && path[0] == '/'; }

std::optional<std::string> RealPath(const std::string& path) {
  char* resolved = realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return std::nullopt;
  std::string result(resolved);
  std::free(resolved);
  return result;
}

FileKind KindOf(const std::string& path) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return FileKind::kMissing;
  if (S_ISREG(info.st_mode)) return FileKind::kRegular;
  if (S_ISDIR(info.st_mode)) return FileKind::kDirectory;
  return FileKind::kOther;
}

std::optional<std::uint64_t> FileSizeOf(const std::string& path) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return std::nullopt;
  return static_cast<std::uint64_t>(info.st_size);
}

bool IsLink(const std::string& path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

bool FileExists(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

bool DeleteFile(const std::string& path) { return unlink(path.c_str()) == 0; }

std::optional<FileIdentity> IdentifyFile(const std::string& path) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return std::nullopt;
  return FileIdentity{static_cast<std::uint64_t>(info.st_dev),
                      static_cast<std::uint64_t>(info.st_ino)};
}

std::optional<std::uint64_t> FreeSpace(const std::string& folder) {
  struct statvfs info;
  if (statvfs(folder.empty() ? "." : folder.c_str(), &info) != 0) return std::nullopt;
  return static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize;
}

std::optional<std::uint64_t> MaxFileSize(const std::string& folder) {
  std::optional<std::uint64_t> limit;
  errno = 0;
  const long bits = pathconf(folder.empty() ? "." : folder.c_str(), _PC_FILESIZEBITS);
  if (bits > 0 && bits < 64) limit = (std::uint64_t{1} << (bits - 1)) - 1;
  struct rlimit rl;
  if (getrlimit(RLIMIT_FSIZE, &rl) == 0 && rl.rlim_cur != RLIM_INFINITY) {
    const auto process_limit = static_cast<std::uint64_t>(rl.rlim_cur);
    if (!limit || process_limit < *limit) limit = process_limit;
  }
  return limit;
}

LinkFolder::LinkFolder() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern =
      std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/tessaly-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data()) == nullptr) {
    throw Error("no private folder could be made for the image's files", std::strerror(errno));
  }
  path_ = std::string(buffer.data()) + "/";
}

LinkFolder::~LinkFolder() {
  for (const std::string& name : names_) unlink((path_ + name).c_str());
  rmdir(path_.c_str());
}

bool LinkFolder::Link(const std::string& name, const std::string& target) {
  if (symlink(target.c_str(), (path_ + name).c_str()) != 0) return false;
  names_.push_back(name);
  return true;
}

// --- OutputFile -------------------------------------------------------------

OutputFile OutputFile::CreateNew(const std::string& path) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  OutputFile file(fd);
  if (fd < 0) file.RememberError();
  return file;
}

bool OutputFile::WriteAll(const void* data, std::size_t size, const std::int64_t* offset,
                          std::size_t* written) {
  const char* bytes = static_cast<const char*>(data);
  std::size_t done = 0;
  while (done < size) {
    const int fd = static_cast<int>(native_);
    const ssize_t n = offset == nullptr
                          ? write(fd, bytes + done, size - done)
                          : pwrite(fd, bytes + done, size - done,
                                   static_cast<off_t>(*offset + static_cast<std::int64_t>(done)));
    if (n < 0) {
      if (errno == EINTR) continue;
      RememberError();
      break;
    }
    if (n == 0) {
      last_error_ = "the system wrote no bytes";
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  if (written != nullptr) *written = done;
  return done == size;
}

bool OutputFile::SetLength(std::int64_t length) {
  while (ftruncate(static_cast<int>(native_), static_cast<off_t>(length)) != 0) {
    if (errno != EINTR) {
      RememberError();
      return false;
    }
  }
  return true;
}

bool OutputFile::Reserve(std::int64_t length) {
  // fallocate, not posix_fallocate: the latter falls back to writing zeros.
  while (fallocate(static_cast<int>(native_), 0, 0, static_cast<off_t>(length)) != 0) {
    if (errno != EINTR) {
      RememberError();
      return false;
    }
  }
  return true;
}

// Files on POSIX systems keep holes wherever nothing was written.
bool OutputFile::AllowHoles() { return true; }

bool OutputFile::Close() {
  if (native_ < 0) return true;
  int fd = static_cast<int>(std::exchange(native_, -1));
  // POSIX leaves the descriptor state unspecified after EINTR; Linux has
  // always released it, so close is never retried.
  if (close(fd) != 0) {
    RememberError();
    return false;
  }
  return true;
}

void OutputFile::RememberError() { last_error_ = std::strerror(errno); }

// --- StopRequests ---------------------------------------------------------

// The two signals are blocked in this thread (and so in the threads it
// starts later) and taken by a watcher with sigtimedwait, which is free to
// call anything, unlike a signal handler.
struct StopRequests::State {
  std::function<void()> on_stop;
  sigset_t signals;
  sigset_t old_mask;
  std::atomic<bool> done{false};
  std::thread watcher;
};

StopRequests::StopRequests(std::function<void()> on_stop) : state_(std::make_unique<State>()) {
  state_->on_stop = std::move(on_stop);
  sigemptyset(&state_->signals);
  sigaddset(&state_->signals, SIGINT);
  sigaddset(&state_->signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &state_->signals, &state_->old_mask);
  State* state = state_.get();
  state_->watcher = std::thread([state] {
    const struct timespec tick = {0, 50 * 1000 * 1000};
    while (!state->done.load()) {
      if (sigtimedwait(&state->signals, nullptr, &tick) > 0) state->on_stop();
    }
  });
}

StopRequests::~StopRequests() {
  state_->done = true;
  state_->watcher.join();
  pthread_sigmask(SIG_SETMASK, &state_->old_mask, nullptr);
}

// --- time and diagnostics ---------------------------------------------------

std::uint32_t TickCount() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  std::uint64_t ms = static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                     static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
  return static_cast<std::uint32_t>(ms);
}

void DebugOutput(const std::string& text) {
  std::fputs(text.c_str(), stderr);
  std::fputc('\n', stderr);
}

bool StderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }

std::string CaptureStack() {
  std::ostringstream out;
  // Skip this function's own frame.
  out << boost::stacktrace::stacktrace(1, static_cast<std::size_t>(-1));
  return out.str();
}

}  // namespace tessaly::platform
