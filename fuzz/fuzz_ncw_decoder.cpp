// The NCW reader on memory: header, block table, block checks and decoding in runs of blocks,
// as the conversion threads decode them. Decoding in runs of a size the input chooses (so that
// run boundaries fall anywhere, inside a damaged file too, and run 0 reads from the head as it
// does in a conversion) must give exactly what decoding block by block gives: the same samples,
// or the same error. A file it accepts is then written by the WAV writer with both headers
// (which the WAV reader must read back, where it takes such a file at all), and encoded again
// by the NCW writer and decoded: both must give the same samples.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "ncw/NcwReader.h"
#include "ncw/NcwWriter.h"
#include "platform/Errors.h"
#include "support/WholeFiles.h"
#include "wav/WavReader.h"
#include "wav/WavWriter.h"

using namespace tarvix;

namespace {

using Bytes = std::vector<uint8_t>;

// Saving and encoding again are further passes over every sample; above this the harness only
// decodes, so that inputs claiming large sample counts do not slow the whole run down.
constexpr uint64_t kMaxRoundTripBytes = uint64_t{1} << 20;

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

struct TDecoded {
  Bytes samples;      // every frame up to NumSamples; those no block covers are zeros
  std::string error;  // the message, when the file was refused
};

// Decodes every block, `run` blocks at a time; the first run may read from `head`.
TDecoded DecodeInRuns(const TNcwReader& ncw, size_t run, std::span<const uint8_t> head) {
  TDecoded decoded;
  const size_t frameBytes = ncw.FrameBytes();
  const size_t blocks = ncw.BlocksToDecode();
  TNcwDecodeMemory memory;
  Bytes out(run * kFramesPerBlock * frameBytes);
  try {
    for (size_t first = 0; first < blocks; first += run) {
      const size_t count = std::min(run, blocks - first);
      ncw.DecodeBlocks(first, count, first == 0 ? head : std::span<const uint8_t>(), memory,
                       out.data());
      const uint64_t firstFrame = uint64_t{first} * kFramesPerBlock;
      const uint64_t frames =
          std::min<uint64_t>(count * kFramesPerBlock, ncw.DecodedFrames() - firstFrame);
      decoded.samples.insert(decoded.samples.end(), out.begin(),
                             out.begin() + static_cast<ptrdiff_t>(frames * frameBytes));
    }
  } catch (const TError& error) {
    Check(!error.Message().empty());
    return {{}, error.Message()};
  }
  decoded.samples.resize(uint64_t{ncw.Header.NumSamples} * frameBytes);
  return decoded;
}

// The WAV reader takes files of 1 to 6 channels of every width written here. It checks the byte
// rate against channels * bits * rate taken modulo 2^32, the writer stores block align * rate
// modulo 2^32: the two agree only while the product fits 32 bits.
bool WavReaderTakes(const TNcwHeader& header) {
  return header.Channels >= 1 && header.Channels <= tarvix::kMaxWavChannels &&
         uint64_t{header.Channels} * header.BitsPerSample * header.SampleRate <= 0xFFFFFFFFu;
}

void CheckWavOutput(const TNcwReader& ncw, const Bytes& samples, bool extended) {
  const TNcwHeader& header = ncw.Header;
  TMemorySink file;
  TWavWriter writer(
      {header.Channels, header.SampleRate, header.BitsPerSample, header.NumSamples, extended},
      file);
  // One run of every frame, as a conversion of one run writes it.
  Bytes run(writer.PrefixBytes(0) + samples.size());
  std::copy(samples.begin(), samples.end(), run.begin() + writer.PrefixBytes(0));
  try {
    if (header.NumSamples != 0) writer.WriteRun(0, run.data(), header.NumSamples);
    writer.Finish(header.NumSamples);
  } catch (const TError&) {
    __builtin_trap();  // writing to memory cannot fail
  }
  TWavReader wav;
  try {
    wav.OpenSource(std::make_unique<TMemorySource>(file.Bytes()), "out.wav");
  } catch (const TError&) {
    Check(!WavReaderTakes(header));
    return;
  }
  Check(wav.Header().nChannels == header.Channels &&
        wav.Header().wBitsPerSample == header.BitsPerSample &&
        wav.Header().nSamplesPerSec == header.SampleRate && wav.FrameCount() == header.NumSamples &&
        wav.Extensible() == extended);
  Bytes data(samples.size());
  try {
    ReadWavData(wav, data.data(), data.size());
  } catch (const TError&) {
    __builtin_trap();  // memory never fails to read
  }
  Check(data == samples);
}

void CheckRoundTrip(const TNcwReader& ncw, const Bytes& samples) {
  const TNcwHeader original = ncw.Header;
  const TNcwStream stream{original.Channels, original.BitsPerSample, original.SampleRate,
                          original.NumSamples};
  TMemorySink encoded;
  TNcwReader back;
  try {
    TMemorySource source(samples);
    EncodeNcw(stream, source, 0, encoded);
    OpenNcwBytes(back, encoded.Bytes(), "again.ncw");
  } catch (const TError&) {
    __builtin_trap();  // what the encoder writes must read back
  }
  Check(back.Header.Channels == original.Channels &&
        back.Header.BitsPerSample == original.BitsPerSample &&
        back.Header.SampleRate == original.SampleRate &&
        back.Header.NumSamples == original.NumSamples);
  const TDecoded decoded = DecodeInRuns(back, 3, {});
  Check(decoded.error.empty() && decoded.samples == samples);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (fuzz::ClaimedNcwBytes({data, size}) > fuzz::kMaxClaimedBytes) return 0;
  TNcwReader ncw;
  try {
    OpenNcwBytes(ncw, {data, size}, "input.ncw");
  } catch (const TError& error) {
    Check(!error.Message().empty());
    return 0;
  }
  if (!IsNcwSampleWidth(ncw.Header.BitsPerSample)) {
    Check(ncw.BlocksToDecode() == 0);  // other widths decode nothing; a conversion refuses them
    return 0;
  }
  // The run length follows from the input's size, so the fuzzer moves run boundaries by
  // growing or shrinking the file.
  const size_t run = 1 + size % 5;
  const TDecoded blockByBlock = DecodeInRuns(ncw, 1, {});
  const TDecoded inRuns = DecodeInRuns(ncw, run, {data, size});
  Check(blockByBlock.error == inRuns.error && blockByBlock.samples == inRuns.samples);
  if (!inRuns.error.empty() || inRuns.samples.size() > kMaxRoundTripBytes) return 0;
  CheckWavOutput(ncw, inRuns.samples, false);
  CheckWavOutput(ncw, inRuns.samples, true);
  CheckRoundTrip(ncw, inRuns.samples);
  return 0;
}
