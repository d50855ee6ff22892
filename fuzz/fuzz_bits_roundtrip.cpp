// The bit packer of every container width: packing at any field width must lay the fields out
// bit for bit as the stream format says; plain unpacking must give the values back, and so must
// delta unpacking of their successive differences packed at a width that holds them. Every
// buffer has exactly the size the operation may touch, so ASan reports any byte beyond it.
// The block kernels of every instruction set built and run here must give the bytes of the
// scalar reference on the same values, the decoding of whole blocks into frames included.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>

#include "bits/BitPacking.h"
#include "bits/BlockKernels.h"

using namespace tarvix;

namespace {

constexpr int kMaxCount = 1200;  // a few groups of 32 fields and a remainder, at every width
constexpr uint8_t kFill = 0xA5;  // what the packer must overwrite

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

// A buffer of exactly `bytes` bytes, also for 0, filled with a pattern.
std::unique_ptr<uint8_t[]> ExactBuffer(size_t bytes) {
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[bytes]);
  std::memset(buffer.get(), kFill, bytes);
  return buffer;
}

size_t PackedBytes(int count, int width) {
  return (static_cast<size_t>(count) * static_cast<size_t>(width) + 7) / 8;
}

uint64_t FieldMask(int width) {
  return width >= 32 ? 0xFFFFFFFFull : (uint64_t{1} << width) - 1;
}

// The stream as the format defines it, one bit at a time: field i at bits i*width on, least
// significant first, and zeros above the last field.
template <class C>
std::unique_ptr<uint8_t[]> ReferencePack(int count, int width, const uint8_t* values) {
  const size_t bytes = PackedBytes(count, width);
  std::unique_ptr<uint8_t[]> stream(new uint8_t[bytes]());
  for (int i = 0; i < count; ++i) {
    const uint64_t field = C::Load(values + i * C::kBytes) & FieldMask(width);
    for (int b = 0; b < width; ++b) {
      if ((field >> b & 1) == 0) continue;
      const size_t bit = static_cast<size_t>(i) * static_cast<size_t>(width) + b;
      stream[bit / 8] = static_cast<uint8_t>(stream[bit / 8] | 1u << (bit % 8));
    }
  }
  return stream;
}

// The narrowest width whose signed fields hold every difference; 0 when all are zero.
template <class C>
int DeltaWidth(int fields, const uint8_t* deltas) {
  int width = 0;
  for (int i = 0; i < fields; ++i) {
    const int32_t d = C::LoadSigned(deltas + i * C::kBytes);
    if (d == 0) continue;
    // n bits hold -2^(n-1) .. 2^(n-1)-1; ~d of a negative d is the magnitude that needs as many.
    const uint32_t magnitude = d < 0 ? ~static_cast<uint32_t>(d) : static_cast<uint32_t>(d);
    width = std::max(width, static_cast<int>(std::bit_width(magnitude)) + 1);
  }
  return width;
}

// A block of 1 to 6 channel blocks, each the stream at hand (differences at `width`, from a base
// of its own) or the values as plain samples, decoded into frames (a sum/difference pair when
// chosen) by each instruction set against the reference, into exactly the frames asked for.
template <class C>
void CheckBlockDecoding(FuzzedDataProvider& in, const uint8_t* values, int count,
                        const uint8_t* stream, int width) {
  const size_t channels = in.ConsumeIntegralInRange<size_t>(1, 6);
  const bool sumDifference = channels == 2 && in.ConsumeBool();
  const size_t frames =
      in.ConsumeBool() ? kBlockValues : in.ConsumeIntegralInRange<size_t>(0, kBlockValues);
  std::unique_ptr<uint8_t[]> plain = ExactBuffer(kBlockValues * C::kBytes);
  for (int i = 0; i < kBlockValues; ++i) {
    std::memcpy(plain.get() + i * C::kBytes, values + (i % count) * C::kBytes, C::kBytes);
  }
  TChannelPayload block[6];
  for (size_t ch = 0; ch < channels; ++ch) {
    if (in.ConsumeBool()) {
      block[ch] = {plain.get(), C::kBits, false, 0};
    } else {
      block[ch] = {stream, width, true, in.ConsumeIntegral<int32_t>()};
    }
  }
  const size_t areaBytes = channels * kBlockValues * C::kBytes;
  const size_t outBytes = frames * channels * C::kBytes;
  std::unique_ptr<uint8_t[]> area = ExactBuffer(areaBytes);
  std::unique_ptr<uint8_t[]> expected = ExactBuffer(outBytes);
  std::unique_ptr<uint8_t[]> got = ExactBuffer(outBytes);
  ScalarBlockKernels<C>().decodeBlock(block, channels, sumDifference, frames, area.get(),
                                      expected.get());
  for (const TKernelTarget& target : KernelTargets()) {
    ForceKernelTarget(target.id);
    std::memset(got.get(), kFill, outBytes);
    BlockKernels<C>().decodeBlock(block, channels, sumDifference, frames, area.get(), got.get());
    Check(outBytes == 0 || std::memcmp(got.get(), expected.get(), outBytes) == 0);
  }
  ForceKernelTarget(0);
}

