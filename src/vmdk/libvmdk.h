// TLibVMDK: Tessaly's only access to VMDK images. It loads libvmdk at run time
// from the executable's own folder and passes the library's results through.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

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
// Image structure, snapshot parents and aborting; optional.
using libvmdk_extent_descriptor_t = void;
using TGetNumberOfExtents = int (*)(libvmdk_handle_t* handle, int* number_of_extents,
                                    libvmdk_error_t** error);
using TGetExtentDescriptor = int (*)(libvmdk_handle_t* handle, int extent_index,
                                     libvmdk_extent_descriptor_t** extent_descriptor,
                                     libvmdk_error_t** error);
using TExtentDescriptorFree = int (*)(libvmdk_extent_descriptor_t** extent_descriptor,
                                      libvmdk_error_t** error);
using TExtentDescriptorGetType = int (*)(libvmdk_extent_descriptor_t* extent_descriptor, int* type,
                                         libvmdk_error_t** error);
using TExtentDescriptorGetUtf8FilenameSize = int (*)(libvmdk_extent_descriptor_t* extent_descriptor,
                                                     std::size_t* size, libvmdk_error_t** error);
using TExtentDescriptorGetUtf8Filename = int (*)(libvmdk_extent_descriptor_t* extent_descriptor,
                                                 std::uint8_t* name, std::size_t size,
                                                 libvmdk_error_t** error);
using TGetUtf8ParentFilenameSize = int (*)(libvmdk_handle_t* handle, std::size_t* size,
                                           libvmdk_error_t** error);
using TGetUtf8ParentFilename = int (*)(libvmdk_handle_t* handle, std::uint8_t* name,
                                       std::size_t size, libvmdk_error_t** error);
using TSetParentHandle = int (*)(libvmdk_handle_t* handle, libvmdk_handle_t* parent_handle,
                                 libvmdk_error_t** error);
using TSetExtentDataFilesPath = int (*)(libvmdk_handle_t* handle, const char* path,
                                        std::size_t path_length, libvmdk_error_t** error);
using TSignalAbort = int (*)(libvmdk_handle_t* handle, libvmdk_error_t** error);
// Error disposal; optional, used to free what the library leaves behind and to
// keep its backtrace for a diagnosis.
using TErrorFree = void (*)(libvmdk_error_t** error);
using TErrorBacktraceSprint = int (*)(libvmdk_error_t* error, char* string, std::size_t size);
}

// libvmdk's read-only access flag.
constexpr std::uint8_t kAccessRead = 1;
// libvmdk's extent type for a range that reads as zeros and has no file.
constexpr int kExtentTypeZero = 7;

// One extent line of an image's descriptor.
struct ExtentInfo {
  int type = 0;
  std::string file_name;  // as written in the descriptor, UTF-8
};

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

  // Whether this libvmdk offers every call that checking an image's files
  // and following its snapshot parents takes.
  bool CanInspect() const;
  // Image structure, for checking an image before its files are opened.
  // Each raises an Error naming the missing feature when this libvmdk lacks
  // the entry point, and one with libvmdk's account when the call fails.
  int GetNumberOfExtents();
  ExtentInfo GetExtent(int index);
  // The parent (snapshot base) file name hint; empty when there is none.
  std::string GetParentFileName();
  // Reads what this image does not hold from `parent`, which this object
  // keeps and destroys after its own handle is closed.
  void AttachParent(std::unique_ptr<TLibVMDK> parent);
  // Where the library looks for extent data files.
  void SetExtentDataFilesPath(const std::string& folder);
  // Makes a read under way return early; safe from another thread.
  void SignalAbort();
  // Keeps `resource` alive until this object's handle has been closed.
  void Keep(std::shared_ptr<void> resource) { kept_.push_back(std::move(resource)); }

  bool HasOpenWide() const { return open_wide_ != nullptr; }
  // libvmdk's own account of the last failure (its error backtrace), for a
  // diagnosis; empty when the library said nothing.
  const std::string& LastErrorDetails() const { return last_error_details_; }

 private:
  void Load(const std::string& folder);
  // Open and OpenWide: a handle, then the image by its path.
  template <typename OpenFn, typename Char>
  int OpenWith(OpenFn open, const Char* file_name, std::uint8_t access_flags);
  // Raises "<feature> is not supported by this libvmdk" when `entry` is null.
  static void Require(const void* entry, const char* feature);
  // Raises `what` with libvmdk's account, when `result` is not 1.
  void Check(int result, libvmdk_error_t*& error, const std::string& what);
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
  TGetNumberOfExtents get_number_of_extents_ = nullptr;
  TGetExtentDescriptor get_extent_descriptor_ = nullptr;
  TExtentDescriptorFree extent_descriptor_free_ = nullptr;
  TExtentDescriptorGetType extent_descriptor_get_type_ = nullptr;
  TExtentDescriptorGetUtf8FilenameSize extent_descriptor_get_utf8_filename_size_ = nullptr;
  TExtentDescriptorGetUtf8Filename extent_descriptor_get_utf8_filename_ = nullptr;
  TGetUtf8ParentFilenameSize get_utf8_parent_filename_size_ = nullptr;
  TGetUtf8ParentFilename get_utf8_parent_filename_ = nullptr;
  TSetParentHandle set_parent_handle_ = nullptr;
  TSetExtentDataFilesPath set_extent_data_files_path_ = nullptr;
  TSignalAbort signal_abort_ = nullptr;
  TErrorFree error_free_ = nullptr;
  TErrorBacktraceSprint error_backtrace_sprint_ = nullptr;
  std::string last_error_details_;
  // Declared last so they go after the handle: parents, staged files.
  std::vector<std::shared_ptr<void>> kept_;
};

}  // namespace tessaly::vmdk
