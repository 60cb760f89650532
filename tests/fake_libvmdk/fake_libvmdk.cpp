// The fake library's entry points, under libvmdk's names and C signatures.
#include "fake_libvmdk.h"

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <thread>

namespace {

FakeScript g_script;
int g_handle_tag;  // handles point here

struct FakeError {
  char text[128];
};

void Reset() {
  std::memset(&g_script, 0, sizeof g_script);
  g_script.media_size = 1 << 20;
  g_script.media_size_written = 1;
  g_script.initialize_result = 1;
  g_script.open_extent_files_result = 1;
  g_script.close_result = 0;
  g_script.fail_read_at = -1;
  g_script.short_read_at = -1;
  g_script.zero_read_at = -1;
  g_script.oversized_read_at = -1;
  g_script.extents = 1;
  g_script.extent_type = 7;
}

// A program that loads the fake by itself (not through a test) is scripted
// through the environment: FAKE_LIBVMDK_MEDIA_SIZE, FAKE_LIBVMDK_READ_DELAY_US.
long long g_read_delay_us = 0;

struct Init {
  Init() {
    Reset();
    if (const char* size = std::getenv("FAKE_LIBVMDK_MEDIA_SIZE"))
      g_script.media_size = std::atoll(size);
    if (const char* delay = std::getenv("FAKE_LIBVMDK_READ_DELAY_US"))
      g_read_delay_us = std::atoll(delay);
  }
} g_init;

int Fail(void** error, const char* what) {
#ifdef FAKE_BARE
  // This variant has no libvmdk_error_free, so it leaves no error behind.
  (void)error;
  (void)what;
  return -1;
#endif
  if (error != nullptr && *error == nullptr) {
    auto* e = new FakeError;
    std::snprintf(e->text, sizeof e->text, "fake libvmdk: %s failed", what);
    *error = e;
    __atomic_add_fetch(&g_script.errors_alive, 1, __ATOMIC_RELAXED);
  }
  return -1;
}

}  // namespace

#ifdef _WIN32
#define FAKE_EXPORT extern "C" __declspec(dllexport)
#else
#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

// libvmdk's own types for counts and offsets.
using ssize_type = std::ptrdiff_t;
using off64_type = std::int64_t;

FAKE_EXPORT FakeScript* fake_libvmdk_script() { return &g_script; }
FAKE_EXPORT void fake_libvmdk_reset() { Reset(); }

FAKE_EXPORT int libvmdk_handle_initialize(void** handle, void** error) {
  ++g_script.initialize_calls;
  if (g_script.initialize_result != 1) return Fail(error, "initialize");
  *handle = &g_handle_tag;
  ++g_script.handles_alive;
  return 1;
}

FAKE_EXPORT int libvmdk_handle_free(void** handle, void** error) {
  ++g_script.free_calls;
  if (handle == nullptr || *handle == nullptr) return Fail(error, "free");
  *handle = nullptr;
  --g_script.handles_alive;
  return 1;
}

FAKE_EXPORT int libvmdk_handle_open(void* handle, const char* filename, int, void** error) {
  ++g_script.open_calls;
  if (handle == nullptr) ++g_script.null_handle_calls;
  std::snprintf(g_script.last_open_path, sizeof g_script.last_open_path, "%s", filename);
  return 1;
  (void)error;
}

#ifndef FAKE_WITHOUT_WIDE
FAKE_EXPORT int libvmdk_handle_open_wide(void* handle, const wchar_t* filename, int, void**) {
  ++g_script.open_wide_calls;
  if (handle == nullptr) ++g_script.null_handle_calls;
  std::snprintf(g_script.last_open_path, sizeof g_script.last_open_path, "%ls", filename);
  return 1;
}
#endif

FAKE_EXPORT int libvmdk_handle_close(void* handle, void** error) {
  ++g_script.close_calls;
  if (handle == nullptr) return Fail(error, "close");
  return g_script.close_result;
}

#ifndef FAKE_BARE
FAKE_EXPORT int libvmdk_handle_open_extent_data_files(void* handle, void** error) {
  ++g_script.open_extent_files_calls;
  if (handle == nullptr) ++g_script.null_handle_calls;
  if (g_script.open_extent_files_result != 1) Fail(error, "open extent data files");
  return g_script.open_extent_files_result;
}

