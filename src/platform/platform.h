// The operating-system services Tessaly uses, behind one small interface.
// posix/ and windows/ each implement all of it; nothing above this layer
// asks which platform it runs on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tessaly::platform {

// File name of the libvmdk shared library, looked for beside the executable.
extern const char* const kLibraryFileName;

// --- shared libraries -------------------------------------------------------

using ModuleHandle = void*;

// Loads the shared library at exactly `path` (no search path is consulted).
// Returns null on failure and puts the loader's reason into *reason.
ModuleHandle LoadModule(const std::string& path, std::string* reason);
// Null when the module does not export `name`.
void* ResolveSymbol(ModuleHandle module, const char* name);
void ReleaseModule(ModuleHandle module);

// --- paths ------------------------------------------------------------------

// Full path of the running executable.
std::string ExecutablePath();
// True for the characters that end a folder part of a path on this platform.
bool IsPathSeparator(char c);
// The separator libvmdk cuts extent file names at on this platform.
extern const char kLibraryPathSeparator;
// The path written with this platform's own separators, as libvmdk needs
// it (on Windows, "/" becomes "\").
std::string NativePath(const std::string& path);
// The path cut after its last separator: the folder with its trailing
// separator, or "" when the path has none.
std::string FolderOf(const std::string& path);
// The path as the library's 16-bit open wants it, where paths on this platform
// are 8-bit code-page strings; nullopt where paths are plain byte strings and
// the 8-bit open is the right one.
std::optional<std::wstring> WidePathFor(const std::string& path);

// --- files ------------------------------------------------------------------

// True when `path` starts at a root (or, on Windows, a drive).
bool IsAbsolutePath(const std::string& path);
// The path with every link and "." or ".." resolved; nullopt when some part
// of it does not exist.
std::optional<std::string> RealPath(const std::string& path);

// What is at a path, links followed.
enum class FileKind { kMissing, kRegular, kDirectory, kOther };
FileKind KindOf(const std::string& path);
// The size of the file at `path`, links followed.
std::optional<std::uint64_t> FileSizeOf(const std::string& path);
// True when `path` itself is a symbolic link.
bool IsLink(const std::string& path);

// True when something other than a directory exists at `path`.
bool FileExists(const std::string& path);
// Deletes the file at `path`; false when it could not be deleted.
bool DeleteFile(const std::string& path);

// What makes two paths the same file, links followed.
struct FileIdentity {
  std::uint64_t volume = 0;
  std::uint64_t index = 0;
  bool operator==(const FileIdentity& other) const {
    return volume == other.volume && index == other.index;
  }
};
std::optional<FileIdentity> IdentifyFile(const std::string& path);

// A file created anew for writing. Closes itself when destroyed; a failed
// creation leaves an object whose writes fail.
class OutputFile {
 public:
  OutputFile() = default;
  // Creates the file only when nothing exists at `path` yet.
  static OutputFile CreateNew(const std::string& path);

  OutputFile(OutputFile&& other) noexcept;
  OutputFile& operator=(OutputFile&& other) noexcept;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile();

  bool IsOpen() const;
  // Writes all `size` bytes at the current position; *written tells how many
  // made it. False when the write failed or came up short.
  bool Write(const void* data, std::size_t size, std::size_t* written);
  // Writes all `size` bytes at byte `offset` of the file, whatever was
  // written before; *written tells how many made it. Not to be mixed with
  // Write on one file (where the position ends up is the platform's affair).
  bool WriteAt(const void* data, std::size_t size, std::int64_t offset, std::size_t* written);
  // Makes the file exactly `length` bytes long: cut, or extended by bytes that
  // read as zero and take no space where the file system allows holes.
  bool SetLength(std::int64_t length);
  // Sets aside room for `length` bytes and makes the file that long, where
  // the file system can do so without writing them; later writes into the
  // room then cost less. False where it cannot (nothing is changed then).
  bool Reserve(std::int64_t length);
  // Lets ranges that are never written stay holes. File systems that keep
  // holes only in files marked sparse need this before the first write;
  // elsewhere it does nothing.
  bool AllowHoles();
  // Closes the file; false when closing reported an error (data may be lost).
  bool Close();
  // The system's sentence for the last failure of this file.
  const std::string& LastError() const { return last_error_; }

 private:
  explicit OutputFile(std::intptr_t native) : native_(native) {}
  void RememberError();
  // Write and WriteAt on an open file: every byte, at `*offset` or (null)
  // the position.
  bool WriteAll(const void* data, std::size_t size, const std::int64_t* offset,
                std::size_t* written);

  std::intptr_t native_ = -1;
  std::string last_error_;
};

// Bytes free for an unprivileged writer on the file system holding `folder`.
std::optional<std::uint64_t> FreeSpace(const std::string& folder);
// The largest file the file system holding `folder` can store (and the
// process may write); nullopt when unknown.
std::optional<std::uint64_t> MaxFileSize(const std::string& folder);

// A private folder of links made for one job, removed with its links when
// destroyed.
class LinkFolder {
 public:
  // Raises an Error when no such folder can be made.
  LinkFolder();
  ~LinkFolder();
  LinkFolder(const LinkFolder&) = delete;
  LinkFolder& operator=(const LinkFolder&) = delete;

  // The folder, with its trailing separator.
  const std::string& path() const { return path_; }
  // Makes path() + name lead to `target`; false when it could not.
  bool Link(const std::string& name, const std::string& target);

 private:
  std::string path_;
  std::vector<std::string> names_;
};

// --- interruption ----------------------------------------------------------

// While it exists, an interrupt or termination request (Ctrl-C, SIGTERM)
// calls `on_stop` on a thread of its own instead of ending the process.
// Create it before starting other threads.
class StopRequests {
 public:
  explicit StopRequests(std::function<void()> on_stop);
  ~StopRequests();
  StopRequests(const StopRequests&) = delete;
  StopRequests& operator=(const StopRequests&) = delete;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// --- time and diagnostics ---------------------------------------------------

// Milliseconds from a monotonic clock, wrapping at 2^32.
std::uint32_t TickCount();
// Hands a text to an attached debugger (stderr where there is no such thing).
void DebugOutput(const std::string& text);
// True when the standard error stream is an interactive terminal.
bool StderrIsTerminal();
// A readable call stack of the calling thread, innermost frame first.
std::string CaptureStack();

}  // namespace tessaly::platform
