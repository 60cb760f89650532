// TLibVMDK: Tessaly's only access to VMDK images. It loads libvmdk at run time
// from the executable's own folder and passes the library's results through.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace tessaly::vmdk {

// libvmdk's C interface, declared from its documented signatures so that the
// binding needs neither the library's headers nor the library at build time.
extern "C" {
using libvmdk_handle_t = void;
using libvmdk_error_t = void;
using off64_type = std::int64_t;
using size64_type = std::uint64_t;

using TInitialize = int (*)(libvmdk_handle_t** handle, libvmdk_error_t** error);
using TFree = int (*)(libvmdk_handle_t** handle, libvmdk_error_t** error);
using TOpen = int (*)(libvmdk_handle_t* handle, const char* filename, int access_flags,
                      libvmdk_error_t** error);
using TOpenWide = int (*)(libvmdk_handle_t* handle, const wchar_t* filename, int access_flags,
                          libvmdk_error_t** error);
using TClose = int (*)(libvmdk_handle_t* handle, libvmdk_error_t** error);
using TOpenExtentDataFiles = int (*)(libvmdk_handle_t* handle, libvmdk_error_t** error);
using TReadBufferAtOffset = ssize_t (*)(libvmdk_handle_t* handle, void* buffer,
                                        std::size_t buffer_size, off64_type offset,
                                        libvmdk_error_t** error);
using TWriteBuffer = ssize_t (*)(libvmdk_handle_t* handle, const void* buffer,
                                 std::size_t buffer_size, libvmdk_error_t** error);
using TGetMediaSize = int (*)(libvmdk_handle_t* handle, size64_type* media_size,
                              libvmdk_error_t** error);
using TSeekOffset = off64_type (*)(libvmdk_handle_t* handle, off64_type offset, int whence,
                                   libvmdk_error_t** error);
using TReadBuffer = ssize_t (*)(libvmdk_handle_t* handle, void* buffer, std::size_t buffer_size,
                                libvmdk_error_t** error);
// Error disposal; optional, used to free what the library leaves behind and to
// keep its backtrace for a diagnosis.
using TErrorFree = void (*)(libvmdk_error_t** error);
using TErrorBacktraceSprint = int (*)(libvmdk_error_t* error, char* string, std::size_t size);
}

// libvmdk's read-only access flag.
constexpr std::uint8_t kAccessRead = 1;

class TLibVMDK {
 public:
  // Create: loads the library from the running executable's folder.
  TLibVMDK();
  // The same, from `folder` (a path ending in a separator), for hosts and
  // tests that keep the library elsewhere.
  explicit TLibVMDK(const std::string& folder);
  // Destroy: closes a handle that is still open and releases the library.
  ~TLibVMDK();

  TLibVMDK(const TLibVMDK&) = delete;
  TLibVMDK& operator=(const TLibVMDK&) = delete;

  // 0 when a handle exists afterwards, else -1. Whether the image itself
  // opened shows at the next call.
  int Open(const std::string& file_name, std::uint8_t access_flags);
  int OpenWide(const std::wstring& file_name, std::uint8_t access_flags);
  // The library's result unchanged: 1 = success.
  int OpenExtentDataFiles();
  // Bytes read, 0 at the end of the media, -1 on failure.
  std::int32_t ReadBufferAtOffset(void* buffer, std::int32_t size, std::int64_t offset);
  // The media size in bytes, or -1.
  std::int64_t GetMediaSize();
  void Close();

  bool HasOpenWide() const { return open_wide_ != nullptr; }
  // libvmdk's own account of the last failure (its error backtrace), for a
  // diagnosis; empty when the library said nothing.
  const std::string& LastErrorDetails() const { return last_error_details_; }

 private:
  void Load(const std::string& folder);
  // Keeps the text of what a call left in `error` and frees it.
  void Dispose(libvmdk_error_t*& error);

  platform::ModuleHandle FLibModule = nullptr;
  libvmdk_handle_t* FHandle = nullptr;
  TOpen open_ = nullptr;
  TOpenWide open_wide_ = nullptr;
  TClose close_ = nullptr;
  TInitialize initialize_ = nullptr;
  TFree free_ = nullptr;
  TOpenExtentDataFiles open_extent_data_files_ = nullptr;
  TReadBufferAtOffset read_buffer_at_offset_ = nullptr;
  TWriteBuffer write_buffer_ = nullptr;
  TGetMediaSize get_media_size_ = nullptr;
  TSeekOffset seek_offset_ = nullptr;
  TReadBuffer read_buffer_ = nullptr;
  TErrorFree error_free_ = nullptr;
  TErrorBacktraceSprint error_backtrace_sprint_ = nullptr;
  std::string last_error_details_;
};

}  // namespace tessaly::vmdk
