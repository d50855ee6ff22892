// Packing runs of integers into streams of fixed-width bit fields, and unpacking them plainly or
// as differences accumulated from a base value.
//
// Packed stream: field i of width b occupies stream bits i*b .. i*b+b-1, least significant bit
// first; stream bit k is bit (k mod 8) of byte (k div 8). n fields take ceil(n*b/8) bytes and
// the bits above the last field are zero.
//
// Nothing here checks its arguments: the caller guarantees a width of 0 to 32, a source holding
// the bytes read and a destination with room for the bytes written (see each operation).
#pragma once

#include <cstddef>
#include <cstdint>

#include "bits/SampleContainers.h"

namespace tarvix {

namespace TBitPacking {

// Reads `count` values of the container width from `source` and writes their low `width`
// bits as ceil(count*width/8) bytes to `dest`. Bits of a field above the container width are
// zero: the value is taken without sign extension.
template <class C>
void PackBits(int32_t count, int32_t width, const uint8_t* source, uint8_t* dest);

// Writes `count` values of the container width to `dest`.
// delta: value 0 is `baseValue` cut to the container; value i adds field i-1 of `source`,
//   sign-extended from `width` bits, to value i-1, wrapping at the container width. Reads
//   ceil((count-1)*width/8) bytes.
// !delta: copies count*container bytes from `source`; width and base are not used.
template <class C>
void UnpackBits(int32_t count, int32_t width, const uint8_t* source, int32_t baseValue,
                uint8_t* dest, bool delta);
// The same, writing value i to dest + i * stride (stride in bytes, at least the container's),
// so that one channel of interleaved frames is filled in place.
template <class C>
void UnpackBitsStrided(int32_t count, int32_t width, const uint8_t* source, int32_t baseValue,
                       uint8_t* dest, size_t stride, bool delta);

}  // namespace TBitPacking

}  // namespace tarvix
