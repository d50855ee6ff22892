// The NCW reader on memory: header, block table, block checks and decoding. A file it accepts
// is then saved as WAV with both headers (which the WAV reader must read back, where it takes
// such a file at all), and encoded again, saved, read back and decoded: both must give the
// same samples.
#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>
#include <string>

#include "FuzzSupport.h"
#include "ncw/NCWParser3.h"
#include "platform/Errors.h"
#include "wav/WAVParser3.h"

using namespace tarvix;

namespace {

// Saving and encoding again are further passes over every sample; above this the harness only
// decodes, so that inputs claiming large sample counts do not slow the whole run down.
constexpr uint64_t kMaxRoundTripBytes = uint64_t{1} << 20;

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

// One in-memory file, reused by every run, that SaveToNcw writes and Open reads by name.
const std::string& ScratchFileName() {
  static const std::string name = [] {
    int fd = ::memfd_create("tarvix-fuzz-ncw", MFD_CLOEXEC);
    if (fd < 0) std::abort();
    return "/proc/self/fd/" + std::to_string(fd);
  }();
  return name;
}

// The WAV reader takes mono and stereo files of 8, 16 and 24 bits. It checks the byte rate
// against channels * bits * rate taken modulo 2^32, the writer stores block align * rate modulo
// 2^32: the two agree only while the product fits 32 bits.
bool WavReaderTakes(const TNcwHeader& header) {
  return (header.Channels == 1 || header.Channels == 2) && header.BitsPerSample != 32 &&
         uint64_t{header.Channels} * header.BitsPerSample * header.SampleRate <= 0xFFFFFFFFu;
}

template <class C>
void CheckWavOutput(const TNCWParser& ncw, bool extended) {
  try {
    if (extended) {
      ncw.SaveToWavExt(ScratchFileName());
    } else {
      ncw.SaveToWav(ScratchFileName());
    }
  } catch (const TError&) {
    __builtin_trap();  // decoded samples of a container width are always saved
  }
  const TNcwHeader& header = ncw.Header;
  TWavParser wav;
  const bool readable = wav.OpenFile(ScratchFileName()) && wav.ParseHeader();
  if (WavReaderTakes(header)) Check(readable);
  if (!readable) return;
  Check(wav.fHeader.nChannels == header.Channels &&
        wav.fHeader.wBitsPerSample == header.BitsPerSample &&
        wav.fHeader.nSamplesPerSec == header.SampleRate && wav.fFrameCount == header.NumSamples &&
        wav.fExtensible == extended);
  const TSampleArray<C>& samples = ncw.SamplesOf<C>();
  std::unique_ptr<uint8_t[]> data(new uint8_t[samples.ByteSize()]);
  Check(wav.ReadData(data.get(), samples.ByteSize()));
  Check(samples.ByteSize() == 0 ||
        std::memcmp(data.get(), samples.Bytes(), samples.ByteSize()) == 0);
}

template <class C>
void CheckRoundTrip(TNCWParser& ncw) {
  const TNcwHeader original = ncw.Header;
  const TSampleArray<C>& samples = ncw.SamplesOf<C>();
  Check(samples.Length() == size_t{original.NumSamples} * original.Channels);
  if (samples.ByteSize() > kMaxRoundTripBytes) return;
  CheckWavOutput<C>(ncw, false);
  CheckWavOutput<C>(ncw, true);

  TStreamDescription stream;
  stream.nChannels = original.Channels;
  stream.nSamplesPerSec = original.SampleRate;
  stream.wBitsPerSample = original.BitsPerSample;
  stream.fFrameCount = original.NumSamples;
  TNCWParser back;
  try {
    ncw.Encode(stream);
    ncw.SaveToNcw(ScratchFileName());
    back.Open(ScratchFileName());
    back.Decode();
  } catch (const TError&) {
    __builtin_trap();  // what the encoder writes must read back
  }
  Check(back.Header.Channels == original.Channels &&
        back.Header.BitsPerSample == original.BitsPerSample &&
        back.Header.SampleRate == original.SampleRate &&
        back.Header.NumSamples == original.NumSamples);
  const TSampleArray<C>& decoded = back.SamplesOf<C>();
  Check(decoded.ByteSize() == samples.ByteSize());
  Check(samples.ByteSize() == 0 ||
        std::memcmp(decoded.Bytes(), samples.Bytes(), samples.ByteSize()) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (fuzz::ClaimedNcwBytes({data, size}) > fuzz::kMaxClaimedBytes) return 0;
  TNCWParser ncw;
  try {
    ncw.OpenBytes(data, size, "input.ncw");
    ncw.Decode();
  } catch (const TError& error) {
    Check(!error.Message().empty());
    return 0;
  }
  switch (ncw.Header.BitsPerSample) {
    case 8:
      CheckRoundTrip<TSample8>(ncw);
      break;
    case 16:
      CheckRoundTrip<TSample16>(ncw);
      break;
    case 24:
      CheckRoundTrip<TSample24>(ncw);
      break;
    case 32:
      CheckRoundTrip<TSample32>(ncw);
      break;
    default:  // other widths decode nothing, and saving refuses them
      Check(ncw.Samples8.Length() == 0 && ncw.Samples16.Length() == 0 &&
            ncw.Samples24.Length() == 0 && ncw.Samples32.Length() == 0);
      try {
        ncw.SaveToWav(ScratchFileName());
        __builtin_trap();
      } catch (const TError&) {
      }
      break;
  }
  return 0;
}
