// Windows implementation of the platform layer, on the ANSI kernel calls
// the program was designed around.
#include <windows.h>
// Must follow windows.h.
#include <io.h>
// The platform layer's own DeleteFile, not the system's ANSI/wide macro.
#undef DeleteFile

#include <winioctl.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <random>
#include <sstream>
#include <utility>
#include <vector>

#include "platform/error.h"
#include "platform/platform.h"

namespace tessaly::platform {
namespace {

std::string SystemMessage(DWORD code) {
  char* text = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string message =
      length > 0 ? std::string(text, length) : "system error " + std::to_string(code);
  if (text != nullptr) LocalFree(text);
  while (!message.empty() &&
         (message.back() == '\n' || message.back() == '\r' || message.back() == '.'))
    message.pop_back();
  return message;
}

// Opens `path` for asking about it, without reading or writing, links
// followed.
HANDLE OpenForQuery(const std::string& path) {
  return CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

}  // namespace

const char* const kLibraryFileName = "libvmdk.dll";

ModuleHandle LoadModule(const std::string& path, std::string* reason) {
  HMODULE module = LoadLibraryA(path.c_str());
  if (module == nullptr && reason != nullptr) *reason = SystemMessage(GetLastError());
  return reinterpret_cast<ModuleHandle>(module);
}

void* ResolveSymbol(ModuleHandle module, const char* name) {
  if (module == nullptr) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
}

void ReleaseModule(ModuleHandle module) {
  if (module != nullptr) FreeLibrary(static_cast<HMODULE>(module));
}

std::string ExecutablePath() {
  std::vector<char> buffer(MAX_PATH);
  for (;;) {
    const DWORD length =
        GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return {};
    if (length < buffer.size()) return std::string(buffer.data(), length);
    buffer.resize(buffer.size() * 2);
  }
}

// Windows takes "/" as well as "\" between folders; ":" ends a drive.
bool IsPathSeparator(char c) { return c == '\\' || c == ':' || c == '/'; }

const char kLibraryPathSeparator = '\\';

std::string NativePath(const std::string& path) {
  std::string native = path;
  for (char& c : native) {
    if (c == '/') c = '\\';
  }
  return native;
}

std::optional<std::wstring> WidePathFor(const std::string& path) {
  const int length = MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, nullptr, 0);
  if (length <= 0) return std::wstring();
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide.data(), length);
  wide.resize(static_cast<std::size_t>(length - 1));
  return wide;
}

bool IsAbsolutePath(const std::string& path) {
  if (!path.empty() && (path[0] == '\\' || path[0] == '/')) return true;
  return path.size() >= 2 && path[1] == ':';
}

std::optional<std::string> RealPath(const std::string& path) {
  HANDLE file = OpenForQuery(path);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  std::vector<char> buffer(MAX_PATH);
  DWORD length =
      GetFinalPathNameByHandleA(file, buffer.data(), static_cast<DWORD>(buffer.size()), 0);
  if (length >= buffer.size()) {
    buffer.resize(length + 1);
    length = GetFinalPathNameByHandleA(file, buffer.data(), static_cast<DWORD>(buffer.size()), 0);
  }
  CloseHandle(file);
  if (length == 0 || length >= buffer.size()) return std::nullopt;
  std::string result(buffer.data(), length);
  if (result.rfind("\\\\?\\UNC\\", 0) == 0) {
    result = "\\\\" + result.substr(8);
  } else if (result.rfind("\\\\?\\", 0) == 0) {
    result = result.substr(4);
  }
  return result;
}

FileKind KindOf(const std::string& path) {
  HANDLE file = OpenForQuery(path);
  if (file == INVALID_HANDLE_VALUE) return FileKind::kMissing;
  BY_HANDLE_FILE_INFORMATION info;
  FileKind kind = FileKind::kOther;
  if (GetFileType(file) == FILE_TYPE_DISK && GetFileInformationByHandle(file, &info)) {
    kind = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? FileKind::kDirectory
                                                                   : FileKind::kRegular;
  }
  CloseHandle(file);
  return kind;
}

