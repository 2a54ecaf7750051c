#ifndef QUOTELOOM_STORAGE_CRC32_H
#define QUOTELOOM_STORAGE_CRC32_H

#include <cstddef>
#include <cstdint>

// CRC-32 (zlib's, as every stored format uses it), computed by ISA-L. Any thread.
std::uint32_t Crc32(const void* data, std::size_t size);

// Marks the upper halves of the vector registers unused (vzeroupper, where the CPU has AVX). ISA-L's
// AVX-512 code leaves them in use; until they are cleared every SSE instruction after it waits on
// them, and the loops of a reader or a packer take about twice as long.
void ClearUpperVectorHalves();

#endif
