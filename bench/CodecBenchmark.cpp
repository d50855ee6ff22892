// Codec throughput in bytes of PCM per second: the bit packer on single 512-value blocks, each
// step of the block kernels, and the NCW encoder and decoder on 64 MiB streams of several kinds
// of signal. Kernels and streams are measured once per instruction set the kernels are built for
// and the processor runs (the name's last part; "Reference" is the scalar reference).
#include <benchmark/benchmark.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <numbers>
#include <span>
#include <string>
#include <vector>

#include "bits/BitPacking.h"
#include "bits/BlockKernels.h"
#include "bits/SampleContainers.h"
#include "ncw/NcwFormat.h"
#include "ncw/NcwReader.h"
#include "ncw/NcwWriter.h"
#include "support/WholeFiles.h"

namespace tarvix {
namespace {

using Bytes = std::vector<uint8_t>;

// A small deterministic generator, so every run measures the same data.
class TRandom {
 public:
  explicit TRandom(uint64_t seed) : fState(seed) {}
  uint64_t Next() {
    fState ^= fState << 13;
    fState ^= fState >> 7;
    fState ^= fState << 17;
    return fState;
  }
  // Uniform in [-1, 1).
  double Unit() { return static_cast<double>(Next() >> 11) * 0x1p-52 - 1.0; }

