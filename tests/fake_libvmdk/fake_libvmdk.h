// A scriptable stand-in for libvmdk, built as a shared library and staged
// beside test programs. Tests reach its script through fake_libvmdk_script().
#pragma once

#include <cstdint>

extern "C" {

struct FakeScript {
  // What libvmdk_handle_get_media_size writes, and whether it writes at all.
  std::int64_t media_size;
  int media_size_written;
  int initialize_result;           // 1 creates a handle
  int open_extent_files_result;    // 1 = success
  int close_result;                // 0 = success
  std::int64_t fail_read_at;       // a read that covers this byte returns -1 (-1: never)
  std::int64_t short_read_at;      // a read starting here gets half its bytes
  std::int64_t zero_read_at;       // a read starting here returns 0 early
  std::int64_t oversized_read_at;  // a read starting here claims one byte too many
  // The image's structure: `extents` extents of `extent_type` (7 reads as
  // zeros and needs no file) named `extent_name`.
  int extents;
  int extent_type;
  char extent_name[256];

  // What the binding did. Reads may come from several threads at once; the
  // fake counts them atomically.
  int initialize_calls;
  int free_calls;
  int open_calls;
  int open_wide_calls;
  int close_calls;
  int open_extent_files_calls;
  int read_calls;
  int media_size_calls;
  int handles_alive;
  int errors_alive;
  int null_handle_calls;           // calls other than close that got a null handle
  std::int64_t furthest_read_end;  // the highest offset + size any read asked for
  int descriptors_alive;
  int abort_calls;
  char extent_data_files_path[4096];
  char last_open_path[4096];
};

// Resets the script to a healthy 1 MiB image and zeroes the counters.
FakeScript* fake_libvmdk_script();
void fake_libvmdk_reset();
}

// Byte k of the fake image's media.
inline unsigned char FakeMediaByte(std::int64_t k) {
  return static_cast<unsigned char>((k * 131) ^ (k >> 16));
}
