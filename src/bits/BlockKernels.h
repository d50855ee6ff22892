// The per-block work of the codec, one table of kernels per sample container: taking one
// channel out of interleaved frames, differences and their width, packing 512 fields, unpacking
// and summing them back, interleaving channels again, and a whole block's channels unpacked
// into frames in one pass.
//
// Two implementations give the same bytes: the scalar one, the reference, and vector ones
// compiled for every instruction set the build supports, of which the best the processor runs is
// chosen when a table is asked for. None of them checks its arguments; the caller keeps to the
// ranges stated below.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

#include "bits/SampleContainers.h"

namespace tarvix {

// Every block holds this many values per channel; the packed kernels handle exactly one block.
constexpr int kBlockValues = 512;

// The signed machine type a container's values are worked on in: the narrowest that holds them,
// so that a vector register takes as many as it can. 24-bit values live sign-extended in 32 bits.
template <class C>
using TWork = std::conditional_t<C::kBytes == 1, int8_t,
                                 std::conditional_t<C::kBytes == 2, int16_t, int32_t>>;

// One channel block of a block being decoded: 512 samples as they are (`delta` false, 512
// containers at `payload`), or differences of `width` bits (0 to the container's) summed from
// `base` (see unpackDeltas).
struct TChannelPayload {
  const uint8_t* payload;
  int width;
  bool delta;
  int32_t base;
};

template <class C>
struct TBlockKernels {
  using W = TWork<C>;

  // One channel of interleaved frames into samples[0 .. 511]: `first` is the channel's sample in
  // the first frame, `channels` the frame's channel count (1 or more). Frames at and past
  // `available` (0 to 512) are zeros; nothing past the channel's sample in frame available - 1
  // is read.
  void (*gatherChannel)(const uint8_t* first, size_t channels, size_t available, W* samples);

  // d[i] = s[i + 1] - s[i] wrapped to the container, for i < 511, and d[511] = 0. Returns the OR
  // of their magnitudes (v for v >= 0, ~v below): its bit length plus one is the width that
  // holds every difference.
  uint32_t (*makeDeltas)(const W* samples, W* deltas);

  // Packs the low `width` bits (1 to C::kBits) of 512 values: exactly 64 * width bytes.
  void (*packFields)(const W* values, int width, uint8_t* payload);

  // 512 container values into `samples` (512 * C::kBytes bytes): the first is `base` cut to the
  // container, each next one adds field i of `payload` (`width` bits, 0 to C::kBits, sign-
  // extended), wrapping at the container. Reads at most 64 * width bytes; field 511 is not used.
  void (*unpackDeltas)(const uint8_t* payload, int width, int32_t base, uint8_t* samples);

  // `frames` (0 to 512) frames of `channels` channels into `out`, sample j of channel ch taken
  // from area + (ch * 512 + j) * C::kBytes.
  void (*interleave)(const uint8_t* area, size_t channels, size_t frames, uint8_t* out);

  // The first `frames` (0 to 512) frames of a block of `channels` (1 or more) channel blocks
  // into `out`: what unpacking each into `area` (scratch of channels * 512 * C::kBytes bytes)
  // and interleaving them gives, or with `sumDifference` (2 channels only) the pair's sums and
  // differences, a + b and a - b wrapped to the container. Where the instruction set allows,
  // it unpacks, sums and interleaves in one pass without the area.
  void (*decodeBlock)(const TChannelPayload* channels, size_t channelCount, bool sumDifference,
                      size_t frames, uint8_t* area, uint8_t* out);
};

// The table of the best instruction set the processor offers (or the one a test has forced).
template <class C>
const TBlockKernels<C>& BlockKernels();

// The scalar reference.
template <class C>
const TBlockKernels<C>& ScalarBlockKernels();

// The instruction sets the kernels were built for that this processor runs, best first, by
// name ("AVX2", "SSE4", "Scalar", ...), each with the id ForceKernelTarget takes.
struct TKernelTarget {
  std::string name;
  int64_t id;
};
std::vector<TKernelTarget> KernelTargets();

// The id that makes BlockKernels hand out the scalar reference.
constexpr int64_t kReferenceKernels = -1;

// From now on BlockKernels hands out the tables of `id` (one of KernelTargets(), or
// kReferenceKernels), or again those of the best instruction set for id 0. For tests and
// benchmarks: not to be called while other threads code blocks.
void ForceKernelTarget(int64_t id);

// ForceKernelTarget(id) while the object lives, then the best instruction set again.
class TForcedKernels {
 public:
  explicit TForcedKernels(int64_t id) { ForceKernelTarget(id); }
  ~TForcedKernels() { ForceKernelTarget(0); }
  TForcedKernels(const TForcedKernels&) = delete;
  TForcedKernels& operator=(const TForcedKernels&) = delete;
};

// The name of the instruction set whose tables BlockKernels hands out now.
std::string CurrentKernelTarget();

}  // namespace tarvix
