#ifndef QUOTELOOM_OBJECTSTORE_SHA256_DIGEST_H
#define QUOTELOOM_OBJECTSTORE_SHA256_DIGEST_H

#include <string>
#include <string_view>

// SHA-256 of bytes fed in pieces (OpenSSL's implementation). One thread at a time.
class Sha256Digest {
 public:
  Sha256Digest();
  ~Sha256Digest();
  Sha256Digest(const Sha256Digest&) = delete;
  Sha256Digest& operator=(const Sha256Digest&) = delete;

  void Update(std::string_view bytes);
  // The 32 bytes of the digest; the object is spent afterwards.
  std::string Finish();

 private:
  struct evp_md_ctx_st* context_;
};

#endif