// One block of the values (repeated to 512) through every step, on each instruction set against
// the reference: gathering one channel of `channels` from `available` frames, differences,
// packing at `width` (cut to the container) and unpacking the packed stream at hand.
template <class C>
void CheckBlockKernels(FuzzedDataProvider& in, const uint8_t* values, int count, int width,
                       const uint8_t* stream, size_t streamBytes) {
  using W = TWork<C>;
  const size_t channels = in.ConsumeIntegralInRange<size_t>(1, 6);
  const size_t available = std::min<size_t>(in.ConsumeIntegralInRange<size_t>(0, kBlockValues),
                                            static_cast<size_t>(count) / channels);
  const int32_t base = in.ConsumeIntegral<int32_t>();
  const int packWidth = std::clamp(width, 1, C::kBits);
  // Widths the stream at hand holds whole, for 512 fields.
  const int unpackWidth = std::min<int>(C::kBits, static_cast<int>(streamBytes / 64));
  W block[kBlockValues];
  for (int i = 0; i < kBlockValues; ++i) {
    block[i] = static_cast<W>(C::LoadSigned(values + (i % count) * C::kBytes));
  }
  const size_t ch = available > 0 ? static_cast<size_t>(base) % channels : 0;
  auto run = [&](const TBlockKernels<C>& kernels, W* gathered, W* deltas, uint8_t* packed,
                 uint8_t* unpacked, uint8_t* frames) {
    kernels.gatherChannel(values + ch * C::kBytes, channels, available, gathered);
    const uint32_t magnitudes = kernels.makeDeltas(block, deltas);
    kernels.packFields(block, packWidth, packed);
    kernels.unpackDeltas(stream, unpackWidth, base, unpacked);
    kernels.interleave(unpacked, 1, static_cast<size_t>(count) % kBlockValues, frames);
    return magnitudes;
  };
  W gathered[2][kBlockValues], deltas[2][kBlockValues];
  uint8_t packed[2][64 * 32], unpacked[2][kBlockValues * 4], frames[2][kBlockValues * 4];
  const uint32_t expected =
      run(ScalarBlockKernels<C>(), gathered[0], deltas[0], packed[0], unpacked[0], frames[0]);
  for (const TKernelTarget& target : KernelTargets()) {
    ForceKernelTarget(target.id);
    Check(run(BlockKernels<C>(), gathered[1], deltas[1], packed[1], unpacked[1], frames[1]) ==
          expected);
    Check(std::memcmp(gathered[0], gathered[1], sizeof gathered[0]) == 0);
    Check(std::memcmp(deltas[0], deltas[1], sizeof deltas[0]) == 0);
    Check(std::memcmp(packed[0], packed[1], 64 * static_cast<size_t>(packWidth)) == 0);
    Check(std::memcmp(unpacked[0], unpacked[1], kBlockValues * C::kBytes) == 0);
    Check(std::memcmp(frames[0], frames[1],
                      (static_cast<size_t>(count) % kBlockValues) * C::kBytes) == 0);
  }
  ForceKernelTarget(0);
  CheckBlockDecoding<C>(in, values, count, stream, unpackWidth);
}

