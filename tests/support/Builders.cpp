#include "support/Builders.h"

#include <stdexcept>

namespace tarvix::test {

TByteWriter& TByteWriter::U8(uint8_t v) {
  fBytes.push_back(v);
  return *this;
}

TByteWriter& TByteWriter::U16(uint16_t v) {
  return U8(static_cast<uint8_t>(v)).U8(v >> 8);
}

TByteWriter& TByteWriter::U32(uint32_t v) {
  return U16(static_cast<uint16_t>(v)).U16(static_cast<uint16_t>(v >> 16));
}

TByteWriter& TByteWriter::Tag(const std::string& fourChars) {
  if (fourChars.size() != 4) throw std::invalid_argument("tag of four characters");
  for (char c : fourChars) U8(static_cast<uint8_t>(c));
  return *this;
}

TByteWriter& TByteWriter::Raw(const Bytes& bytes) {
  fBytes.insert(fBytes.end(), bytes.begin(), bytes.end());
  return *this;
}

Bytes TWavImage::Build() const {
  TByteWriter w;
  w.Tag(rf64DataSize ? "RF64" : "RIFF").U32(0).Tag("WAVE");
  if (rf64DataSize) {
    // RIFF size (filled in below), data size, sample count, an empty table, then filler.
    w.Tag("ds64").U32(ds64Size).U32(0).U32(0);
    w.U32(static_cast<uint32_t>(*rf64DataSize)).U32(static_cast<uint32_t>(*rf64DataSize >> 32));
    for (uint32_t i = 16; i < ds64Size; ++i) w.U8(0);
  }
  auto chunk = [&](const std::string& id, const Bytes& body) {
    w.Tag(id).U32(static_cast<uint32_t>(body.size())).Raw(body);
    if (padOddChunks && body.size() % 2 != 0) w.U8(0);
  };
  for (const auto& [id, body] : chunksBeforeFmt) chunk(id, body);
  uint16_t align = blockAlign.value_or(static_cast<uint16_t>(channels * bitsPerSample / 8));
  uint32_t rate = avgBytesPerSec.value_or(
      static_cast<uint32_t>(uint64_t{channels} * bitsPerSample * sampleRate / 8));
  w.Tag(fmtId).U32(fmtSize).U16(formatTag).U16(channels).U32(sampleRate).U32(rate).U16(align);
  w.U16(bitsPerSample);
  const size_t fmtEnd = w.Result().size() - 16 + fmtSize;
  if (fmtSize >= 18) w.U16(cbSize);
  if (fmtSize >= 40) {
    w.U16(validBits.value_or(bitsPerSample)).U32(channelMask);
    w.Raw(Bytes(subFormat.begin(), subFormat.end()));
  }
  while (w.Result().size() < fmtEnd) w.U8(0xEE);
  for (const auto& [id, body] : chunksBeforeData) chunk(id, body);
  if (hasDataChunk) {
    const uint32_t stated = rf64DataSize ? 0xFFFFFFFF : static_cast<uint32_t>(data.size());
    w.Tag("data").U32(dataSize.value_or(stated)).Raw(data);
  }
  w.Raw(trailing);
  Bytes& bytes = w.Result();
  const uint64_t trueSize = bytes.size() - 8 + static_cast<uint64_t>(riffSizeAdjust);
  uint32_t size = riffSize.value_or(rf64DataSize ? 0xFFFFFFFF : static_cast<uint32_t>(trueSize));
  for (int i = 0; i < 4; ++i) bytes[4 + i] = static_cast<uint8_t>(size >> (8 * i));
  if (rf64DataSize && ds64Size >= 8) {
    for (int i = 0; i < 8; ++i) bytes[20 + i] = static_cast<uint8_t>(trueSize >> (8 * i));
  }
  return bytes;
}

TNcwHeader TNcwImage::DefaultHeader() {
  TNcwHeader header;
  header.Signature = kNcwSignature;
  header.Channels = 1;
  header.BitsPerSample = 16;
  header.SampleRate = 44100;
  header.BlockTableOffset = kNcwHeaderBytes;
  return header;
}

Bytes TNcwImage::Build() const {
  std::vector<Bytes> blockBytes;
  std::vector<int32_t> positions;
  int32_t position = 0;
  for (const auto& block : blocks) {
    Bytes bytes;
    for (const TChannelBlockImage& channel : block) {
      auto image = channel.header.Image();
      bytes.insert(bytes.end(), image.begin(), image.end());
      bytes.insert(bytes.end(), channel.payload.begin(), channel.payload.end());
    }
    positions.push_back(position);
    position += static_cast<int32_t>(bytes.size());
    blockBytes.push_back(std::move(bytes));
  }
  positions.push_back(position);
  std::vector<int32_t> entries = table.value_or(positions);
  TNcwHeader h = header;
  h.DataOffset =
      dataOffset.value_or(h.BlockTableOffset + 4 * static_cast<uint32_t>(entries.size()));
  h.DataSize = static_cast<uint32_t>(position);
  auto image = h.Image();
  TByteWriter w;
  w.Raw(Bytes(image.begin(), image.end()));
  for (int32_t entry : entries) w.U32(static_cast<uint32_t>(entry));
  for (const Bytes& bytes : blockBytes) w.Raw(bytes);
  return w.Result();
}

Bytes SampleBytes(int bitsPerSample, const std::vector<int64_t>& samples) {
  const size_t width = static_cast<size_t>(bitsPerSample / 8);
  Bytes bytes(samples.size() * width);
  for (size_t i = 0; i < samples.size(); ++i) {
    for (size_t b = 0; b < width; ++b) {
      bytes[i * width + b] = static_cast<uint8_t>(static_cast<uint64_t>(samples[i]) >> (8 * b));
    }
  }
  return bytes;
}

std::vector<int64_t> SignedSamples(int bitsPerSample, const Bytes& bytes) {
  const size_t width = static_cast<size_t>(bitsPerSample / 8);
  std::vector<int64_t> samples;
  for (size_t i = 0; i + width <= bytes.size(); i += width) {
    uint64_t v = 0;
    for (size_t b = 0; b < width; ++b) v |= uint64_t{bytes[i + b]} << (8 * b);
    int shift = 64 - bitsPerSample;
    samples.push_back(static_cast<int64_t>(v << shift) >> shift);
  }
  return samples;
}

TChannelBlockImage PlainChannelBlock(int bitsPerSample, const std::vector<int64_t>& samples,
                                     uint16_t channelMode) {
  TChannelBlockImage block;
  block.header.Bits = static_cast<int16_t>(-bitsPerSample);
  block.header.ChannelMode = channelMode;
  std::vector<int64_t> all = samples;
  all.resize(kFramesPerBlock, 0);
  int shift = 64 - bitsPerSample;
  block.header.BaseValue =
      static_cast<int32_t>(static_cast<int64_t>(static_cast<uint64_t>(all[0]) << shift) >> shift);
  block.payload = SampleBytes(bitsPerSample, all);
  return block;
}

TChannelBlockImage DeltaChannelBlock(int width, int32_t base, const std::vector<int64_t>& deltas,
                                     uint16_t channelMode) {
  TChannelBlockImage block;
  block.header.Bits = static_cast<int16_t>(width);
  block.header.BaseValue = base;
  block.header.ChannelMode = channelMode;
  block.payload.assign(PayloadBytes(width), 0);
  // Bit by bit, following the stream layout, independently of the packer under test.
  for (size_t i = 0; i < deltas.size() && i < kFramesPerBlock; ++i) {
    auto field = static_cast<uint64_t>(deltas[i]);
    for (int j = 0; j < width; ++j) {
      size_t k = i * static_cast<size_t>(width) + static_cast<size_t>(j);
      block.payload[k / 8] |= static_cast<uint8_t>(((field >> j) & 1) << (k % 8));
    }
  }
  return block;
}

}  // namespace tarvix::test
