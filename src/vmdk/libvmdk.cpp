#include "vmdk/libvmdk.h"

#include <array>
#include <cstring>
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
  Resolve(FLibModule, "libvmdk_handle_get_number_of_extents", get_number_of_extents_);
  Resolve(FLibModule, "libvmdk_handle_get_extent_descriptor", get_extent_descriptor_);
  Resolve(FLibModule, "libvmdk_extent_descriptor_free", extent_descriptor_free_);
  Resolve(FLibModule, "libvmdk_extent_descriptor_get_type", extent_descriptor_get_type_);
  Resolve(FLibModule, "libvmdk_extent_descriptor_get_utf8_filename_size",
          extent_descriptor_get_utf8_filename_size_);
  Resolve(FLibModule, "libvmdk_extent_descriptor_get_utf8_filename",
          extent_descriptor_get_utf8_filename_);
  Resolve(FLibModule, "libvmdk_handle_get_utf8_parent_filename_size",
          get_utf8_parent_filename_size_);
  Resolve(FLibModule, "libvmdk_handle_get_utf8_parent_filename", get_utf8_parent_filename_);
  Resolve(FLibModule, "libvmdk_handle_set_parent_handle", set_parent_handle_);
  Resolve(FLibModule, "libvmdk_handle_set_extent_data_files_path", set_extent_data_files_path_);
  Resolve(FLibModule, "libvmdk_handle_signal_abort", signal_abort_);
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

template <typename OpenFn, typename Char>
int TLibVMDK::OpenWith(OpenFn open, const Char* file_name, std::uint8_t access_flags) {
  if (initialize_ == nullptr || open == nullptr) return -1;
  libvmdk_error_t* error = nullptr;
  // Whether the image itself opened shows at the next call; what counts here
  // is that a handle exists.
  if (initialize_(&FHandle, &error) == 1) open(FHandle, file_name, access_flags, &error);
  Dispose(error);
  return FHandle != nullptr ? 0 : -1;
}

int TLibVMDK::Open(const std::string& file_name, std::uint8_t access_flags) {
  return OpenWith(open_, file_name.c_str(), access_flags);
}

