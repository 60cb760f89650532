#include "vmdk/libvmdk.h"

#include <array>
#include <limits>

#include "platform/error.h"

namespace tessaly::vmdk {
namespace {

template <typename T>
void Resolve(platform::ModuleHandle module, const char* name, T& entry) {
  entry = reinterpret_cast<T>(platform::ResolveSymbol(module, name));
}

}  // namespace

TLibVMDK::TLibVMDK() : TLibVMDK(platform::FolderOf(platform::ExecutablePath())) {}

TLibVMDK::TLibVMDK(const std::string& folder) { Load(folder); }

void TLibVMDK::Load(const std::string& folder) {
  FLibModule = nullptr;
  FHandle = nullptr;
  const std::string path = folder + platform::kLibraryFileName;
  if (!platform::FileExists(path)) {
    throw Error(std::string("could not find ") + platform::kLibraryFileName, path);
  }
  std::string reason;
  FLibModule = platform::LoadModule(path, &reason);
  if (FLibModule == nullptr) {
    throw Error(std::string("could not load ") + platform::kLibraryFileName + ": " + reason, path);
  }
  Resolve(FLibModule, "libvmdk_handle_initialize", initialize_);
  Resolve(FLibModule, "libvmdk_handle_free", free_);
  Resolve(FLibModule, "libvmdk_handle_open", open_);
  Resolve(FLibModule, "libvmdk_handle_open_wide", open_wide_);
  Resolve(FLibModule, "libvmdk_handle_open_extent_data_files", open_extent_data_files_);
  Resolve(FLibModule, "libvmdk_handle_close", close_);
  Resolve(FLibModule, "libvmdk_handle_read_buffer_at_offset", read_buffer_at_offset_);
  Resolve(FLibModule, "libvmdk_handle_write_buffer", write_buffer_);
  Resolve(FLibModule, "libvmdk_handle_get_media_size", get_media_size_);
  Resolve(FLibModule, "libvmdk_handle_seek_offset", seek_offset_);
  Resolve(FLibModule, "libvmdk_handle_read_buffer", read_buffer_);
  Resolve(FLibModule, "libvmdk_error_free", error_free_);
  Resolve(FLibModule, "libvmdk_error_backtrace_sprint", error_backtrace_sprint_);
}

TLibVMDK::~TLibVMDK() {
  if (FHandle != nullptr) Close();
  // The module is released in every case, so no load outlives its object.
  platform::ReleaseModule(FLibModule);
  FLibModule = nullptr;
}

void TLibVMDK::Dispose(libvmdk_error_t*& error) {
  if (error == nullptr) return;
  if (error_backtrace_sprint_ != nullptr) {
    std::array<char, 4096> text{};
    if (error_backtrace_sprint_(error, text.data(), text.size()) > 0) {
      text.back() = '\0';
      last_error_details_ = text.data();
    }
  }
  if (error_free_ != nullptr) error_free_(&error);
  error = nullptr;
}

int TLibVMDK::Open(const std::string& file_name, std::uint8_t access_flags) {
  if (initialize_ == nullptr || open_ == nullptr) return -1;
  int result = -1;
  libvmdk_error_t* error = nullptr;
  if (initialize_(&FHandle, &error) == 1) {
    open_(FHandle, file_name.c_str(), access_flags, &error);
  }
  Dispose(error);
  if (FHandle != nullptr) result = 0;
  return result;
}

int TLibVMDK::OpenWide(const std::wstring& file_name, std::uint8_t access_flags) {
  if (initialize_ == nullptr || open_wide_ == nullptr) return -1;
  int result = -1;
  libvmdk_error_t* error = nullptr;
  if (initialize_(&FHandle, &error) == 1) {
    open_wide_(FHandle, file_name.c_str(), access_flags, &error);
  }
  Dispose(error);
  if (FHandle != nullptr) result = 0;
  return result;
}

int TLibVMDK::OpenExtentDataFiles() {
  if (open_extent_data_files_ == nullptr) return -1;
  libvmdk_error_t* error = nullptr;
  int result = open_extent_data_files_(FHandle, &error);
  Dispose(error);
  return result;
}

std::int32_t TLibVMDK::ReadBufferAtOffset(void* buffer, std::int32_t size, std::int64_t offset) {
  if (FLibModule == nullptr || read_buffer_at_offset_ == nullptr || size < 0) return -1;
  libvmdk_error_t* error = nullptr;
  ssize_t result =
      read_buffer_at_offset_(FHandle, buffer, static_cast<std::size_t>(size), offset, &error);
  Dispose(error);
  // A count outside 0..size cannot be true of this buffer: take it as failure.
  if (result < 0 || result > size) return -1;
  return static_cast<std::int32_t>(result);
}

std::int64_t TLibVMDK::GetMediaSize() {
  size64_type size = std::numeric_limits<size64_type>::max();
  if (FLibModule == nullptr || FHandle == nullptr || get_media_size_ == nullptr) return -1;
  libvmdk_error_t* error = nullptr;
  get_media_size_(FHandle, &size, &error);
  Dispose(error);
  // All bits set reads as -1; a size past the signed range reads negative,
  // which callers treat as unavailable.
  return static_cast<std::int64_t>(size);
}

void TLibVMDK::Close() {
  if (FLibModule == nullptr) return;
  libvmdk_error_t* error = nullptr;
  if (close_ != nullptr) close_(FHandle, &error);
  // The handle is freed even when closing failed (as it does for an image
  // that never opened), so no failed open leaks one.
  if (FHandle != nullptr && free_ != nullptr) free_(&FHandle, &error);
  Dispose(error);
  FHandle = nullptr;
}

}  // namespace tessaly::vmdk
