#include "bits/BitPacking.h"

#include "bits/LittleEndian.h"

#include <array>
#include <cstring>
#include <utility>

namespace tarvix {

namespace {

// Fields are handled in groups of 32: 32 fields of width W fill exactly W 32-bit words, so
// within a group every shift and word index is known at compile time. Whatever is left over
// (fewer than 32 fields) goes through the byte-at-a-time method, which touches exactly the
// bytes the stream holds.
constexpr int kGroup = 32;

constexpr uint64_t FieldMask(int width) {
  return width >= 32 ? 0xFFFFFFFFull : (uint64_t{1} << width) - 1;
}

// Sign extension of a field of `width` bits (1 to 32); bits above the field are ignored.
int32_t SignExtendField(uint32_t field, int width) {
  int shift = 32 - width;  // 0 for a 32-bit field, which is used unchanged
  return static_cast<int32_t>(field << shift) >> shift;
}

// ---- Packing ----

template <class C, int W, size_t K>
inline void PackField(const uint8_t* source, uint8_t* dest, uint64_t& pending) {
  constexpr size_t kFirstBit = K * W;
  constexpr int kShift = kFirstBit % 32;  // fewer than 32 bits wait in `pending`
  pending |= (uint64_t{C::Load(source + K * C::kBytes)} & FieldMask(W)) << kShift;
  if constexpr (kFirstBit / 32 != (kFirstBit + W) / 32) {
    StoreLE(dest + 4 * (kFirstBit / 32), static_cast<uint32_t>(pending));
    pending >>= 32;
  }
}

template <class C, int W, size_t... K>
inline void PackGroup(const uint8_t* source, uint8_t* dest, std::index_sequence<K...>) {
  uint64_t pending = 0;
  (PackField<C, W, K>(source, dest, pending), ...);
}

// The general method for any count: each field goes into the free bits of the current byte,
// a whole byte leaves as soon as it is full.
template <class C>
void PackPieces(int32_t count, int width, const uint8_t* source, uint8_t* dest) {
  const uint64_t mask = FieldMask(width);
  uint64_t pending = 0;
  int filled = 0;  // bits waiting in `pending`, always fewer than 8 between fields
  for (int32_t i = 0; i < count; ++i) {
    pending |= (uint64_t{C::Load(source + i * C::kBytes)} & mask) << filled;
    filled += width;
    while (filled >= 8) {
      *dest++ = static_cast<uint8_t>(pending);
      pending >>= 8;
      filled -= 8;
    }
  }
  if (filled > 0) *dest = static_cast<uint8_t>(pending);  // the bits above stay zero
}

template <class C, int W>
void PackFixed(int32_t count, const uint8_t* source, uint8_t* dest) {
  int32_t i = 0;
  for (; i + kGroup <= count; i += kGroup) {
    PackGroup<C, W>(source + i * C::kBytes, dest, std::make_index_sequence<kGroup>());
    dest += 4 * W;
  }
  PackPieces<C>(count - i, W, source + i * C::kBytes, dest);
}

// Whole-byte widths not wider than the container: the low bytes of each value, as they are.
template <class C, int Bytes>
void PackWholeBytes(int32_t count, const uint8_t* source, uint8_t* dest) {
  if constexpr (Bytes == C::kBytes) {
    std::memcpy(dest, source, static_cast<size_t>(count) * C::kBytes);
  } else {
    for (int32_t i = 0; i < count; ++i) {
      std::memcpy(dest + i * Bytes, source + i * C::kBytes, Bytes);
    }
  }
}

// ---- Unpacking differences ----
// Values go to dest, dest + stride, dest + 2 * stride, ...: the decoder writes one channel of an
// interleaved frame array directly.

template <class C, int W, size_t K>
inline void UnpackField(const uint8_t* source, uint8_t*& dest, size_t stride, uint32_t& value) {
  constexpr size_t kFirstBit = K * W;
  constexpr size_t kWord = kFirstBit / 32;
  constexpr int kShift = kFirstBit % 32;
  uint64_t window = LoadLE<uint32_t>(source + 4 * kWord);
  if constexpr (kShift + W > 32)
    window |= uint64_t{LoadLE<uint32_t>(source + 4 * (kWord + 1))} << 32;
  value += static_cast<uint32_t>(SignExtendField(static_cast<uint32_t>(window >> kShift), W));
  C::Store(dest, value);  // wraps at the container width
  dest += stride;         // a running pointer: 32 precomputed offsets would not fit in registers
}

template <class C, int W, size_t... K>
inline void UnpackGroup(const uint8_t* source, uint8_t*& dest, size_t stride, uint32_t& value,
                        std::index_sequence<K...>) {
  (UnpackField<C, W, K>(source, dest, stride, value), ...);
}

// The general method: each field is gathered from the unused low bits of as many source bytes
// as it touches; a byte is loaded only when its bits are needed.
template <class C>
void UnpackPieces(int32_t fields, int width, const uint8_t* source, uint8_t* dest, size_t stride,
                  uint32_t value) {
  uint64_t window = 0;
  int available = 0;  // unused bits in `window`
  for (int32_t i = 0; i < fields; ++i) {
    while (available < width) {
      window |= uint64_t{*source++} << available;
      available += 8;
    }
    value += static_cast<uint32_t>(SignExtendField(static_cast<uint32_t>(window), width));
    window >>= width;
    available -= width;
    C::Store(dest + i * stride, value);
  }
}

// `dest` holds value 0 already; fills values 1 to count - 1.
template <class C, int W>
void UnpackFixed(int32_t count, const uint8_t* source, uint8_t* dest, size_t stride) {
  uint32_t value = C::Load(dest);
  int32_t fields = count - 1;
  int32_t f = 0;
  uint8_t* next = dest + stride;
  for (; f + kGroup <= fields; f += kGroup) {
    UnpackGroup<C, W>(source, next, stride, value, std::make_index_sequence<kGroup>());
    source += 4 * W;
  }
  UnpackPieces<C>(fields - f, W, source, next, stride, value);
}

// Differences of whole bytes narrower than the container: each is read directly as a signed
// little-endian number of that many bytes.
template <class C, int Bytes>
void UnpackWholeByteDeltas(int32_t count, const uint8_t* source, uint8_t* dest, size_t stride) {
  uint32_t value = C::Load(dest);
  for (int32_t i = 1; i < count; ++i) {
    value += static_cast<uint32_t>(TContainer<Bytes>::LoadSigned(source));
    source += Bytes;
    C::Store(dest + i * stride, value);
  }
}

// ---- Dispatch on the width, one entry per width 1 to 32 ----

using TPacker = void (*)(int32_t, const uint8_t*, uint8_t*);
using TUnpacker = void (*)(int32_t, const uint8_t*, uint8_t*, size_t);

template <class C, size_t... W>
constexpr std::array<TPacker, 33> MakePackers(std::index_sequence<W...>) {
  return {nullptr, &PackFixed<C, static_cast<int>(W + 1)>...};
}

template <class C, size_t... W>
constexpr std::array<TUnpacker, 33> MakeUnpackers(std::index_sequence<W...>) {
  return {nullptr, &UnpackFixed<C, static_cast<int>(W + 1)>...};
}

template <class C>
constexpr std::array<TPacker, 33> kPackers = MakePackers<C>(std::make_index_sequence<32>());
template <class C>
constexpr std::array<TUnpacker, 33> kUnpackers = MakeUnpackers<C>(std::make_index_sequence<32>());

}  // namespace

template <class C>
void TBitPacking::PackBits(int32_t count, int32_t width, const uint8_t* source, uint8_t* dest) {
  if (count <= 0 || width <= 0) return;  // an empty stream
  switch (width) {
    case 8:
      return PackWholeBytes<C, 1>(count, source, dest);
    case 16:
      if constexpr (C::kBits >= 16) return PackWholeBytes<C, 2>(count, source, dest);
      break;
    case 24:
      if constexpr (C::kBits >= 24) return PackWholeBytes<C, 3>(count, source, dest);
      break;
    case 32:
      if constexpr (C::kBits >= 32) return PackWholeBytes<C, 4>(count, source, dest);
      break;
    default:
      break;
  }
  kPackers<C>[static_cast<size_t>(width)](count, source, dest);
}

template <class C>
void TBitPacking::UnpackBits(int32_t count, int32_t width, const uint8_t* source, int32_t baseValue,
                             uint8_t* dest, bool delta) {
  UnpackBitsStrided<C>(count, width, source, baseValue, dest, C::kBytes, delta);
}

template <class C>
void TBitPacking::UnpackBitsStrided(int32_t count, int32_t width, const uint8_t* source,
                                    int32_t baseValue, uint8_t* dest, size_t stride, bool delta) {
  if (count <= 0) return;
  if (!delta) {
    if (stride == C::kBytes) {
      std::memcpy(dest, source, static_cast<size_t>(count) * C::kBytes);
    } else {
      for (int32_t i = 0; i < count; ++i) {
        std::memcpy(dest + i * stride, source + i * C::kBytes, C::kBytes);
      }
    }
    return;
  }
  C::Store(dest, static_cast<uint32_t>(baseValue));
  if (width <= 0) {  // no bits: every difference is 0
    for (int32_t i = 1; i < count; ++i) std::memcpy(dest + i * stride, dest, C::kBytes);
    return;
  }
  if (width == 8 && C::kBits > 8) return UnpackWholeByteDeltas<C, 1>(count, source, dest, stride);
  if constexpr (C::kBits > 16) {
    if (width == 16) return UnpackWholeByteDeltas<C, 2>(count, source, dest, stride);
  }
  if constexpr (C::kBits > 24) {
    if (width == 24) return UnpackWholeByteDeltas<C, 3>(count, source, dest, stride);
  }
  kUnpackers<C>[static_cast<size_t>(width)](count, source, dest, stride);
}

template void TBitPacking::PackBits<TSample8>(int32_t, int32_t, const uint8_t*, uint8_t*);
template void TBitPacking::PackBits<TSample16>(int32_t, int32_t, const uint8_t*, uint8_t*);
template void TBitPacking::PackBits<TSample24>(int32_t, int32_t, const uint8_t*, uint8_t*);
template void TBitPacking::PackBits<TSample32>(int32_t, int32_t, const uint8_t*, uint8_t*);
template void TBitPacking::UnpackBits<TSample8>(int32_t, int32_t, const uint8_t*, int32_t, uint8_t*,
                                                bool);
template void TBitPacking::UnpackBits<TSample16>(int32_t, int32_t, const uint8_t*, int32_t,
                                                 uint8_t*, bool);
template void TBitPacking::UnpackBits<TSample24>(int32_t, int32_t, const uint8_t*, int32_t,
                                                 uint8_t*, bool);
template void TBitPacking::UnpackBits<TSample32>(int32_t, int32_t, const uint8_t*, int32_t,
                                                 uint8_t*, bool);
template void TBitPacking::UnpackBitsStrided<TSample8>(int32_t, int32_t, const uint8_t*, int32_t,
                                                       uint8_t*, size_t, bool);
template void TBitPacking::UnpackBitsStrided<TSample16>(int32_t, int32_t, const uint8_t*, int32_t,
                                                        uint8_t*, size_t, bool);
template void TBitPacking::UnpackBitsStrided<TSample24>(int32_t, int32_t, const uint8_t*, int32_t,
                                                        uint8_t*, size_t, bool);
template void TBitPacking::UnpackBitsStrided<TSample32>(int32_t, int32_t, const uint8_t*, int32_t,
                                                        uint8_t*, size_t, bool);

}  // namespace tarvix