int TLibVMDK::OpenWide(const std::wstring& file_name, std::uint8_t access_flags) {
  return OpenWith(open_wide_, file_name.c_str(), access_flags);
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

void TLibVMDK::Require(const void* entry, const char* feature) {
  if (entry == nullptr) throw Error(std::string(feature) + " is not supported by this libvmdk");
}

void TLibVMDK::Check(int result, libvmdk_error_t*& error, const std::string& what) {
  Dispose(error);
  if (result != 1) throw Error(what, last_error_details_);
}

bool TLibVMDK::CanInspect() const {
  for (const void* entry :
       {reinterpret_cast<const void*>(get_number_of_extents_),
        reinterpret_cast<const void*>(get_extent_descriptor_),
        reinterpret_cast<const void*>(extent_descriptor_free_),
        reinterpret_cast<const void*>(extent_descriptor_get_type_),
        reinterpret_cast<const void*>(extent_descriptor_get_utf8_filename_size_),
        reinterpret_cast<const void*>(extent_descriptor_get_utf8_filename_),
        reinterpret_cast<const void*>(get_utf8_parent_filename_size_),
        reinterpret_cast<const void*>(get_utf8_parent_filename_),
        reinterpret_cast<const void*>(set_parent_handle_),
        reinterpret_cast<const void*>(set_extent_data_files_path_)}) {
    if (entry == nullptr) return false;
  }
  return true;
}

int TLibVMDK::GetNumberOfExtents() {
  Require(reinterpret_cast<const void*>(get_number_of_extents_), "listing extents");
  int count = 0;
  libvmdk_error_t* error = nullptr;
  Check(get_number_of_extents_(FHandle, &count, &error), error,
        "the image's extents are unreadable");
  return count;
}

ExtentInfo TLibVMDK::GetExtent(int index) {
  for (const void* entry :
       {reinterpret_cast<const void*>(get_extent_descriptor_),
        reinterpret_cast<const void*>(extent_descriptor_free_),
        reinterpret_cast<const void*>(extent_descriptor_get_type_),
        reinterpret_cast<const void*>(extent_descriptor_get_utf8_filename_size_),
        reinterpret_cast<const void*>(extent_descriptor_get_utf8_filename_)}) {
    Require(entry, "reading extent descriptors");
  }
  const std::string what = "extent " + std::to_string(index) + " of the image is unreadable";
  libvmdk_error_t* error = nullptr;
  libvmdk_extent_descriptor_t* descriptor = nullptr;
  Check(get_extent_descriptor_(FHandle, index, &descriptor, &error), error, what);
  struct Release {
    TLibVMDK& lib;
    libvmdk_extent_descriptor_t*& descriptor;
    ~Release() {
      libvmdk_error_t* ignored = nullptr;
      lib.extent_descriptor_free_(&descriptor, &ignored);
      lib.Dispose(ignored);
    }
  } release{*this, descriptor};

  ExtentInfo extent;
  Check(extent_descriptor_get_type_(descriptor, &extent.type, &error), error, what);
  if (extent.type == kExtentTypeZero) return extent;
  std::size_t size = 0;
  Check(extent_descriptor_get_utf8_filename_size_(descriptor, &size, &error), error, what);
  // A descriptor line is short; a name longer than a path can be is no name.
  if (size == 0 || size > 65536)
    throw Error(what + ": its file name is " + std::to_string(size) + " bytes long");
  std::vector<std::uint8_t> name(size);
  Check(extent_descriptor_get_utf8_filename_(descriptor, name.data(), name.size(), &error), error,
        what);
  extent.file_name.assign(reinterpret_cast<const char*>(name.data()),
                          strnlen(reinterpret_cast<const char*>(name.data()), size));
  return extent;
}

std::string TLibVMDK::GetParentFileName() {
  Require(reinterpret_cast<const void*>(get_utf8_parent_filename_size_), "snapshot parents");
  Require(reinterpret_cast<const void*>(get_utf8_parent_filename_), "snapshot parents");
  libvmdk_error_t* error = nullptr;
  std::size_t size = 0;
  const int available = get_utf8_parent_filename_size_(FHandle, &size, &error);
  if (available == 0 || (available == 1 && size <= 1)) {
    Dispose(error);
    return {};
  }
  Check(available, error, "the image's parent file name is unreadable");
  if (size > 65536)
    throw Error("the image's parent file name is " + std::to_string(size) + " bytes long");
  std::vector<std::uint8_t> name(size);
  Check(get_utf8_parent_filename_(FHandle, name.data(), name.size(), &error), error,
        "the image's parent file name is unreadable");
  return std::string(reinterpret_cast<const char*>(name.data()),
                     strnlen(reinterpret_cast<const char*>(name.data()), size));
}

void TLibVMDK::AttachParent(std::unique_ptr<TLibVMDK> parent) {
  Require(reinterpret_cast<const void*>(set_parent_handle_), "snapshot parents");
  libvmdk_error_t* error = nullptr;
  Check(set_parent_handle_(FHandle, parent->FHandle, &error), error,
        "the parent image does not belong to this snapshot");
  Keep(std::shared_ptr<TLibVMDK>(std::move(parent)));
}

void TLibVMDK::SetExtentDataFilesPath(const std::string& folder) {
  Require(reinterpret_cast<const void*>(set_extent_data_files_path_), "choosing the extent files");
  libvmdk_error_t* error = nullptr;
  Check(set_extent_data_files_path_(FHandle, folder.c_str(), folder.size(), &error), error,
        "the extent files could not be chosen");
}

void TLibVMDK::SignalAbort() {
  if (signal_abort_ == nullptr || FHandle == nullptr) return;
  // The library's error is deliberately not kept: this may run on another
  // thread than the one reading.
  signal_abort_(FHandle, nullptr);
}

}  // namespace tessaly::vmdk
