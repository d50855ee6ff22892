#include "support/NcwCodec.h"

#include "bits/SampleContainers.h"
#include "platform/FileStream.h"

namespace tarvix::test {

Bytes EncodeToNcwBytes(int bits, int channels, const std::vector<int64_t>& samples, uint32_t rate,
                       TNCWParser* ncw) {
  TNCWParser local;
  TNCWParser& encoder = ncw ? *ncw : local;
  const Bytes pcm = SampleBytes(bits, samples);
  TStreamDescription stream;
  stream.nChannels = static_cast<uint16_t>(channels);
  stream.nSamplesPerSec = rate;
  stream.wBitsPerSample = static_cast<uint16_t>(bits);
  stream.fFrameCount = channels == 0 ? 0 : static_cast<uint32_t>(samples.size() / channels);
  encoder.BeginEncode(stream);
  TMemorySource source(pcm);
  TMemorySink sink;
  encoder.Encode(source, 0, sink);
  return sink.Bytes();
}

Bytes DecodedSampleBytes(const TNCWParser& ncw) {
  if (!IsContainerWidth(ncw.Header.BitsPerSample)) return {};
  TMemorySink sink;
  ncw.Decode(sink, 0);
  sink.Resize(uint64_t{ncw.Header.NumSamples} * ncw.FrameBytes());
  return sink.Bytes();
}

std::vector<int64_t> DecodeNcwBytes(const Bytes& ncwBytes, TNCWParser* parser) {
  TNCWParser local;
  TNCWParser& ncw = parser ? *parser : local;
  ncw.OpenBytes(ncwBytes.data(), ncwBytes.size(), "memory.ncw");
  if (!IsContainerWidth(ncw.Header.BitsPerSample)) return {};
  return SignedSamples(ncw.Header.BitsPerSample, DecodedSampleBytes(ncw));
}

}  // namespace tarvix::test
