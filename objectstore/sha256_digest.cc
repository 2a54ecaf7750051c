#include "objectstore/sha256_digest.h"

#include <openssl/evp.h>

#include <cstdlib>

Sha256Digest::Sha256Digest() : context_(EVP_MD_CTX_new()) {
  if (context_ == nullptr || EVP_DigestInit_ex(context_, EVP_sha256(), nullptr) != 1) std::abort();
}

Sha256Digest::~Sha256Digest() { EVP_MD_CTX_free(context_); }

void Sha256Digest::Update(std::string_view bytes) { EVP_DigestUpdate(context_, bytes.data(), bytes.size()); }

std::string Sha256Digest::Finish() {
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  EVP_DigestFinal_ex(context_, out, &size);
  return std::string(reinterpret_cast<const char*>(out), size);
}
