// The vector block kernels, compiled once for every instruction set Highway targets; the best one
// the processor runs is chosen at run time. They give the bytes of the scalar kernels.
//
// Packing works a 16-byte block at a time: the block's fields (16, 8 or 4 of them) are merged
// pairwise into ever wider lanes until the block holds one chunk of fields * width bits, which
// lands in the stream at chunk * fields * width bits. That position is a whole byte but for 32-bit
// lanes of odd width, where every other chunk starts at bit 4 of a byte. Unpacking gives each
// field its own lane with a byte shuffle and a shift, then sums the differences within the
// block and carries the block's total on. Decoding a whole block of one or two channels does
// both channels' unpacking and summing a vector at a time and stores the frames interleaved,
// asking for the next blocks' bytes meanwhile.
// foreach_target.h includes this file again once per target: it comes first.
// clang-format off
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "bits/BlockKernelsVector.cpp"
#include <hwy/foreach_target.h>  // includes this file again once per target
#include <hwy/cache_control.h>
#include <hwy/highway.h>
// clang-format on

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>

#include "bits/BlockKernels.h"

#ifndef TARVIX_BITS_BLOCK_KERNELS_VECTOR_SHARED
#define TARVIX_BITS_BLOCK_KERNELS_VECTOR_SHARED
namespace tarvix {

// The tables of one target.
struct TKernelSet {
  const char* name;
  const TBlockKernels<TSample8>* k8;
  const TBlockKernels<TSample16>* k16;
  const TBlockKernels<TSample24>* k24;
  const TBlockKernels<TSample32>* k32;
};

// Unpacking by spreading: every lane of a 16-byte block takes the (up to 4) stream bytes its field
// lies in, shifts them up until the field's top bit is the lane's sign, and shifts them down
// again with it. The tables say which bytes and how far, per width and start bit.
struct TSpreadTable {
  uint8_t bytes[16];    // the window byte for each byte of the lanes; 0x80 gives a zero
  uint32_t shifts[4];   // 32-bit lanes: the left shift
  uint16_t factors[8];  // 16-bit lanes: the left shift as a factor
};

// Fields first .. first + lanes - 1 of a stream of `width`-bit fields that starts at bit `offset`
// of a 16-byte window, each in a lane of `laneBytes` bytes.
constexpr TSpreadTable MakeSpread(int width, int offset, int first, int laneBytes) {
  TSpreadTable table{};
  for (int j = 0; j < 16 / laneBytes; ++j) {
    const int bit = offset + (first + j) * width;
    const int needed = (bit % 8 + width + 7) / 8;
    for (int k = 0; k < laneBytes; ++k) {
      const int byte = bit / 8 + k;
      table.bytes[j * laneBytes + k] = static_cast<uint8_t>(k < needed && byte < 16 ? byte : 0x80);
    }
    const int up = 8 * laneBytes - width - bit % 8;
    if (laneBytes == 4) table.shifts[j] = static_cast<uint32_t>(up);
    if (laneBytes == 2) table.factors[j] = static_cast<uint16_t>(1u << up);
  }
  return table;
}

// Widths the spreading serves: a field and its start bit within the byte fit the lane.
constexpr int kSpreadMax8 = 7;    // 8 fields = width bytes, in 16-bit lanes
constexpr int kSpreadMax16 = 15;  // 8 fields = width bytes, two blocks of 32-bit lanes
constexpr int kSpreadMax32 = 25;  // 4 fields, starting at bit 0 or 4
// 16-bit samples this narrow go in 16-bit lanes as 8-bit ones do: half the work.
constexpr int kSpreadNarrow16 = 9;

// [width]: the 8 fields of a group in 16-bit lanes.
constexpr auto kSpread8 = [] {
  std::array<TSpreadTable, kSpreadNarrow16 + 1> tables{};
  for (int w = 1; w <= kSpreadNarrow16; ++w) tables[w] = MakeSpread(w, 0, 0, 2);
  return tables;
}();
// [width][half]: fields 0-3 and 4-7 of a group in 32-bit lanes.
constexpr auto kSpread16 = [] {
  std::array<std::array<TSpreadTable, 2>, kSpreadMax16 + 1> tables{};
  for (int w = 1; w <= kSpreadMax16; ++w) {
    for (int half = 0; half < 2; ++half) tables[w][half] = MakeSpread(w, 0, 4 * half, 4);
  }
  return tables;
}();
// [width][start bit / 4]: 4 fields in 32-bit lanes.
constexpr auto kSpread32 = [] {
  std::array<std::array<TSpreadTable, 2>, kSpreadMax32 + 1> tables{};
  for (int w = 1; w <= kSpreadMax32; ++w) {
    for (int start = 0; start < 2; ++start) tables[w][start] = MakeSpread(w, 4 * start, 0, 4);
  }
  return tables;
}();

}  // namespace tarvix
#endif

