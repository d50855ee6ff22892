#include "support/NcwCodec.h"

#include <cstring>

#include "support/TempDir.h"

namespace tarvix::test {

namespace {

template <class C>
void Fill(TNCWParser& ncw, const Bytes& bytes) {
  TSampleArray<C>& array = ncw.SamplesOf<C>();
  array.SetLength(bytes.size() / C::kBytes);
  if (!bytes.empty()) std::memcpy(array.Bytes(), bytes.data(), bytes.size());
}

template <class C>
Bytes Take(const TNCWParser& ncw) {
  const TSampleArray<C>& array = ncw.SamplesOf<C>();
  return Bytes(array.Bytes(), array.Bytes() + array.ByteSize());
}

}  // namespace

void EncodeSamples(TNCWParser& ncw, int bits, int channels, const std::vector<int64_t>& samples,
                   uint32_t rate) {
  Bytes bytes = SampleBytes(bits, samples);
  switch (bits) {
    case 8:
      Fill<TSample8>(ncw, bytes);
      break;
    case 16:
      Fill<TSample16>(ncw, bytes);
      break;
    case 24:
      Fill<TSample24>(ncw, bytes);
      break;
    case 32:
      Fill<TSample32>(ncw, bytes);
      break;
    default:
      break;
  }
  TStreamDescription stream;
  stream.nChannels = static_cast<uint16_t>(channels);
  stream.nSamplesPerSec = rate;
  stream.wBitsPerSample = static_cast<uint16_t>(bits);
  stream.fFrameCount = channels == 0 ? 0 : static_cast<uint32_t>(samples.size() / channels);
  ncw.Encode(stream);
}

Bytes EncodeToNcwBytes(int bits, int channels, const std::vector<int64_t>& samples, uint32_t rate) {
  TNCWParser ncw;
  EncodeSamples(ncw, bits, channels, samples, rate);
  TTempDir dir;
  ncw.SaveToNcw(dir / "out.ncw");
  return ReadFileBytes(dir / "out.ncw");
}

std::vector<int64_t> DecodeNcwBytes(const Bytes& ncwBytes, TNCWParser* parser) {
  TNCWParser local;
  TNCWParser& ncw = parser ? *parser : local;
  ncw.OpenBytes(ncwBytes.data(), ncwBytes.size(), "memory.ncw");
  ncw.Decode();
  switch (ncw.Header.BitsPerSample) {
    case 8:
      return SignedSamples(8, Take<TSample8>(ncw));
    case 16:
      return SignedSamples(16, Take<TSample16>(ncw));
    case 24:
      return SignedSamples(24, Take<TSample24>(ncw));
    case 32:
      return SignedSamples(32, Take<TSample32>(ncw));
    default:
      return {};
  }
}

}  // namespace tarvix::test