std::optional<std::uint64_t> FileSizeOf(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
  return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

bool IsLink(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool FileExists(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool DeleteFile(const std::string& path) { return DeleteFileA(path.c_str()) != 0; }

std::optional<FileIdentity> IdentifyFile(const std::string& path) {
  HANDLE file = OpenForQuery(path);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  BY_HANDLE_FILE_INFORMATION info;
  const BOOL ok = GetFileInformationByHandle(file, &info);
  CloseHandle(file);
  if (!ok) return std::nullopt;
  return FileIdentity{info.dwVolumeSerialNumber,
                      (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

std::optional<std::uint64_t> FreeSpace(const std::string& folder) {
  ULARGE_INTEGER available;
  if (!GetDiskFreeSpaceExA(folder.empty() ? nullptr : folder.c_str(), &available, nullptr, nullptr))
    return std::nullopt;
  return available.QuadPart;
}

std::optional<std::uint64_t> MaxFileSize(const std::string& folder) {
  char root[MAX_PATH];
  char file_system[MAX_PATH];
  const std::string where = folder.empty() ? std::string(".\\") : folder;
  if (!GetVolumePathNameA(where.c_str(), root, MAX_PATH)) return std::nullopt;
  if (!GetVolumeInformationA(root, nullptr, 0, nullptr, nullptr, nullptr, file_system, MAX_PATH))
    return std::nullopt;
  // FAT file systems keep sizes in 32 bits; the others hold any disk image.
  const std::string name = file_system;
  if (name == "FAT" || name == "FAT32") return std::uint64_t{0xFFFFFFFF};
  return std::nullopt;
}

// --- LinkFolder ---------------------------------------------------------------

LinkFolder::LinkFolder() {
  char temp[MAX_PATH + 1];
  const DWORD length = GetTempPathA(sizeof temp, temp);
  if (length == 0 || length > MAX_PATH)
    throw Error("no private folder could be made for the image's files");
  std::random_device random;
  for (int attempt = 0; attempt < 16; ++attempt) {
    char name[32];
    std::snprintf(name, sizeof name, "tessaly-%08x", random());
    const std::string folder = std::string(temp) + name;
    if (CreateDirectoryA(folder.c_str(), nullptr)) {
      path_ = folder + "\\";
      return;
    }
  }
  throw Error("no private folder could be made for the image's files",
              SystemMessage(GetLastError()));
}

LinkFolder::~LinkFolder() {
  for (const std::string& name : names_) DeleteFileA((path_ + name).c_str());
  RemoveDirectoryA(path_.c_str());
}

bool LinkFolder::Link(const std::string& name, const std::string& target) {
  const std::string link = path_ + name;
  // A hard link where the image shares the temporary folder's volume; else
  // a symbolic link, where the system allows this user one.
  constexpr DWORD kAllowUnprivileged = 0x2;
  if (!CreateHardLinkA(link.c_str(), target.c_str(), nullptr) &&
      !CreateSymbolicLinkA(link.c_str(), target.c_str(), kAllowUnprivileged)) {
    return false;
  }
  names_.push_back(name);
  return true;
}

// --- OutputFile -------------------------------------------------------------

OutputFile OutputFile::CreateNew(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, CREATE_NEW, 0, nullptr);
  OutputFile out(file == INVALID_HANDLE_VALUE ? -1 : reinterpret_cast<std::intptr_t>(file));
  if (file == INVALID_HANDLE_VALUE) out.RememberError();
  return out;
}

bool OutputFile::WriteAll(const void* data, std::size_t size, const std::int64_t* offset,
                          std::size_t* written) {
  const char* bytes = static_cast<const char*>(data);
  std::size_t done = 0;
  while (done < size) {
    const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(size - done, 1u << 30));
    OVERLAPPED at = {};
    if (offset != nullptr) {
      const auto position = static_cast<std::uint64_t>(*offset) + done;
      at.Offset = static_cast<DWORD>(position);
      at.OffsetHigh = static_cast<DWORD>(position >> 32);
    }
    DWORD n = 0;
    if (!WriteFile(reinterpret_cast<HANDLE>(native_), bytes + done, piece, &n,
                   offset != nullptr ? &at : nullptr)) {
      RememberError();
      break;
    }
    if (n == 0) {
      last_error_ = "the system wrote no bytes";
      break;
    }
    done += n;
  }
  if (written != nullptr) *written = done;
  return done == size;
}

bool OutputFile::SetLength(std::int64_t length) {
  FILE_END_OF_FILE_INFO end = {};
  end.EndOfFile.QuadPart = length;
  if (!SetFileInformationByHandle(reinterpret_cast<HANDLE>(native_), FileEndOfFileInfo, &end,
                                  sizeof end)) {
    RememberError();
    return false;
  }
  return true;
}

bool OutputFile::Reserve(std::int64_t length) {
  FILE_ALLOCATION_INFO room = {};
  room.AllocationSize.QuadPart = length;
  return SetFileInformationByHandle(reinterpret_cast<HANDLE>(native_), FileAllocationInfo, &room,
                                    sizeof room) &&
         SetLength(length);
}

bool OutputFile::AllowHoles() {
  DWORD returned = 0;
  return DeviceIoControl(reinterpret_cast<HANDLE>(native_), FSCTL_SET_SPARSE, nullptr, 0, nullptr,
                         0, &returned, nullptr) != 0;
}

bool OutputFile::Close() {
  if (native_ == -1) return true;
  HANDLE file = reinterpret_cast<HANDLE>(std::exchange(native_, -1));
  if (!CloseHandle(file)) {
    RememberError();
    return false;
  }
  return true;
}

void OutputFile::RememberError() { last_error_ = SystemMessage(GetLastError()); }

// --- StopRequests -------------------------------------------------------------

// The console calls its handler on a thread of its own; one instance at a
// time receives the requests.
struct StopRequests::State {
  std::function<void()> on_stop;
};

namespace {
std::mutex g_stop_mutex;
std::function<void()>* g_on_stop = nullptr;

BOOL WINAPI OnConsoleControl(DWORD type) {
  if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT && type != CTRL_CLOSE_EVENT) return FALSE;
  std::lock_guard<std::mutex> lock(g_stop_mutex);
  if (g_on_stop == nullptr) return FALSE;
  (*g_on_stop)();
  return TRUE;
}
}  // namespace

StopRequests::StopRequests(std::function<void()> on_stop) : state_(std::make_unique<State>()) {
  state_->on_stop = std::move(on_stop);
  std::lock_guard<std::mutex> lock(g_stop_mutex);
  g_on_stop = &state_->on_stop;
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

StopRequests::~StopRequests() {
  SetConsoleCtrlHandler(OnConsoleControl, FALSE);
  std::lock_guard<std::mutex> lock(g_stop_mutex);
  g_on_stop = nullptr;
}

// --- time and diagnostics ---------------------------------------------------

std::uint32_t TickCount() { return GetTickCount(); }

void DebugOutput(const std::string& text) { OutputDebugStringA(text.c_str()); }

bool StderrIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

std::string CaptureStack() {
  void* frames[62];
  const USHORT count = CaptureStackBackTrace(1, 62, frames, nullptr);
  std::ostringstream out;
  for (USHORT i = 0; i < count; ++i) {
    HMODULE module = nullptr;
    char name[MAX_PATH] = "?";
    if (GetModuleHandleExA(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            static_cast<LPCSTR>(frames[i]), &module)) {
      GetModuleFileNameA(module, name, MAX_PATH);
    }
    const char* base = name;
    for (const char* p = name; *p != '\0'; ++p) {
      if (*p == '\\' || *p == '/') base = p + 1;
    }
    out << ' ' << i << "# " << base << '+' << std::hex
        << (static_cast<char*>(frames[i]) - reinterpret_cast<char*>(module)) << std::dec << '\n';
  }
  return out.str();
}

}  // namespace tessaly::platform