HWY_BEFORE_NAMESPACE();
namespace tarvix {
namespace HWY_NAMESPACE {

#if HWY_TARGET == HWY_SCALAR
// One lane per vector gains nothing over the plain loops.
const TKernelSet* KernelSet() {
  static const TKernelSet set{hwy::TargetName(HWY_TARGET), &ScalarBlockKernels<TSample8>(),
                              &ScalarBlockKernels<TSample16>(), &ScalarBlockKernels<TSample24>(),
                              &ScalarBlockKernels<TSample32>()};
  return &set;
}
#else

namespace hn = hwy::HWY_NAMESPACE;

// ---- Gathering one channel of interleaved frames ----

// Mono 24-bit: four 3-byte samples per 16-byte load, placed in the top three bytes of 32-bit
// lanes and shifted down with their sign. Returns the samples done.
size_t GatherMono24(const uint8_t* first, size_t readable, int32_t* samples) {
  const hn::Full128<uint8_t> d8;
  const hn::Full128<int32_t> d32;
  alignas(16) static constexpr uint8_t kSpread[16] = {0, 0, 1, 2, 0, 3, 4,  5,
                                                      0, 6, 7, 8, 0, 9, 10, 11};
  const auto spread = hn::Load(d8, kSpread);
  size_t j = 0;
  for (; 3 * j + 16 <= readable; j += 4) {
    const auto bytes = hn::TableLookupBytes(hn::LoadU(d8, first + 3 * j), spread);
    hn::StoreU(hn::ShiftRight<8>(hn::BitCast(d32, bytes)), d32, samples + j);
  }
  return j;
}

// Stereo 24-bit: two samples (6 bytes apart) from each of two loads 12 bytes apart.
size_t GatherStereo24(const uint8_t* first, size_t readable, int32_t* samples) {
  const hn::Full128<uint8_t> d8;
  const hn::Full128<int32_t> d32;
  alignas(16) static constexpr uint8_t kSpread[16] = {0, 0, 1, 2, 0, 6, 7, 8,
                                                      0, 0, 1, 2, 0, 6, 7, 8};
  const auto spread = hn::Load(d8, kSpread);
  size_t j = 0;
  for (; 6 * j + 28 <= readable; j += 4) {
    const auto low = hn::TableLookupBytes(hn::LoadU(d8, first + 6 * j), spread);
    const auto high = hn::TableLookupBytes(hn::LoadU(d8, first + 6 * j + 12), spread);
    const auto both = hn::BitCast(d32, hn::ConcatLowerLower(d8, high, low));
    hn::StoreU(hn::ShiftRight<8>(both), d32, samples + j);
  }
  return j;
}

// Stereo of 1-, 2- or 4-byte containers: the even lanes of two loads.
template <class W>
size_t GatherStereo(const uint8_t* first, size_t readable, W* samples) {
  const hn::ScalableTag<W> d;
  const size_t n = hn::Lanes(d);
  const W* source = reinterpret_cast<const W*>(first);
  size_t j = 0;
  for (; (2 * j + 2 * n) * sizeof(W) <= readable; j += n) {
    const auto low = hn::LoadU(d, source + 2 * j);
    const auto high = hn::LoadU(d, source + 2 * j + n);
    hn::StoreU(hn::ConcatEven(d, high, low), d, samples + j);
  }
  return j;
}

template <class C>
void GatherChannel(const uint8_t* first, size_t channels, size_t available, TWork<C>* samples) {
  using W = TWork<C>;
  size_t j = 0;
  if (available > 0) {
    // Bytes from `first` up to and including the channel's last sample.
    const size_t readable = ((available - 1) * channels + 1) * C::kBytes;
    if constexpr (C::kBytes == sizeof(W)) {
      if (channels == 1) {
        std::memcpy(samples, first, available * sizeof(W));
        j = available;
      } else if (channels == 2) {
        j = GatherStereo<W>(first, readable, samples);
      }
    } else {
      if (channels == 1) j = GatherMono24(first, readable, samples);
      if (channels == 2) j = GatherStereo24(first, readable, samples);
    }
  }
  // What the loads above leave, and every other channel count, one sample at a time.
  const size_t stride = channels * C::kBytes;
  for (; j < available; ++j) samples[j] = static_cast<W>(C::LoadSigned(first + j * stride));
  std::memset(samples + j, 0, (kBlockValues - j) * sizeof(W));
}

// ---- Differences and their width ----

template <class C>
uint32_t MakeDeltas(const TWork<C>* HWY_RESTRICT s, TWork<C>* HWY_RESTRICT d) {
  using W = TWork<C>;
  using U = std::make_unsigned_t<W>;
  const hn::ScalableTag<W> dw;
  const size_t n = hn::Lanes(dw);
  auto magnitudes = hn::Zero(dw);
  auto step = [&](size_t i) HWY_ATTR {
    auto diff = hn::Sub(hn::LoadU(dw, s + i + 1), hn::LoadU(dw, s + i));
    if constexpr (C::kBytes == 3) diff = hn::ShiftRight<8>(hn::ShiftLeft<8>(diff));
    hn::StoreU(diff, dw, d + i);
    magnitudes = hn::Or(magnitudes, hn::Xor(diff, hn::BroadcastSignBit(diff)));
  };
  constexpr size_t kDeltas = kBlockValues - 1;
  size_t i = 0;
  for (; i + n <= kDeltas; i += n) step(i);
  if (i < kDeltas) step(kDeltas - n);  // overlaps the one before: same values again
  d[kDeltas] = 0;
  alignas(64) W lanes[HWY_MAX_BYTES / sizeof(W)];
  hn::Store(magnitudes, dw, lanes);
  U all = 0;
  for (size_t k = 0; k < n; ++k) all = static_cast<U>(all | static_cast<U>(lanes[k]));
  return all;
}

// ---- Packing ----

// Neighbouring fields of `bits` each, in the halves of DTo's lanes, into one field of twice the
// width: the first stays low, the second goes above it. Bits above the fields must be zero.
template <class DTo, class V>
HWY_INLINE hn::Vec<DTo> MergePairs(DTo dto, V v, int bits) {
  using T = hn::TFromD<DTo>;
  constexpr int kHalf = 4 * sizeof(T);
  const auto x = hn::BitCast(dto, v);
  const auto low = hn::And(x, hn::Set(dto, static_cast<T>((T{1} << kHalf) - 1)));
  return hn::Or(low, hn::ShiftLeftSame(hn::ShiftRight<kHalf>(x), bits));
}

// The two 64-bit lanes of each block, `bits` (below 64) each, into one chunk of 2 * bits:
// lane 0 takes its own and the low part of lane 1, lane 1 what is left of lane 1.
template <class D64>
HWY_INLINE hn::Vec<D64> MergeBlock(D64 d64, hn::Vec<D64> q, int bits) {
  const auto upper = hn::InterleaveUpper(d64, q, q);  // lane 1 in both lanes
  const auto low = hn::Or(q, hn::ShiftLeftSame(upper, bits));
  return hn::OddEven(hn::ShiftRightSame(upper, 64 - bits), low);
}

// The fields of one vector, `width` bits in lanes of W, as one chunk per block.
template <class W, class D64>
HWY_INLINE hn::Vec<D64> ChunksOf(D64 d64, const W* values, int width) {
  using U = std::make_unsigned_t<W>;
  const hn::Repartition<U, D64> du;
  const hn::Repartition<uint16_t, D64> d16;
  const hn::Repartition<uint32_t, D64> d32;
  const U mask = static_cast<U>((uint64_t{1} << width) - 1);
  const auto fields =
      hn::And(hn::BitCast(du, hn::LoadU(hn::Repartition<W, D64>(), values)), hn::Set(du, mask));
  hn::Vec<D64> q;
  if constexpr (sizeof(W) == 1) {
    q = MergePairs(d64, MergePairs(d32, MergePairs(d16, fields, width), 2 * width), 4 * width);
  } else if constexpr (sizeof(W) == 2) {
    q = MergePairs(d64, MergePairs(d32, fields, width), 2 * width);
  } else {
    q = MergePairs(d64, fields, width);
  }
  return MergeBlock(d64, q, static_cast<int>(8 / sizeof(W)) * width);
}

template <class C>
void PackFields(const TWork<C>* values, int width, uint8_t* payload) {
  using W = TWork<C>;
  if (width >= static_cast<int>(8 * sizeof(W))) {  // the containers as they are
    return ScalarBlockKernels<C>().packFields(values, width, payload);
  }
  const hn::ScalableTag<uint64_t> d64;
  const size_t n = hn::Lanes(d64) * sizeof(uint64_t) / sizeof(W);
  constexpr size_t kFieldsPerChunk = 16 / sizeof(W);
  const size_t chunkBits = kFieldsPerChunk * static_cast<size_t>(width);
  // Every chunk is written with 16 bytes, most of them overwritten by the next: room for them.
  alignas(64) uint8_t stream[64 * 32 + 16];
  alignas(64) uint64_t lanes[HWY_MAX_BYTES / 8];
  size_t bit = 0;
  for (size_t i = 0; i < kBlockValues; i += n) {
    hn::Store(ChunksOf<W>(d64, values + i, width), d64, lanes);
    for (size_t b = 0; b < n / kFieldsPerChunk; ++b, bit += chunkBits) {
      uint64_t low = lanes[2 * b];
      uint64_t high = lanes[2 * b + 1];
      uint8_t* at = stream + bit / 8;
      if (bit % 8 != 0) {  // 4: the byte holds the last 4 bits of the chunk before
        high = high << 4 | low >> 60;
        low = low << 4 | *at;
      }
      std::memcpy(at, &low, 8);
      std::memcpy(at + 8, &high, 8);
    }
  }
  std::memcpy(payload, stream, 64 * static_cast<size_t>(width));
}

// ---- Unpacking and summing ----

// Sums of the lanes of a block up to and including each lane.
template <class D>
HWY_INLINE hn::Vec<D> InclusiveSums(D d, hn::Vec<D> v) {
  constexpr size_t kLanes = 16 / sizeof(hn::TFromD<D>);
  v = hn::Add(v, hn::ShiftLeftLanes<1>(d, v));
  v = hn::Add(v, hn::ShiftLeftLanes<2>(d, v));
  if constexpr (kLanes >= 8) v = hn::Add(v, hn::ShiftLeftLanes<4>(d, v));
  if constexpr (kLanes >= 16) v = hn::Add(v, hn::ShiftLeftLanes<8>(d, v));
  return v;
}

// The last lane of a block in every lane.
template <class D>
HWY_INLINE hn::Vec<D> BroadcastLast(D d, hn::Vec<D> v) {
  using T = hn::TFromD<D>;
  alignas(16) static constexpr uint8_t kLast[16] = {
      16 - sizeof(T) + 0 % sizeof(T),  16 - sizeof(T) + 1 % sizeof(T),
      16 - sizeof(T) + 2 % sizeof(T),  16 - sizeof(T) + 3 % sizeof(T),
      16 - sizeof(T) + 4 % sizeof(T),  16 - sizeof(T) + 5 % sizeof(T),
      16 - sizeof(T) + 6 % sizeof(T),  16 - sizeof(T) + 7 % sizeof(T),
      16 - sizeof(T) + 8 % sizeof(T),  16 - sizeof(T) + 9 % sizeof(T),
      16 - sizeof(T) + 10 % sizeof(T), 16 - sizeof(T) + 11 % sizeof(T),
      16 - sizeof(T) + 12 % sizeof(T), 16 - sizeof(T) + 13 % sizeof(T),
      16 - sizeof(T) + 14 % sizeof(T), 16 - sizeof(T) + 15 % sizeof(T)};
  const hn::Repartition<uint8_t, D> d8;
  return hn::BitCast(d, hn::TableLookupBytes(hn::BitCast(d8, v), hn::LoadDup128(d8, kLast)));
}

// Fields of `width` bits at the start of `window` (and bit `offset`), one per 32-bit lane,
// sign-extended.
HWY_INLINE hn::Vec<hn::Full128<int32_t>> Spread32(const uint8_t* window, const TSpreadTable& table,
                                                  int width) {
  const hn::Full128<uint8_t> d8;
  const hn::Full128<uint32_t> du;
  const hn::Full128<int32_t> di;
  const auto lanes =
      hn::BitCast(du, hn::TableLookupBytes(hn::LoadU(d8, window), hn::LoadU(d8, table.bytes)));
  const auto up = lanes << hn::LoadU(du, table.shifts);
  return hn::ShiftRightSame(hn::BitCast(di, up), 32 - width);
}

// The same in 16-bit lanes, shifted up by a multiplication.
HWY_INLINE hn::Vec<hn::Full128<int16_t>> Spread16(const uint8_t* window, const TSpreadTable& table,
                                                  int width) {
  const hn::Full128<uint8_t> d8;
  const hn::Full128<int16_t> di;
  const auto lanes =
      hn::BitCast(di, hn::TableLookupBytes(hn::LoadU(d8, window), hn::LoadU(d8, table.bytes)));
  const auto up =
      hn::Mul(lanes, hn::BitCast(di, hn::LoadU(hn::Full128<uint16_t>(), table.factors)));
  return hn::ShiftRightSame(up, 16 - width);
}

// The 16 / sizeof(W) fields from field `first` on, sign-extended in W, by spreading; `window(byte)`
// gives 16 readable bytes from stream byte `byte` on.
template <class W, class F>
HWY_INLINE hn::Vec<hn::Full128<W>> SpreadFields(F&& window, size_t first, int width) {
  const size_t w = static_cast<size_t>(width);
  if constexpr (sizeof(W) == 1) {
    const hn::Full64<int8_t> half;
    const TSpreadTable& table = kSpread8[w];
    const auto low = hn::DemoteTo(half, Spread16(window(first / 8 * w), table, width));
    const auto high = hn::DemoteTo(half, Spread16(window(first / 8 * w + w), table, width));
    return hn::Combine(hn::Full128<int8_t>(), high, low);
  } else if constexpr (sizeof(W) == 2) {
    if (width <= kSpreadNarrow16) return Spread16(window(first / 8 * w), kSpread8[w], width);
    const hn::Full64<int16_t> half;
    const uint8_t* at = window(first / 8 * w);
    const auto low = hn::DemoteTo(half, Spread32(at, kSpread16[w][0], width));
    const auto high = hn::DemoteTo(half, Spread32(at, kSpread16[w][1], width));
    return hn::Combine(hn::Full128<int16_t>(), high, low);
  } else {
    const size_t bit = first * w;
    return Spread32(window(bit / 8), kSpread32[w][bit % 8 / 4], width);
  }
}

// Stores the 16 bytes of values of one block as values i onwards of an array of kCount: as they
// are, or 24-bit ones as the low three bytes of each lane, which must stop at their 12 in the
// array's last block.
template <class C, size_t kCount = kBlockValues>
HWY_INLINE void StoreBlock(hn::Vec<hn::Full128<TWork<C>>> values, uint8_t* samples, size_t i) {
  using W = TWork<C>;
  constexpr size_t kLanes = 16 / sizeof(W);
  if constexpr (C::kBytes == sizeof(W)) {
    hn::StoreU(values, hn::Full128<W>(), reinterpret_cast<W*>(samples) + i);
  } else {
    const hn::Full128<uint8_t> d8;
    alignas(16) static constexpr uint8_t kPack[16] = {0,  1,  2,  4,  5, 6, 8, 9,
                                                      10, 12, 13, 14, 0, 0, 0, 0};
    const auto packed = hn::TableLookupBytes(hn::BitCast(d8, values), hn::Load(d8, kPack));
    if (i + kLanes < kCount) {
      hn::StoreU(packed, d8, samples + 3 * i);
    } else {
      alignas(16) uint8_t last[16];
      hn::Store(packed, d8, last);
      std::memcpy(samples + 3 * i, last, 12);
    }
  }
}

#if HWY_TARGET <= HWY_AVX2
// x86 with 256-bit registers: two blocks of fields at a time. The 32-to-16-bit demotion keeps
// x86's order, block by block with the first operand's lanes first, which the spreading tables
// are laid out for.

template <class W, class F>
HWY_INLINE hn::Vec<hn::Full256<W>> SpreadFields256(F&& window, size_t first, int width,
                                                   const hn::Vec<hn::Full256<uint8_t>>* bytes,
                                                   const hn::Vec<hn::Full256<uint32_t>>* shifts) {
  const hn::Full256<uint8_t> d8;
  const hn::Full128<uint8_t> h8;
  const size_t w = static_cast<size_t>(width);
  auto load2 = [&](size_t low, size_t high) HWY_ATTR {
    return hn::Combine(d8, hn::LoadU(h8, window(high)), hn::LoadU(h8, window(low)));
  };
  if constexpr (sizeof(W) == 1) {
    // Four groups of 8 fields in 16-bit lanes, two per register, demoted in order.
    const hn::Full256<int16_t> d16;
    const hn::Full128<int8_t> h;
    const auto factors =
        hn::BitCast(d16, hn::LoadDup128(hn::Full256<uint16_t>(), kSpread8[w].factors));
    auto spread = [&](size_t group) HWY_ATTR {
      const auto lanes =
          hn::BitCast(d16, hn::TableLookupBytes(load2(group * w, group * w + w), bytes[0]));
      return hn::DemoteTo(h, hn::ShiftRightSame(hn::Mul(lanes, factors), 16 - width));
    };
    const size_t group = first / 8;
    return hn::Combine(hn::Full256<int8_t>(), spread(group + 2), spread(group));
  } else {
    const hn::Full256<uint32_t> du;
    const hn::Full256<int32_t> di;
    auto spread = [&](hn::Vec<decltype(d8)> window2, size_t half) HWY_ATTR {
      const auto lanes = hn::BitCast(du, hn::TableLookupBytes(window2, bytes[half]));
      return hn::ShiftRightSame(hn::BitCast(di, lanes << shifts[half]), 32 - width);
    };
    if constexpr (sizeof(W) == 2) {
      const size_t group = first / 8;
      const auto window2 = load2(group * w, group * w + w);
      if (width <= kSpreadNarrow16) {  // 16-bit lanes; the factors are in shifts[0]
        const hn::Full256<int16_t> d16;
        const auto lanes = hn::BitCast(d16, hn::TableLookupBytes(window2, bytes[0]));
        return hn::ShiftRightSame(hn::Mul(lanes, hn::BitCast(d16, shifts[0])), 16 - width);
      }
      return hn::ReorderDemote2To(hn::Full256<int16_t>(), spread(window2, 0), spread(window2, 1));
    } else {
      const size_t bit = first * w;  // a multiple of 8: `first` is a multiple of 8 here
      return spread(load2(bit / 8, (bit + 4 * w) / 8), 0);
    }
  }
}
#endif

// One channel block's 512 values, a vector at a time and in order: rebuilt from differences
// by spreading (widths 1 to kSpreadMax), or loaded as they are (plain blocks of 1-, 2- and
// 4-byte containers). The running sum is the caller's, so that it stays in a register.
template <class C>
class TChannelReader {
 public:
  using W = TWork<C>;
#if HWY_TARGET <= HWY_AVX2
  using D = hn::Full256<W>;
  static constexpr size_t kLanes = 32 / sizeof(W);
#else
  using D = hn::Full128<W>;
  static constexpr size_t kLanes = 16 / sizeof(W);
#endif
  using V = hn::Vec<D>;
  static constexpr int kSpreadMax = sizeof(W) == 1   ? kSpreadMax8
                                    : sizeof(W) == 2 ? kSpreadMax16
                                                     : kSpreadMax32;