template <class C>
void Run(FuzzedDataProvider& in) {
  const int width = in.ConsumeIntegralInRange<int>(0, 32);
  const int count = in.ConsumeIntegralInRange<int>(0, kMaxCount);
  // 0: the values are taken as they come; k: each value adds a k-bit step to the one before,
  // so that narrow differences, and with them narrow delta widths, are common.
  const int stepBits = in.ConsumeIntegralInRange<int>(0, 32);
  const uint32_t baseHighBits = in.ConsumeIntegral<uint32_t>();

  const size_t valueBytes = static_cast<size_t>(count) * C::kBytes;
  std::unique_ptr<uint8_t[]> values = ExactBuffer(valueBytes);
  uint32_t previous = 0;
  for (int i = 0; i < count; ++i) {
    uint32_t value = in.ConsumeIntegral<uint32_t>();
    if (stepBits > 0 && i > 0) {
      const int shift = 32 - stepBits;
      value = previous + static_cast<uint32_t>(static_cast<int32_t>(value << shift) >> shift);
    }
    C::Store(values.get() + i * C::kBytes, value);
    previous = value;
  }

  // Packing at the chosen width, against the reference layout.
  {
    const size_t bytes = PackedBytes(count, width);
    std::unique_ptr<uint8_t[]> packed = ExactBuffer(bytes);
    TBitPacking::PackBits<C>(count, width, values.get(), packed.get());
    std::unique_ptr<uint8_t[]> expected = ReferencePack<C>(count, width, values.get());
    Check(bytes == 0 || std::memcmp(packed.get(), expected.get(), bytes) == 0);
  }

  // Plain: packed at the container width and unpacked without differences.
  {
    std::unique_ptr<uint8_t[]> packed = ExactBuffer(valueBytes);
    TBitPacking::PackBits<C>(count, C::kBits, values.get(), packed.get());
    std::unique_ptr<uint8_t[]> unpacked = ExactBuffer(valueBytes);
    TBitPacking::UnpackBits<C>(count, C::kBits, packed.get(), 0, unpacked.get(), false);
    Check(valueBytes == 0 || std::memcmp(unpacked.get(), values.get(), valueBytes) == 0);
  }

  // Delta: the differences, wrapped to the container, packed at a width that holds them (the
  // chosen one when it is wider, even wider than the container), unpacked from the first value.
  if (count == 0) return;
  const int fields = count - 1;
  std::unique_ptr<uint8_t[]> deltas = ExactBuffer(static_cast<size_t>(fields) * C::kBytes);
  for (int i = 0; i < fields; ++i) {
    const uint32_t d =
        C::Load(values.get() + (i + 1) * C::kBytes) - C::Load(values.get() + i * C::kBytes);
    C::Store(deltas.get() + i * C::kBytes, d);
  }
  const int deltaWidth = std::max(width, DeltaWidth<C>(fields, deltas.get()));
  std::unique_ptr<uint8_t[]> packed = ExactBuffer(PackedBytes(fields, deltaWidth));
  TBitPacking::PackBits<C>(fields, deltaWidth, deltas.get(), packed.get());
  // The base is cut to the container, so bits above it must not matter.
  uint32_t base = C::Load(values.get());
  if (C::kBits < 32) base |= baseHighBits << C::kBits;
  std::unique_ptr<uint8_t[]> unpacked = ExactBuffer(valueBytes);
  TBitPacking::UnpackBits<C>(count, deltaWidth, packed.get(), static_cast<int32_t>(base),
                             unpacked.get(), true);
  Check(std::memcmp(unpacked.get(), values.get(), valueBytes) == 0);

  CheckBlockKernels<C>(in, values.get(), count, width, packed.get(),
                       PackedBytes(fields, deltaWidth));

  // The same into every other slot of an interleaved pair, as the decoder fills one channel of
  // stereo frames: the values land there, the other slots stay untouched.
  const size_t stride = 2 * C::kBytes;
  std::unique_ptr<uint8_t[]> frames = ExactBuffer(2 * valueBytes);
  std::memset(frames.get(), 0xA5, 2 * valueBytes);
  TBitPacking::UnpackBitsStrided<C>(count, deltaWidth, packed.get(), static_cast<int32_t>(base),
                                    frames.get(), stride, true);
  for (int i = 0; i < count; ++i) {
    Check(std::memcmp(frames.get() + i * stride, values.get() + i * C::kBytes, C::kBytes) == 0);
    for (int b = 0; b < C::kBytes; ++b) Check(frames[i * stride + C::kBytes + b] == 0xA5);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  switch (in.ConsumeIntegralInRange<int>(1, 4)) {
    case 1:
      Run<TSample8>(in);
      break;
    case 2:
      Run<TSample16>(in);
      break;
    case 3:
      Run<TSample24>(in);
      break;
    default:
      Run<TSample32>(in);
      break;
  }
  return 0;
}
