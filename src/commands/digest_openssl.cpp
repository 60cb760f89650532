#include "commands/digest.h"

#include <openssl/evp.h>

namespace tessaly::commands {
namespace {

const EVP_MD* AlgorithmFor(const std::string& name) {
  if (name == "sha256") return EVP_sha256();
  if (name == "sha1") return EVP_sha1();
  if (name == "md5") return EVP_md5();
  return nullptr;
}

EVP_MD_CTX* Context(void* context) { return static_cast<EVP_MD_CTX*>(context); }

}  // namespace

std::unique_ptr<Digest> Digest::Create(const std::string& name) {
  const EVP_MD* algorithm = AlgorithmFor(name);
  if (algorithm == nullptr) return nullptr;
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  if (context == nullptr) return nullptr;
  if (EVP_DigestInit_ex(context, algorithm, nullptr) != 1) {
    EVP_MD_CTX_free(context);
    return nullptr;
  }
  return std::unique_ptr<Digest>(new Digest(context));
}

Digest::~Digest() { EVP_MD_CTX_free(Context(context_)); }

void Digest::Update(const void* data, std::size_t size) {
  if (EVP_DigestUpdate(Context(context_), data, size) != 1) failed_ = true;
}

std::string Digest::FinishHex() {
  unsigned char value[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(Context(context_), value, &length) != 1 || failed_) return {};
  return Hex(value, length);
}

}  // namespace tessaly::commands
