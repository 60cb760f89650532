// The parts of Digest that do not depend on the library computing it.
#include "commands/digest.h"

namespace tessaly::commands {

const std::vector<std::string>& Digest::Names() {
  static const std::vector<std::string> names{"sha256", "sha1", "md5"};
  return names;
}

std::string Digest::Hex(const unsigned char* bytes, std::size_t size) {
  static const char kHex[] = "0123456789abcdef";
  std::string hex;
  for (std::size_t i = 0; i < size; ++i) {
    hex += kHex[bytes[i] >> 4];
    hex += kHex[bytes[i] & 15];
  }
  return hex;
}

}  // namespace tessaly::commands