 private:
  uint64_t fState;
};

Bytes RandomBytes(size_t size, uint64_t seed) {
  TRandom random(seed);
  Bytes bytes(size);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(random.Next() >> 24);
  return bytes;
}

// ---- The bit packer on one block ----

static_assert(kBlockValues == kFramesPerBlock);

template <class C>
void BM_PackBits(benchmark::State& state) {
  const auto width = static_cast<int32_t>(state.range(0));
  const Bytes source = RandomBytes(kBlockValues * C::kBytes, 1);
  Bytes dest(PayloadBytes(32) + 8);
  for (auto _ : state) {
    TBitPacking::PackBits<C>(kBlockValues, width, source.data(), dest.data());
    benchmark::DoNotOptimize(dest.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kBlockValues * C::kBytes);
}

// delta: 512 values rebuilt from a base and 511 differences; plain: 512 values copied.
template <class C>
void BM_UnpackBits(benchmark::State& state) {
  const auto width = static_cast<int32_t>(state.range(0));
  const bool delta = state.range(1) != 0;
  const Bytes source = RandomBytes(PayloadBytes(32) + 8, 2);
  Bytes dest(kBlockValues * C::kBytes);
  for (auto _ : state) {
    TBitPacking::UnpackBits<C>(kBlockValues, width, source.data(), 1234, dest.data(), delta);
    benchmark::DoNotOptimize(dest.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kBlockValues * C::kBytes);
}

// Field widths the encoder produces often (small differences of quiet and music-like signals),
// the whole-byte widths that take their own path, and the full container (plain blocks).
template <class C>
void PackWidths(benchmark::internal::Benchmark* b) {
  for (int width : {3, 7, 8, 12, 15, 16, 20, 24, 32}) {
    if (width <= C::kBits) b->Arg(width);
  }
}

template <class C>
void UnpackWidths(benchmark::internal::Benchmark* b) {
  for (int width : {3, 7, 8, 12, 15, 16, 20, 24, 32}) {
    if (width <= C::kBits) b->Args({width, 1});
  }
  b->Args({C::kBits, 0});
}

BENCHMARK_TEMPLATE(BM_PackBits, TSample8)->Apply(PackWidths<TSample8>);
BENCHMARK_TEMPLATE(BM_PackBits, TSample16)->Apply(PackWidths<TSample16>);
BENCHMARK_TEMPLATE(BM_PackBits, TSample24)->Apply(PackWidths<TSample24>);
BENCHMARK_TEMPLATE(BM_PackBits, TSample32)->Apply(PackWidths<TSample32>);
BENCHMARK_TEMPLATE(BM_UnpackBits, TSample8)
    ->ArgNames({"width", "delta"})
    ->Apply(UnpackWidths<TSample8>);
BENCHMARK_TEMPLATE(BM_UnpackBits, TSample16)
    ->ArgNames({"width", "delta"})
    ->Apply(UnpackWidths<TSample16>);
BENCHMARK_TEMPLATE(BM_UnpackBits, TSample24)
    ->ArgNames({"width", "delta"})
    ->Apply(UnpackWidths<TSample24>);
BENCHMARK_TEMPLATE(BM_UnpackBits, TSample32)
    ->ArgNames({"width", "delta"})
    ->Apply(UnpackWidths<TSample32>);

// ---- The block kernels, step by step ----

// The instruction sets to measure: each one built and run here, then the scalar reference.
std::vector<TKernelTarget> MeasuredTargets() {
  std::vector<TKernelTarget> targets = KernelTargets();
  targets.push_back({"Reference", kReferenceKernels});
  return targets;
}

enum class TStep { kGather, kDeltas, kPack, kUnpack, kInterleave, kDecodeStereo };

// One step on one block of a stereo stream at a field width typical of music (`width`), in
// bytes of PCM: gathering reads one channel's samples out of the frames, interleaving writes
// both channels' frames, and decoding a stereo block unpacks both channels into its frames.
template <class C>
void BM_Step(benchmark::State& state, TStep step, int width, int64_t target) {
  TForcedKernels forced(target);
  const TBlockKernels<C>& kernels = BlockKernels<C>();
  using W = TWork<C>;
  const Bytes frames = RandomBytes(2 * kBlockValues * C::kBytes, 3);
  alignas(64) W samples[kBlockValues];
  alignas(64) W deltas[kBlockValues];
  kernels.gatherChannel(frames.data(), 2, kBlockValues, samples);
  const Bytes stream = RandomBytes(PayloadBytes(32), 4);
  Bytes out(2 * kBlockValues * C::kBytes);
  Bytes area(2 * kBlockValues * C::kBytes);
  const Bytes secondStream = RandomBytes(PayloadBytes(32), 5);
  const TChannelPayload channels[2] = {{stream.data(), width, true, 1234},
                                       {secondStream.data(), width, true, -99}};
  for (auto _ : state) {
    switch (step) {
      case TStep::kGather:
        kernels.gatherChannel(frames.data(), 2, kBlockValues, samples);
        break;
      case TStep::kDeltas:
        benchmark::DoNotOptimize(kernels.makeDeltas(samples, deltas));
        break;
      case TStep::kPack:
        kernels.packFields(samples, width, out.data());
        break;
      case TStep::kUnpack:
        kernels.unpackDeltas(stream.data(), width, 1234, out.data());
        break;
      case TStep::kInterleave:
        kernels.interleave(frames.data(), 2, kBlockValues, out.data());
        break;
      case TStep::kDecodeStereo:
        kernels.decodeBlock(channels, 2, false, kBlockValues, area.data(), out.data());
        break;
    }
    benchmark::DoNotOptimize(samples);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  const bool stereo = step == TStep::kInterleave || step == TStep::kDecodeStereo;
  const int64_t bytes = (stereo ? 2 : 1) * kBlockValues * C::kBytes;
  state.SetBytesProcessed(state.iterations() * bytes);
}

template <class C>
void RegisterSteps(const std::string& container, int width) {
  const std::pair<TStep, const char*> steps[] = {{TStep::kGather, "gather_stereo"},
                                                 {TStep::kDeltas, "deltas"},
                                                 {TStep::kPack, "pack"},
                                                 {TStep::kUnpack, "unpack_sum"},
                                                 {TStep::kInterleave, "interleave_stereo"},
                                                 {TStep::kDecodeStereo, "decode_stereo"}};
  for (const auto& [step, name] : steps) {
    for (const TKernelTarget& target : MeasuredTargets()) {
      std::string fullName = "BM_Step/" + std::string(name) + "/" + container;
      if (step == TStep::kPack || step == TStep::kUnpack || step == TStep::kDecodeStereo) {
        fullName += "/width:" + std::to_string(width);
      }
      benchmark::RegisterBenchmark((fullName + "/" + target.name).c_str(), BM_Step<C>, step, width,
                                   target.id);
    }
  }
}

void RegisterSteps() {
  RegisterSteps<TSample8>("8bit", 5);
  RegisterSteps<TSample16>("16bit", 12);
  RegisterSteps<TSample24>("24bit", 19);
  RegisterSteps<TSample32>("32bit", 27);
}

// ---- Whole streams ----

constexpr size_t kStreamBytes = size_t{64} << 20;

enum class TSignal { kMusic, kNoise, kSilence };

// A sine by rotation of a unit vector: two multiplications a sample instead of a call to sin,
// so that making a 64 MiB signal takes a fraction of a second.
class TOscillator {
 public:
  TOscillator(double frequency, double rate, double phase)
      : fRe(std::cos(phase)),
        fIm(std::sin(phase)),
        fStepRe(std::cos(2.0 * std::numbers::pi * frequency / rate)),
        fStepIm(std::sin(2.0 * std::numbers::pi * frequency / rate)) {}

  double Next() {
    const double value = fIm;
    const double re = fRe * fStepRe - fIm * fStepIm;
    fIm = fRe * fStepIm + fIm * fStepRe;
    fRe = re;
    if (++fSteps % 4096 == 0) {  // keeps rounding from changing the amplitude
      const double norm = std::sqrt(fRe * fRe + fIm * fIm);
      fRe /= norm;
      fIm /= norm;
    }
    return value;
  }

 private:
  double fRe, fIm, fStepRe, fStepIm;
  uint32_t fSteps = 0;
};

// Interleaved samples of `frames` frames, as the WAV data of such a recording would hold them.
// Music: a chord of five partials under slow envelopes, the channels a little apart, with a
// noise floor of a few steps of the 16-bit scale; noise: every bit random; silence: zeros.
template <class C>
Bytes MakeSignal(TSignal signal, int channels, size_t frames) {
  Bytes bytes(frames * static_cast<size_t>(channels) * C::kBytes, 0);
  if (signal == TSignal::kSilence) return bytes;
  TRandom random(42);
  if (signal == TSignal::kNoise) {
    for (size_t i = 0; i < bytes.size(); i += C::kBytes) {
      C::Store(bytes.data() + i, static_cast<uint32_t>(random.Next() >> 16));
    }
    return bytes;
  }
  constexpr double kRate = 44100.0;
  constexpr std::array<double, 5> kFrequency = {110.0, 164.81, 220.0, 277.18, 440.0};
  constexpr std::array<double, 5> kLevel = {0.20, 0.12, 0.10, 0.06, 0.04};
  std::vector<TOscillator> tones;
  std::vector<TOscillator> envelopes;
  for (int ch = 0; ch < channels; ++ch) {
    for (size_t p = 0; p < kFrequency.size(); ++p) {
      tones.emplace_back(kFrequency[p], kRate, 0.3 * ch * static_cast<double>(p + 1));
      envelopes.emplace_back(0.13 + 0.07 * static_cast<double>(p), kRate, ch);
    }
  }
  const double fullScale = std::ldexp(1.0, C::kBits - 1) - 1.0;
  const double noise = std::ldexp(4.0, C::kBits - 16);  // a few 16-bit steps
  uint8_t* out = bytes.data();
  for (size_t j = 0; j < frames; ++j) {
    for (size_t ch = 0; ch < static_cast<size_t>(channels); ++ch) {
      double x = 0.0;
      for (size_t p = 0; p < kFrequency.size(); ++p) {
        const size_t k = ch * kFrequency.size() + p;
        x += kLevel[p] * (0.6 + 0.4 * envelopes[k].Next()) * tones[k].Next();
      }
      const double value = std::round(x * fullScale + noise * random.Unit());
      C::Store(out, static_cast<uint32_t>(static_cast<int32_t>(value)));
      out += C::kBytes;
    }
  }
  return bytes;
}

struct TCase {
  TSignal signal;
  int channels;
};

// Each signal is made once and shared by the encoder's and the decoder's benchmark.
template <class C>
const Bytes& SignalOf(const TCase& c) {
  static std::map<std::pair<int, int>, Bytes> cache;
  const auto key = std::make_pair(static_cast<int>(c.signal), c.channels);
  auto found = cache.find(key);
  if (found == cache.end()) {
    const size_t frames = kStreamBytes / (static_cast<size_t>(c.channels) * C::kBytes);
    found = cache.emplace(key, MakeSignal<C>(c.signal, c.channels, frames)).first;
  }
  return found->second;
}

template <class C>
TNcwStream StreamOf(const TCase& c, const Bytes& pcm) {
  return {static_cast<uint16_t>(c.channels), static_cast<uint16_t>(C::kBits), 44100,
          static_cast<uint32_t>(pcm.size() / (c.channels * C::kBytes))};
}

// A sink that keeps nothing: the benchmark measures the coding, not the memory it is put in.
class TDiscardingSink final : public TByteSink {
 public:
  void WriteAt(uint64_t, const void* data, size_t count) override {
    benchmark::DoNotOptimize(data);
    fBytes += count;
  }
  void Resize(uint64_t) override {}
  uint64_t fBytes = 0;
};

// The signal through the NCW writer run by run with one reused buffer, as a conversion thread
// writes it.
template <class C>
void BM_Encode(benchmark::State& state, TCase c, int64_t target) {
  TForcedKernels forced(target);
  const Bytes& pcm = SignalOf<C>(c);
  const size_t frameBytes = static_cast<size_t>(c.channels) * C::kBytes;
  TNcwRunMemory memory;
  uint64_t encoded = 0;
  for (auto _ : state) {
    TDiscardingSink sink;
    TNcwWriter writer(StreamOf<C>(c, pcm), BlocksPerRun(frameBytes, kRunPcmBytes), sink);
    for (size_t k = 0; k < writer.RunCount(); ++k) {
      writer.WriteRun(k, pcm.data() + k * writer.RunFrames() * frameBytes, memory);
    }
    writer.Finish();
    encoded = sink.fBytes;
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * pcm.size()));
  state.counters["ncw/pcm"] = static_cast<double>(encoded) / static_cast<double>(pcm.size());
}

// The file decoded run by run into one reused buffer, as a conversion thread does it: from the
// encoded bytes where they lie in memory, or (`read`) through the reader's buffers, as from a
// file, which adds a copy of the encoded bytes.
template <class C>
void BM_Decode(benchmark::State& state, TCase c, int64_t target, bool read) {
  TForcedKernels forced(target);
  const Bytes& pcm = SignalOf<C>(c);
  TMemorySink image;
  {
    TMemorySource source(pcm);
    EncodeNcw(StreamOf<C>(c, pcm), source, 0, image);
  }
  TNcwReader ncw;
  OpenNcwBytes(ncw, image.Bytes(), "memory");
  const size_t frameBytes = ncw.FrameBytes();
  const size_t run = BlocksPerRun(frameBytes, kRunPcmBytes);
  const size_t blocks = ncw.BlocksToDecode();
  Bytes out(run * kFramesPerBlock * frameBytes);
  TNcwDecodeMemory memory;
  const std::span<const uint8_t> head =
      read ? std::span<const uint8_t>() : std::span<const uint8_t>(image.Bytes());
  Bytes decoded;
  for (size_t first = 0; first < blocks; first += run) {
    const size_t count = std::min(run, blocks - first);
    ncw.DecodeBlocks(first, count, head, memory, out.data());
    decoded.insert(
        decoded.end(), out.begin(),
        out.begin() + static_cast<ptrdiff_t>(std::min<size_t>(count * kFramesPerBlock * frameBytes,
                                                              pcm.size() - decoded.size())));
  }
  if (decoded != pcm) {
    state.SkipWithError("decoded samples differ from the encoded ones");
    return;
  }
  for (auto _ : state) {
    for (size_t first = 0; first < blocks; first += run) {
      ncw.DecodeBlocks(first, std::min(run, blocks - first), head, memory, out.data());
      benchmark::DoNotOptimize(out.data());
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * pcm.size()));
  state.counters["ncw/pcm"] =
      static_cast<double>(image.Bytes().size()) / static_cast<double>(pcm.size());
}

// Whole-stream runs take tens of milliseconds each: wall time. Decoding takes the encoded file
// from memory; the program reads it from the page cache into a reused buffer, which the `read`
// row of the best instruction set adds.
template <class C>
void RegisterStream(const std::string& name, TCase c) {
  for (const TKernelTarget& target : MeasuredTargets()) {
    benchmark::RegisterBenchmark(("BM_Encode/" + name + "/" + target.name).c_str(), BM_Encode<C>, c,
                                 target.id)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
  }
  for (const TKernelTarget& target : MeasuredTargets()) {
    benchmark::RegisterBenchmark(("BM_Decode/" + name + "/" + target.name).c_str(), BM_Decode<C>, c,
                                 target.id, false)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
  }
  const TKernelTarget best = KernelTargets().front();
  benchmark::RegisterBenchmark(("BM_Decode/" + name + "/read/" + best.name).c_str(), BM_Decode<C>,
                               c, best.id, true)
      ->Unit(benchmark::kMillisecond)
      ->UseRealTime();
}

void RegisterStreams() {
  RegisterStream<TSample16>("music_16bit_stereo", {TSignal::kMusic, 2});
  RegisterStream<TSample24>("music_24bit_stereo", {TSignal::kMusic, 2});
  RegisterStream<TSample8>("music_8bit_mono", {TSignal::kMusic, 1});
  RegisterStream<TSample16>("noise_16bit_stereo", {TSignal::kNoise, 2});
  RegisterStream<TSample16>("silence_16bit_stereo", {TSignal::kSilence, 2});
}

}  // namespace
}  // namespace tarvix

int main(int argc, char** argv) {
  tarvix::RegisterSteps();
  tarvix::RegisterStreams();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