FAKE_EXPORT ssize_type libvmdk_handle_read_buffer_at_offset(void* handle, void* buffer, size_t size,
                                                            off64_type offset, void** error) {
  __atomic_add_fetch(&g_script.read_calls, 1, __ATOMIC_RELAXED);
  if (handle == nullptr) __atomic_add_fetch(&g_script.null_handle_calls, 1, __ATOMIC_RELAXED);
  const std::int64_t end = offset + static_cast<std::int64_t>(size);
  std::int64_t furthest = __atomic_load_n(&g_script.furthest_read_end, __ATOMIC_RELAXED);
  while (end > furthest && !__atomic_compare_exchange_n(&g_script.furthest_read_end, &furthest, end,
                                                        true, __ATOMIC_RELAXED, __ATOMIC_RELAXED)) {
  }
  if (g_read_delay_us > 0) std::this_thread::sleep_for(std::chrono::microseconds(g_read_delay_us));
  // Like libvmdk, a read that meets a bad spot fails as a whole.
  if (g_script.fail_read_at >= offset && g_script.fail_read_at < end) return Fail(error, "read");
  if (offset == g_script.zero_read_at) return 0;
  if (offset >= g_script.media_size) return 0;
  size_t count = size;
  if (static_cast<std::int64_t>(count) > g_script.media_size - offset)
    count = static_cast<size_t>(g_script.media_size - offset);
  if (offset == g_script.short_read_at && count > 1) count /= 2;
  unsigned char* bytes = static_cast<unsigned char*>(buffer);
  for (size_t i = 0; i < count; ++i) bytes[i] = FakeMediaByte(offset + static_cast<off64_type>(i));
  if (offset == g_script.oversized_read_at) return static_cast<ssize_type>(size) + 1;
  return static_cast<ssize_type>(count);
}

FAKE_EXPORT int libvmdk_handle_get_media_size(void* handle, std::uint64_t* size, void**) {
  ++g_script.media_size_calls;
  if (handle == nullptr) ++g_script.null_handle_calls;
  if (g_script.media_size_written) *size = static_cast<std::uint64_t>(g_script.media_size);
  return 1;
}

FAKE_EXPORT int libvmdk_handle_get_number_of_extents(void*, int* count, void**) {
  *count = g_script.extents;
  return 1;
}

FAKE_EXPORT int libvmdk_handle_get_extent_descriptor(void*, int index, void** descriptor,
                                                     void** error) {
  if (index < 0 || index >= g_script.extents) return Fail(error, "get extent descriptor");
  *descriptor = new int(index);
  ++g_script.descriptors_alive;
  return 1;
}

FAKE_EXPORT int libvmdk_extent_descriptor_free(void** descriptor, void**) {
  delete static_cast<int*>(*descriptor);
  *descriptor = nullptr;
  --g_script.descriptors_alive;
  return 1;
}

FAKE_EXPORT int libvmdk_extent_descriptor_get_type(void*, int* type, void**) {
  *type = g_script.extent_type;
  return 1;
}

FAKE_EXPORT int libvmdk_extent_descriptor_get_utf8_filename_size(void*, size_t* size, void**) {
  *size = std::strlen(g_script.extent_name) + 1;
  return 1;
}

FAKE_EXPORT int libvmdk_extent_descriptor_get_utf8_filename(void*, std::uint8_t* name, size_t size,
                                                            void**) {
  std::snprintf(reinterpret_cast<char*>(name), size, "%s", g_script.extent_name);
  return 1;
}

FAKE_EXPORT int libvmdk_handle_get_utf8_parent_filename_size(void*, size_t*, void**) { return 0; }

FAKE_EXPORT int libvmdk_handle_get_utf8_parent_filename(void*, std::uint8_t*, size_t, void**) {
  return 0;
}

FAKE_EXPORT int libvmdk_handle_set_parent_handle(void*, void*, void**) { return 1; }

FAKE_EXPORT int libvmdk_handle_set_extent_data_files_path(void*, const char* path, size_t length,
                                                          void**) {
  std::snprintf(g_script.extent_data_files_path, sizeof g_script.extent_data_files_path, "%.*s",
                static_cast<int>(length), path);
  return 1;
}

FAKE_EXPORT int libvmdk_handle_signal_abort(void*, void**) {
  ++g_script.abort_calls;
  return 1;
}

FAKE_EXPORT void libvmdk_error_free(void** error) {
  if (error == nullptr || *error == nullptr) return;
  delete static_cast<FakeError*>(*error);
  *error = nullptr;
  __atomic_sub_fetch(&g_script.errors_alive, 1, __ATOMIC_RELAXED);
}

FAKE_EXPORT int libvmdk_error_backtrace_sprint(void* error, char* text, size_t size) {
  return std::snprintf(text, size, "%s", static_cast<FakeError*>(error)->text);
}
#endif

// Resolved but never called by the binding: present so every name resolves.
#ifndef FAKE_BARE
FAKE_EXPORT ssize_type libvmdk_handle_write_buffer(void*, const void*, size_t, void**) {
  std::abort();
}
FAKE_EXPORT off64_type libvmdk_handle_seek_offset(void*, off64_type, int, void**) { std::abort(); }
FAKE_EXPORT ssize_type libvmdk_handle_read_buffer(void*, void*, size_t, void**) { std::abort(); }
#endif
