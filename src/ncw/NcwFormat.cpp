#include "ncw/NcwFormat.h"

#include <algorithm>
#include <cstring>

#include "bits/LittleEndian.h"
#include "bits/SampleContainers.h"
#include "platform/Errors.h"

namespace tarvix {

std::array<uint8_t, kNcwHeaderBytes> TNcwHeader::Image() const {
  std::array<uint8_t, kNcwHeaderBytes> image{};
  uint8_t* p = image.data();
  std::memcpy(p, Signature.data(), 8);
  StoreLE(p + 8, Channels);
  StoreLE(p + 10, BitsPerSample);
  StoreLE(p + 12, SampleRate);
  StoreLE(p + 16, NumSamples);
  StoreLE(p + 20, BlockTableOffset);
  StoreLE(p + 24, DataOffset);
  StoreLE(p + 28, DataSize);
  std::memcpy(p + 32, Reserved.data(), Reserved.size());
  return image;
}

TNcwHeader TNcwHeader::FromImage(const uint8_t* p) {
  TNcwHeader header;
  std::memcpy(header.Signature.data(), p, 8);
  header.Channels = LoadLE<uint16_t>(p + 8);
  header.BitsPerSample = LoadLE<uint16_t>(p + 10);
  header.SampleRate = LoadLE<uint32_t>(p + 12);
  header.NumSamples = LoadLE<uint32_t>(p + 16);
  header.BlockTableOffset = LoadLE<uint32_t>(p + 20);
  header.DataOffset = LoadLE<uint32_t>(p + 24);
  header.DataSize = LoadLE<uint32_t>(p + 28);
  std::memcpy(header.Reserved.data(), p + 32, header.Reserved.size());
  return header;
}

// Byte by byte, each byte must match one of the two signatures; as they differ only in byte 4,
// exactly these two pass.
bool TNcwHeader::HasValidSignature() const {
  for (size_t i = 0; i < Signature.size(); ++i) {
    if (Signature[i] != kNcwSignature[i] && Signature[i] != kNcwSignatureOld[i]) return false;
  }
  return true;
}

std::array<uint8_t, kChannelBlockHeaderBytes> TChannelBlockHeader::Image() const {
  std::array<uint8_t, kChannelBlockHeaderBytes> image{};
  uint8_t* p = image.data();
  std::memcpy(p, BlockSignature.data(), 4);
  StoreLE(p + 4, BaseValue);
  StoreLE(p + 8, Bits);
  StoreLE(p + 10, ChannelMode);
  StoreLE(p + 12, Reserved);
  return image;
}

TChannelBlockHeader TChannelBlockHeader::FromImage(const uint8_t* p) {
  TChannelBlockHeader header;
  std::memcpy(header.BlockSignature.data(), p, 4);
  header.BaseValue = LoadLE<int32_t>(p + 4);
  header.Bits = LoadLE<int16_t>(p + 8);
  header.ChannelMode = LoadLE<uint16_t>(p + 10);
  header.Reserved = LoadLE<uint32_t>(p + 12);
  return header;
}

bool IsNcwSampleWidth(int bitsPerSample) {
  return IsContainerWidth(bitsPerSample);
}

size_t BlocksPerRun(size_t frameBytes, size_t pcmBytes) {
  const size_t blockBytes = std::max<size_t>(1, frameBytes) * kFramesPerBlock;
  return std::max<size_t>(1, pcmBytes / blockBytes);
}

void RefuseNcwBytes(const std::string& fileName, const std::string& message) {
  throw TError(message, fileName, {}, TFault::kSource);
}

}  // namespace tarvix
