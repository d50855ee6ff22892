#include "ncw/NCWFormat.h"

#include <cstring>
#include <type_traits>

namespace tarvix {

namespace {

template <class T>
void Put(uint8_t* p, T value) {
  auto v = static_cast<std::make_unsigned_t<T>>(value);
  for (size_t i = 0; i < sizeof(T); ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

template <class T>
T Get(const uint8_t* p) {
  std::make_unsigned_t<T> v = 0;
  for (size_t i = 0; i < sizeof(T); ++i) v |= static_cast<decltype(v)>(uint64_t{p[i]} << (8 * i));
  return static_cast<T>(v);
}

}  // namespace

std::array<uint8_t, kNcwHeaderBytes> TNcwHeader::Image() const {
  std::array<uint8_t, kNcwHeaderBytes> image{};
  uint8_t* p = image.data();
  std::memcpy(p, Signature.data(), 8);
  Put(p + 8, Channels);
  Put(p + 10, BitsPerSample);
  Put(p + 12, SampleRate);
  Put(p + 16, NumSamples);
  Put(p + 20, BlockTableOffset);
  Put(p + 24, DataOffset);
  Put(p + 28, DataSize);
  std::memcpy(p + 32, Reserved.data(), Reserved.size());
  return image;
}

TNcwHeader TNcwHeader::FromImage(const uint8_t* p) {
  TNcwHeader header;
  std::memcpy(header.Signature.data(), p, 8);
  header.Channels = Get<uint16_t>(p + 8);
  header.BitsPerSample = Get<uint16_t>(p + 10);
  header.SampleRate = Get<uint32_t>(p + 12);
  header.NumSamples = Get<uint32_t>(p + 16);
  header.BlockTableOffset = Get<uint32_t>(p + 20);
  header.DataOffset = Get<uint32_t>(p + 24);
  header.DataSize = Get<uint32_t>(p + 28);
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
  Put(p + 4, BaseValue);
  Put(p + 8, Bits);
  Put(p + 10, ChannelMode);
  Put(p + 12, Reserved);
  return image;
}

TChannelBlockHeader TChannelBlockHeader::FromImage(const uint8_t* p) {
  TChannelBlockHeader header;
  std::memcpy(header.BlockSignature.data(), p, 4);
  header.BaseValue = Get<int32_t>(p + 4);
  header.Bits = Get<int16_t>(p + 8);
  header.ChannelMode = Get<uint16_t>(p + 10);
  header.Reserved = Get<uint32_t>(p + 12);
  return header;
}

}  // namespace tarvix
