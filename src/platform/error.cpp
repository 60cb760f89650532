#include "platform/error.h"

#include <utility>

#include "platform/platform.h"

namespace tessaly {

Error::Error(const std::string& message, std::string details)
    : std::runtime_error(message), details_(std::move(details)), stack_(platform::CaptureStack()) {}

}  // namespace tessaly
