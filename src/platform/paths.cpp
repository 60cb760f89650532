// Path rules that hold on every platform, given its separators.
#include "platform/platform.h"

namespace tessaly::platform {

std::string FolderOf(const std::string& path) {
  for (std::size_t i = path.size(); i > 0; --i) {
    if (IsPathSeparator(path[i - 1])) return path.substr(0, i);
  }
  return {};
}

}  // namespace tessaly::platform
