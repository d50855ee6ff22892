#include "support/NcwCodec.h"

#include "bits/SampleContainers.h"
#include "platform/FileStream.h"
#include "support/WholeFiles.h"

namespace tarvix::test {

Bytes EncodeToNcwBytes(int bits, int channels, const std::vector<int64_t>& samples, uint32_t rate,
                       uint64_t maxFileBytes, TNcwHeader* header, bool checksums) {
  const Bytes pcm = SampleBytes(bits, samples);
  TNcwStream stream;
  stream.channels = static_cast<uint16_t>(channels);
  stream.sampleRate = rate;
  stream.bitsPerSample = static_cast<uint16_t>(bits);
  stream.frames = channels == 0 ? 0 : static_cast<uint32_t>(samples.size() / channels);
  stream.checksums = checksums;
  TMemorySource source(pcm);
  TMemorySink sink;
  const TNcwHeader made = EncodeNcw(stream, source, 0, sink, maxFileBytes);
  if (header != nullptr) *header = made;
  return sink.Bytes();
}

Bytes DecodedSampleBytes(const TNcwReader& ncw) {
  if (!IsContainerWidth(ncw.Header.BitsPerSample)) return {};
  TMemorySink sink;
  DecodeNcw(ncw, sink, 0);
  sink.Resize(uint64_t{ncw.Header.NumSamples} * ncw.FrameBytes());
  return sink.Bytes();
}

std::vector<int64_t> DecodeNcwBytes(const Bytes& ncwBytes, TNcwReader* parser) {
  TNcwReader local;
  TNcwReader& ncw = parser ? *parser : local;
  OpenNcwBytes(ncw, ncwBytes, "memory.ncw");
  if (!IsContainerWidth(ncw.Header.BitsPerSample)) return {};
  return SignedSamples(ncw.Header.BitsPerSample, DecodedSampleBytes(ncw));
}

namespace {

uint64_t LoadBytes(const Bytes& bytes, size_t at, size_t count) {
  uint64_t v = 0;
  for (size_t i = 0; i < count; ++i) v |= uint64_t{bytes.at(at + i)} << (8 * i);
  return v;
}

int64_t SignExtend(uint64_t v, int bits) {
  const int shift = 64 - bits;
  return static_cast<int64_t>(v << shift) >> shift;
}

}  // namespace

std::vector<int64_t> DecodeByTheLayoutAlone(const Bytes& ncw) {
  const size_t channels = LoadBytes(ncw, 8, 2);
  const int bits = static_cast<int>(LoadBytes(ncw, 10, 2));
  const uint64_t frames = LoadBytes(ncw, 16, 4);
  const size_t tableAt = LoadBytes(ncw, 20, 4);
  const size_t dataAt = LoadBytes(ncw, 24, 4);
  const uint64_t mask = bits == 64 ? ~0ull : (1ull << bits) - 1;
  std::vector<int64_t> out(frames * channels);
  for (uint64_t block = 0; block * 512 < frames; ++block) {
    size_t at = dataAt + LoadBytes(ncw, tableAt + 4 * block, 4);
    std::vector<std::vector<uint64_t>> values(channels, std::vector<uint64_t>(512));
    uint64_t mode = 0;
    for (size_t ch = 0; ch < channels; ++ch) {
      const uint64_t base = LoadBytes(ncw, at + 4, 4);
      const auto fieldBits = static_cast<int16_t>(LoadBytes(ncw, at + 8, 2));
      mode = LoadBytes(ncw, at + 10, 2);
      const int width = fieldBits > 0 ? fieldBits : fieldBits < 0 ? -fieldBits : bits;
      at += 16;
      uint64_t sample = base & mask;
      for (size_t i = 0; i < 512; ++i) {
        uint64_t field = 0;
        for (int b = 0; b < width; ++b) {
          const size_t bit = i * width + b;
          field |= uint64_t{(ncw.at(at + bit / 8) >> (bit % 8)) & 1u} << b;
        }
        if (fieldBits <= 0) {
          values[ch][i] = field;
        } else {
          values[ch][i] = sample;
          sample = (sample + static_cast<uint64_t>(SignExtend(field, width))) & mask;
        }
      }
      at += 64 * static_cast<size_t>(width);
    }
    for (size_t j = 0; j < 512 && block * 512 + j < frames; ++j) {
      for (size_t ch = 0; ch < channels; ++ch) {
        uint64_t v = values[ch][j];
        if (mode == 1 && channels == 2) {
          v = ch == 0 ? values[0][j] + values[1][j] : values[0][j] - values[1][j];
        }
        out[(block * 512 + j) * channels + ch] = SignExtend(v & mask, bits);
      }
    }
  }
  return out;
}

}  // namespace tarvix::test