  // Widths outside these (26 bits and more of 32-bit samples, 0, or what the encoder never
  // writes) gain nothing by spreading; 24-bit plain blocks have no lanes of their own size.
  static bool Takes(const TChannelPayload& channel) {
    if (!channel.delta) return C::kBytes == sizeof(W);
    return channel.width >= 1 && channel.width <= kSpreadMax;
  }

  // `channel` is one Takes() accepts.
  explicit TChannelReader(const TChannelPayload& channel)
      : fPayload(channel.payload),
        fWidth(channel.width),
        fPlain(!channel.delta),
        fBase(static_cast<W>(channel.base)) {
    if (fPlain) return;
    const size_t w = static_cast<size_t>(fWidth);
    // Blocks are loaded whole: those that would reach past the payload come from a copy of its
    // last bytes with zeros after them.
    const size_t bytes = 64 * w;  // 64 at least
    fTailStart = bytes - 32;
    std::memcpy(fTail, fPayload + fTailStart, 32);
    std::memset(fTail + 32, 0, 16);
    // Only the last steps or so reach past it.
    while (fDirectEnd > 0 && LastLoad(fDirectEnd - kLanes) + 16 > bytes) fDirectEnd -= kLanes;
#if HWY_TARGET <= HWY_AVX2
    // The tables, the same for both blocks but for 32-bit lanes of an odd width, whose second
    // block starts at bit 4.
    const hn::Full256<uint8_t> d8;
    const hn::Full256<uint32_t> du;
    if constexpr (sizeof(W) == 1) {
      fBytes[0] = hn::LoadDup128(d8, kSpread8[w].bytes);
    } else if constexpr (sizeof(W) == 2) {
      if (fWidth <= kSpreadNarrow16) {
        fBytes[0] = hn::LoadDup128(d8, kSpread8[w].bytes);
        fShifts[0] = hn::BitCast(du, hn::LoadDup128(hn::Full256<uint16_t>(), kSpread8[w].factors));
        return;
      }
      for (size_t half = 0; half < 2; ++half) {
        fBytes[half] = hn::LoadDup128(d8, kSpread16[w][half].bytes);
        fShifts[half] = hn::LoadDup128(du, kSpread16[w][half].shifts);
      }
    } else {
      const TSpreadTable& low = kSpread32[w][0];
      const TSpreadTable& high = kSpread32[w][w % 2];
      const hn::Full128<uint8_t> h8;
      const hn::Full128<uint32_t> hu;
      fBytes[0] = hn::Combine(d8, hn::LoadU(h8, high.bytes), hn::LoadU(h8, low.bytes));
      fShifts[0] = hn::Combine(du, hn::LoadU(hu, high.shifts), hn::LoadU(hu, low.shifts));
    }
#endif
  }

