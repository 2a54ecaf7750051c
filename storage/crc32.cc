#include "storage/crc32.h"

#include <isa-l/crc.h>

std::uint32_t Crc32(const void* data, std::size_t size) {
  const std::uint32_t crc = crc32_gzip_refl(0, static_cast<const unsigned char*>(data), size);
  ClearUpperVectorHalves();
  return crc;
}

void ClearUpperVectorHalves() {
#if defined(__x86_64__)
  static const bool avx = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx") != 0;
  }();
  // Listed as clobbered so that a build with AVX enabled keeps no vector in them across this.
  if (avx) {
    asm volatile("vzeroupper" ::: "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6", "xmm7", "xmm8", "xmm9",
                 "xmm10", "xmm11", "xmm12", "xmm13", "xmm14", "xmm15");
  }
#endif
}
