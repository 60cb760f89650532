// Digests on Windows, through the system's CNG (BCrypt) interface.
#include <windows.h>
// Must follow windows.h.
#include <bcrypt.h>

#include <vector>

#include "commands/digest.h"

namespace tessaly::commands {
namespace {

struct Context {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
  DWORD length = 0;
  ~Context() {
    if (hash != nullptr) BCryptDestroyHash(hash);
    if (algorithm != nullptr) BCryptCloseAlgorithmProvider(algorithm, 0);
  }
};

const wchar_t* AlgorithmFor(const std::string& name) {
  if (name == "sha256") return BCRYPT_SHA256_ALGORITHM;
  if (name == "sha1") return BCRYPT_SHA1_ALGORITHM;
  if (name == "md5") return BCRYPT_MD5_ALGORITHM;
  return nullptr;
}

Context* Of(void* context) { return static_cast<Context*>(context); }

}  // namespace

std::unique_ptr<Digest> Digest::Create(const std::string& name) {
  const wchar_t* id = AlgorithmFor(name);
  if (id == nullptr) return nullptr;
  auto context = std::make_unique<Context>();
  DWORD written = 0;
  if (BCryptOpenAlgorithmProvider(&context->algorithm, id, nullptr, 0) != 0 ||
      BCryptGetProperty(context->algorithm, BCRYPT_HASH_LENGTH,
                        reinterpret_cast<PUCHAR>(&context->length), sizeof context->length,
                        &written, 0) != 0 ||
      BCryptCreateHash(context->algorithm, &context->hash, nullptr, 0, nullptr, 0, 0) != 0) {
    return nullptr;
  }
  return std::unique_ptr<Digest>(new Digest(context.release()));
}

Digest::~Digest() { delete Of(context_); }

void Digest::Update(const void* data, std::size_t size) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  while (size > 0) {
    const ULONG piece = static_cast<ULONG>(size > (1u << 30) ? (1u << 30) : size);
    if (BCryptHashData(Of(context_)->hash, const_cast<PUCHAR>(bytes), piece, 0) != 0)
      failed_ = true;
    bytes += piece;
    size -= piece;
  }
}

std::string Digest::FinishHex() {
  std::vector<unsigned char> value(Of(context_)->length);
  if (BCryptFinishHash(Of(context_)->hash, value.data(), static_cast<ULONG>(value.size()), 0) !=
          0 ||
      failed_) {
    return {};
  }
  return Hex(value.data(), value.size());
}

}  // namespace tessaly::commands
