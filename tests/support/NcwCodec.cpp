#include "support/NcwCodec.h"

#include "bits/SampleContainers.h"
#include "platform/FileStream.h"

namespace tarvix::test {

Bytes EncodeToNcwBytes(int bits, int channels, const std::vector<int64_t>& samples, uint32_t rate,
                       uint64_t maxFileBytes, TNcwHeader* header) {
  const Bytes pcm = SampleBytes(bits, samples);
  TNcwStream stream;
  stream.channels = static_cast<uint16_t>(channels);
  stream.sampleRate = rate;
  stream.bitsPerSample = static_cast<uint16_t>(bits);
  stream.frames = channels == 0 ? 0 : static_cast<uint32_t>(samples.size() / channels);
  TMemorySource source(pcm);
  TMemorySink sink;
  const TNcwHeader made = EncodeNcw(stream, source, 0, sink, maxFileBytes);
  if (header != nullptr) *header = made;
  return sink.Bytes();
}

Bytes DecodedSampleBytes(const TNcwReader& ncw) {
  if (!IsContainerWidth(ncw.Header.BitsPerSample)) return {};
  TMemorySink sink;
  ncw.Decode(sink, 0);
  sink.Resize(uint64_t{ncw.Header.NumSamples} * ncw.FrameBytes());
  return sink.Bytes();
}

std::vector<int64_t> DecodeNcwBytes(const Bytes& ncwBytes, TNcwReader* parser) {
  TNcwReader local;
  TNcwReader& ncw = parser ? *parser : local;
  ncw.OpenBytes(ncwBytes.data(), ncwBytes.size(), "memory.ncw");
  if (!IsContainerWidth(ncw.Header.BitsPerSample)) return {};
  return SignedSamples(ncw.Header.BitsPerSample, DecodedSampleBytes(ncw));
}

}  // namespace tarvix::test