  // The running sum to start from.
  V Start() const {
    return hn::Set(D(), fBase);
  }

  // The first value from which the loads reach past the payload and come from the tail (512
  // for a plain block).
  size_t DirectEnd() const {
    return fDirectEnd;
  }

  // Values i .. i + kLanes - 1 rebuilt from the stream bytes `window(byte)` gives (16 readable
  // from stream byte `byte` on), `carry` holding the sum before value i in every lane.
  template <class F>
  HWY_INLINE V Step(F&& window, size_t i, V& carry) const {
    const D d;
#if HWY_TARGET <= HWY_AVX2
    const auto fields = SpreadFields256<W>(window, i, fWidth, fBytes, fShifts);
    // Sums within the register first, so that the carry waits for one addition only.
    const auto inclusive = InclusiveSums(d, fields);  // within each block
    const auto totals = BroadcastLast(d, inclusive);  // each block's total in its lanes
    const auto sums = hn::Add(inclusive, hn::ConcatLowerLower(d, totals, hn::Zero(d)));
    const auto values = hn::Add(hn::Sub(sums, fields), carry);  // each before its own difference
    // Both blocks' totals in every lane: the halves added to themselves swapped.
    carry = hn::Add(carry, hn::Add(totals, hn::ConcatLowerUpper(d, totals, totals)));
#else
    const auto fields = SpreadFields<W>(window, i, fWidth);
    // Sums within the block first, so that the carry waits for one addition only.
    const auto sums = InclusiveSums(d, fields);
    const auto values = hn::Add(hn::Sub(sums, fields), carry);  // each before its own difference
    carry = hn::Add(carry, BroadcastLast(d, sums));
#endif
    return values;
  }

