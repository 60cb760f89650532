// The parts of OutputFile that are the same on every platform: ownership of
// the native handle (-1 when there is none).
#include <utility>

#include "platform/platform.h"

namespace tessaly::platform {

OutputFile::OutputFile(OutputFile&& other) noexcept
    : native_(std::exchange(other.native_, -1)), last_error_(std::move(other.last_error_)) {}

OutputFile& OutputFile::operator=(OutputFile&& other) noexcept {
  if (this != &other) {
    Close();
    native_ = std::exchange(other.native_, -1);
    last_error_ = std::move(other.last_error_);
  }
  return *this;
}

OutputFile::~OutputFile() { Close(); }

bool OutputFile::IsOpen() const { return native_ != -1; }

// A file that could not be created writes nothing and keeps the reason it
// could not be created.
bool OutputFile::Write(const void* data, std::size_t size, std::size_t* written) {
  if (IsOpen()) return WriteAll(data, size, nullptr, written);
  if (written != nullptr) *written = 0;
  return size == 0;
}

bool OutputFile::WriteAt(const void* data, std::size_t size, std::int64_t offset,
                         std::size_t* written) {
  if (IsOpen()) return WriteAll(data, size, &offset, written);
  if (written != nullptr) *written = 0;
  return size == 0;
}

}  // namespace tessaly::platform
