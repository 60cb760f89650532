// A message digest (SHA-256, SHA-1, MD5) over bytes fed in order, through
// OpenSSL's EVP interface (digest_openssl.cpp) or, on Windows, the system's
// CNG (digest_bcrypt.cpp).
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace tessaly::commands {

class Digest {
 public:
  // The names Create accepts, as a user types them.
  static const std::vector<std::string>& Names();
  // A fresh digest of the algorithm `name` ("sha256", "sha1", "md5"); null
  // for a name it does not know or an algorithm the library cannot give.
  static std::unique_ptr<Digest> Create(const std::string& name);

  ~Digest();
  Digest(const Digest&) = delete;
  Digest& operator=(const Digest&) = delete;

  void Update(const void* data, std::size_t size);
  // The digest of everything fed so far, in lower-case hex; empty when the
  // library failed on the way. Ends the digest: call it once.
  std::string FinishHex();

 private:
  explicit Digest(void* context) : context_(context) {}
  // Lower-case hex of a finished digest's bytes.
  static std::string Hex(const unsigned char* bytes, std::size_t size);
  void* context_;  // the implementation's state
  bool failed_ = false;
};

}  // namespace tessaly::commands