  // Values i .. i + kLanes - 1, for i = 0, kLanes, 2 * kLanes, ... in turn: below DirectEnd()
  // straight from the payload, from there on from the tail.
  HWY_INLINE V Direct(size_t i, V& carry) const {
    if (fPlain) return hn::LoadU(D(), reinterpret_cast<const W*>(fPayload) + i);
    return Step([this](size_t byte) { return fPayload + byte; }, i, carry);
  }
  HWY_INLINE V FromTail(size_t i, V& carry) const {
    return Step([this](size_t byte) { return fTail + (byte - fTailStart); }, i, carry);
  }

 private:
  // The first byte of the last 16-byte load of the step at value i.
  size_t LastLoad(size_t i) const {
    const size_t w = static_cast<size_t>(fWidth);
#if HWY_TARGET <= HWY_AVX2
    if constexpr (sizeof(W) == 1) return (i / 8 + 3) * w;
    if constexpr (sizeof(W) == 2) return (i / 8 + 1) * w;
    return (i * w + 4 * w) / 8;
#else
    if constexpr (sizeof(W) == 1) return (i / 8 + 1) * w;
    if constexpr (sizeof(W) == 2) return i / 8 * w;
    return i * w / 8;
#endif
  }

  const uint8_t* fPayload;
  int fWidth;
  bool fPlain;
  W fBase;
  size_t fTailStart = 0;
  size_t fDirectEnd = kBlockValues;
  alignas(16) uint8_t fTail[32 + 16];
#if HWY_TARGET <= HWY_AVX2
  hn::Vec<hn::Full256<uint8_t>> fBytes[2];
  hn::Vec<hn::Full256<uint32_t>> fShifts[2];
#endif
};

// Stores one vector of a channel's values as values i onwards of an array of kCount.
template <class C, size_t kCount = kBlockValues>
HWY_INLINE void StoreValues(typename TChannelReader<C>::V values, uint8_t* samples, size_t i) {
  using W = TWork<C>;
  using R = TChannelReader<C>;
  if constexpr (C::kBytes == sizeof(W)) {
    hn::StoreU(values, typename R::D(), reinterpret_cast<W*>(samples) + i);
  } else {
#if HWY_TARGET <= HWY_AVX2
    StoreBlock<C, kCount>(hn::LowerHalf(values), samples, i);
    StoreBlock<C, kCount>(hn::UpperHalf(hn::Full128<W>(), values), samples, i + R::kLanes / 2);
#else
    StoreBlock<C, kCount>(values, samples, i);
#endif
  }
}

template <class C>
void UnpackDeltas(const uint8_t* payload, int width, int32_t base, uint8_t* samples) {
  using R = TChannelReader<C>;
  const TChannelPayload channel{payload, width, true, base};
  if (!R::Takes(channel))
    return ScalarBlockKernels<C>().unpackDeltas(payload, width, base, samples);
  const R reader(channel);
  auto carry = reader.Start();
  // Straight from the payload while the loads stay in it, then from the tail.
  size_t i = 0;
  for (; i < reader.DirectEnd(); i += R::kLanes)
    StoreValues<C>(reader.Direct(i, carry), samples, i);
  for (; i < kBlockValues; i += R::kLanes) StoreValues<C>(reader.FromTail(i, carry), samples, i);
}

// ---- Interleaving ----

// Stereo 24-bit: two frames (12 bytes) from the first 8 bytes of each channel's load, as long
// as the loads stay in the channels and the 16-byte stores in the frames. Returns the frames done.
size_t InterleaveStereo24(const uint8_t* area, size_t frames, uint8_t* out) {
  const hn::Full128<uint8_t> d8;
  const hn::Full128<uint64_t> d64;
  alignas(16) static constexpr uint8_t kFrames[16] = {0, 1,  2,  8,  9, 10, 3, 4,
                                                      5, 11, 12, 13, 0, 0,  0, 0};
  const auto order = hn::Load(d8, kFrames);
  constexpr size_t kStride = 3 * kBlockValues;
  size_t j = 0;
  for (; 3 * j + 16 <= kStride && 6 * j + 16 <= 6 * frames; j += 2) {
    const auto first = hn::BitCast(d64, hn::LoadU(d8, area + 3 * j));
    const auto second = hn::BitCast(d64, hn::LoadU(d8, area + kStride + 3 * j));
    const auto both = hn::BitCast(d8, hn::InterleaveLower(d64, first, second));
    hn::StoreU(hn::TableLookupBytes(both, order), d8, out + 6 * j);
  }
  return j;
}

template <class C>
void Interleave(const uint8_t* area, size_t channels, size_t frames, uint8_t* out) {
  using W = TWork<C>;
  constexpr size_t kStride = kBlockValues * C::kBytes;
  if (frames == 0) return;
  if (channels == 1) {
    std::memcpy(out, area, frames * C::kBytes);
    return;
  }
  size_t j = 0;
  if (channels == 2 && C::kBytes == sizeof(W)) {
    using U = std::make_unsigned_t<W>;
    const hn::ScalableTag<U> d;
    const size_t n = hn::Lanes(d);
    const U* first = reinterpret_cast<const U*>(area);
    const U* second = reinterpret_cast<const U*>(area + kStride);
    U* dest = reinterpret_cast<U*>(out);
    for (; j + n <= frames; j += n) {
      hn::StoreInterleaved2(hn::LoadU(d, first + j), hn::LoadU(d, second + j), d, dest + 2 * j);
    }
  }
  if constexpr (C::kBytes == 3) {
    if (channels == 2) j = InterleaveStereo24(area, frames, out);
  }
  out += j * channels * C::kBytes;
  for (; j < frames; ++j) {
    for (size_t ch = 0; ch < channels; ++ch) {
      std::memcpy(out, area + ch * kStride + j * C::kBytes, C::kBytes);
      out += C::kBytes;
    }
  }
}

// ---- Decoding a block in one pass ----

// 24-bit frames j .. j + 3 of a stereo block out of four values of each channel: the lanes of
// both in frame order, two frames (12 bytes) per block.
template <class C>
HWY_INLINE void StoreFourFrames24(hn::Vec<hn::Full128<int32_t>> a, hn::Vec<hn::Full128<int32_t>> b,
                                  uint8_t* out, size_t j) {
  const hn::Full128<int32_t> h;
  StoreBlock<C, 2 * kBlockValues>(hn::InterleaveLower(h, a, b), out, 2 * j);
  StoreBlock<C, 2 * kBlockValues>(hn::InterleaveUpper(h, a, b), out, 2 * j + 4);
}

// Frames i .. i + kLanes - 1 of a stereo block out of the two channels' values.
template <class C>
HWY_INLINE void StoreFrames2(typename TChannelReader<C>::V first,
                             typename TChannelReader<C>::V second, uint8_t* out, size_t i) {
  using W = TWork<C>;
  using D = typename TChannelReader<C>::D;
  if constexpr (C::kBytes == sizeof(W)) {
    const hn::RebindToUnsigned<D> du;
    hn::StoreInterleaved2(hn::BitCast(du, first), hn::BitCast(du, second), du,
                          reinterpret_cast<std::make_unsigned_t<W>*>(out) + 2 * i);
  } else {
#if HWY_TARGET <= HWY_AVX2
    const hn::Full128<int32_t> h;
    StoreFourFrames24<C>(hn::LowerHalf(first), hn::LowerHalf(second), out, i);
    StoreFourFrames24<C>(hn::UpperHalf(h, first), hn::UpperHalf(h, second), out, i + 4);
#else
    StoreFourFrames24<C>(first, second, out, i);
#endif
  }
}

// The blocks of a run lie one after another in memory: the 2 KiB from 1 KiB past the end of
// this one are asked for while it is worked on, one 64-byte line per 16 values, so that the
// next blocks come from the cache rather than from memory. A hint only: it reads nothing and
// cannot fault.
template <size_t kLanes>
HWY_INLINE void PrefetchAhead(const uint8_t* end, size_t i) {
  const uintptr_t at = reinterpret_cast<uintptr_t>(end) + 1024 + 64 * (i / 16);
  hwy::Prefetch(reinterpret_cast<const uint8_t*>(at));
  if constexpr (kLanes > 16) hwy::Prefetch(reinterpret_cast<const uint8_t*>(at + 64));
}

// Both channels of a whole stereo block, a vector of each at a time, straight into the frames.
template <class C, bool kSumDifference>
void DecodeStereo(const TChannelPayload* channels, uint8_t* out) {
  using R = TChannelReader<C>;
  const R first(channels[0]);
  const R second(channels[1]);
  auto firstCarry = first.Start();
  auto secondCarry = second.Start();
  const size_t lastBytes =
      channels[1].delta ? 64 * static_cast<size_t>(channels[1].width) : kBlockValues * C::kBytes;
  const uint8_t* end = channels[1].payload + lastBytes;  // where the next block starts
  // Values from..to of both channels, each from the payload or the tail as `a` and `b` say.
  auto run = [&](size_t from, size_t to, auto a, auto b) HWY_ATTR {
    for (size_t i = from; i < to; i += R::kLanes) {
      PrefetchAhead<R::kLanes>(end, i);
      auto x = a(first, i, firstCarry);
      auto y = b(second, i, secondCarry);
      if constexpr (kSumDifference) {
        const auto sum = hn::Add(x, y);  // wraps in the lanes; 24-bit keeps the low 3 bytes
        y = hn::Sub(x, y);
        x = sum;
      }
      StoreFrames2<C>(x, y, out, i);
    }
  };
  auto direct = [](const R& r, size_t i, typename R::V& carry)
                    HWY_ATTR { return r.Direct(i, carry); };
  auto fromTail = [](const R& r, size_t i, typename R::V& carry)
                      HWY_ATTR { return r.FromTail(i, carry); };
  // Both straight from their payloads, then one of them from its tail, then both.
  const size_t both = std::min(first.DirectEnd(), second.DirectEnd());
  const size_t either = std::max(first.DirectEnd(), second.DirectEnd());
  run(0, both, direct, direct);
  if (first.DirectEnd() > both) {
    run(both, either, direct, fromTail);
  } else {
    run(both, either, fromTail, direct);
  }
  run(either, kBlockValues, fromTail, fromTail);
}

template <class C>
void DecodeBlock(const TChannelPayload* channels, size_t channelCount, bool sumDifference,
                 size_t frames, uint8_t* area, uint8_t* out) {
  using R = TChannelReader<C>;
  constexpr size_t kChannelStride = kBlockValues * C::kBytes;
  const bool whole = frames == kBlockValues;
  if (whole && channelCount == 1) {  // a whole mono block is its frames
    if (channels[0].delta) {
      UnpackDeltas<C>(channels[0].payload, channels[0].width, channels[0].base, out);
    } else {
      std::memcpy(out, channels[0].payload, kChannelStride);
    }
    return;
  }
  if (whole && channelCount == 2 && R::Takes(channels[0]) && R::Takes(channels[1])) {
    if (sumDifference) return DecodeStereo<C, true>(channels, out);
    return DecodeStereo<C, false>(channels, out);
  }
  // The last block of a file, more channels, other widths: through the area. Sum/difference
  // pairs, which the encoder does not write, take the reference there.
  if (sumDifference) {
    return ScalarBlockKernels<C>().decodeBlock(channels, channelCount, sumDifference, frames, area,
                                               out);
  }
  for (size_t ch = 0; ch < channelCount; ++ch) {
    const TChannelPayload& channel = channels[ch];
    uint8_t* samples = area + ch * kChannelStride;
    if (channel.delta) {
      UnpackDeltas<C>(channel.payload, channel.width, channel.base, samples);
    } else {
      std::memcpy(samples, channel.payload, kChannelStride);
    }
  }
  Interleave<C>(area, channelCount, frames, out);
}

template <class C>
const TBlockKernels<C> kVector{&GatherChannel<C>, &MakeDeltas<C>, &PackFields<C>,
                               &UnpackDeltas<C>,  &Interleave<C>, &DecodeBlock<C>};

const TKernelSet* KernelSet() {
  static const TKernelSet set{hwy::TargetName(HWY_TARGET), &kVector<TSample8>, &kVector<TSample16>,
                              &kVector<TSample24>, &kVector<TSample32>};
  return &set;
}

#endif  // HWY_TARGET == HWY_SCALAR

}  // namespace HWY_NAMESPACE
}  // namespace tarvix
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace tarvix {

HWY_EXPORT(KernelSet);

namespace {

const TKernelSet kReference{"Reference", &ScalarBlockKernels<TSample8>(),
                            &ScalarBlockKernels<TSample16>(), &ScalarBlockKernels<TSample24>(),
                            &ScalarBlockKernels<TSample32>()};
std::atomic<bool> gReferenceForced{false};

const TKernelSet& Chosen() {
  if (gReferenceForced.load(std::memory_order_relaxed)) return kReference;
  return *HWY_DYNAMIC_DISPATCH(KernelSet)();
}

}  // namespace

template <>
const TBlockKernels<TSample8>& BlockKernels<TSample8>() {
  return *Chosen().k8;
}
template <>
const TBlockKernels<TSample16>& BlockKernels<TSample16>() {
  return *Chosen().k16;
}
template <>
const TBlockKernels<TSample24>& BlockKernels<TSample24>() {
  return *Chosen().k24;
}
template <>
const TBlockKernels<TSample32>& BlockKernels<TSample32>() {
  return *Chosen().k32;
}

#if defined(HWY_COMPILE_ONLY_STATIC)
// Built for one instruction set (no run-time choice): that one and the reference.
std::vector<TKernelTarget> KernelTargets() {
  return {{hwy::TargetName(HWY_STATIC_TARGET), HWY_STATIC_TARGET}};
}

void ForceKernelTarget(int64_t id) {
  gReferenceForced.store(id == kReferenceKernels, std::memory_order_relaxed);
}
#else
std::vector<TKernelTarget> KernelTargets() {
  std::vector<TKernelTarget> targets;
  for (int64_t id : hwy::SupportedAndGeneratedTargets()) {
    targets.push_back({hwy::TargetName(id), id});
  }
  return targets;
}

void ForceKernelTarget(int64_t id) {
  gReferenceForced.store(id == kReferenceKernels, std::memory_order_relaxed);
  hwy::SetSupportedTargetsForTest(id == kReferenceKernels ? 0 : id);
}
#endif

std::string CurrentKernelTarget() {
  return Chosen().name;
}

}  // namespace tarvix
#endif  // HWY_ONCE
