// The block decoding of TNcwReader: a run of blocks is read from the file in one piece where the
// blocks lie one after another, each block is checked (widths, channel mode, nothing past the
// end of the file) and then unpacked, straight into the interleaved frames where it can be.
#include <algorithm>
#include <cstring>

#include "bits/BlockKernels.h"
#include "bits/LittleEndian.h"
#include "bits/SampleContainers.h"
#include "ncw/NcwChecksums.h"
#include "ncw/NcwReader.h"
#include "platform/Errors.h"

namespace tarvix {

namespace {

static_assert(kBlockValues == kFramesPerBlock, "the kernels decode whole blocks");

// How a channel block's Bits field reads: its field width and whether it holds differences.
struct TChannelBlockKind {
  int width;
  bool delta;
};

TChannelBlockKind KindOf(int16_t bits, int bitsPerSample) {
  if (bits > 0) return {bits, true};
  if (bits < 0) return {-bits, false};
  return {bitsPerSample, false};  // never written, read as a plain block
}

std::string Where(size_t block, size_t channel) {
  return "block " + std::to_string(block) + ", channel " + std::to_string(channel);
}

// Where one block's bytes are: in memory already, and how many of the file's bytes from the
// block's start on are there; once checked, how its channels combine.
struct TBlockBytes {
  const uint8_t* data;
  uint64_t available;
  uint16_t channelMode = 0;  // the last channel block's: 1 for a sum/difference pair
};

// One run of blocks of one file, decoded for container C.
template <class C>
class TRunDecoder {
 public:
  TRunDecoder(const TNcwHeader& header, const TByteSource& source, std::span<const uint8_t> head,
              TNcwDecodeMemory& memory, const std::string& fileName)
      : fHeader(header), fSource(source), fHead(head), fMemory(memory), fFileName(fileName) {}

  void Decode(size_t first, size_t count, uint64_t frames, uint8_t* out) {
    ReadTableEntries(first, count);
    ReadRun(count);
    const size_t frameBytes = size_t{fHeader.Channels} * C::kBytes;
    for (size_t i = 0; i < count; ++i) {
      const size_t k = first + i;
      const uint64_t firstFrame = uint64_t{k} * kFramesPerBlock;
      const size_t blockFrames =
          static_cast<size_t>(std::min<uint64_t>(kFramesPerBlock, frames - firstFrame));
      DecodeBlock(Locate(k, Entry(i)), blockFrames, out + i * kFramesPerBlock * frameBytes);
    }
  }

 private:
  [[noreturn]] void Refuse(const std::string& message) const { RefuseNcwBytes(fFileName, message); }

  int32_t Entry(size_t i) const { return LoadLE<int32_t>(fMemory.table.data() + 4 * i); }

  // Entries first .. first + count: the run's blocks and where the one after them starts.
  void ReadTableEntries(size_t first, size_t count) {
    const size_t bytes = 4 * (count + 1);
    fMemory.table.resize(bytes);
    const uint64_t position = fHeader.BlockTableOffset + 4 * uint64_t{first};
    // The file holds the whole table (checked at opening), so the read cannot come back short
    // unless the file shrank meanwhile.
    if (Read(position, fMemory.table.data(), bytes) != bytes) {
      Refuse("NCW file is cut short (block table)");
    }
  }

  size_t Read(uint64_t position, uint8_t* dest, size_t count) const {
    if (position + count <= fHead.size()) {
      std::memcpy(dest, fHead.data() + position, count);
      return count;
    }
    return fSource.ReadAt(position, dest, count);
  }

  // Bytes at `position` from the head when it holds them all, else read into `buffer`.
  TBlockBytes Fetch(uint64_t position, uint64_t count, TAlignedBuffer& buffer) {
    const uint64_t inFile = position < fSource.Size() ? fSource.Size() - position : 0;
    count = std::min(count, inFile);
    if (position + count <= fHead.size()) return {fHead.data() + position, count};
    buffer.Reserve(static_cast<size_t>(count));
    return {buffer.Data(), fSource.ReadAt(position, buffer.Data(), static_cast<size_t>(count))};
  }

  // Blocks written one after another (as the encoder writes them) are read in one piece: from
  // the run's first block to where the next block starts.
  void ReadRun(size_t count) {
    fRunStart = fRunEnd = 0;
    fRun = {};
    const int32_t start = Entry(0);
    const int32_t end = Entry(count);
    if (start < 0 || end <= start) return;
    const uint64_t bytes = static_cast<uint64_t>(end - start);
    if (bytes > MaxBlockBytes(fHeader.Channels, C::kBits) * count) return;  // not a plain run
    fRunStart = fHeader.DataOffset + static_cast<uint64_t>(start);
    fRun = Fetch(fRunStart, bytes, fMemory.blocks);
    fRunEnd = fRunStart + fRun.available;
  }

  // Block k's bytes: within the run where it lies wholly inside it, else read by itself. Only
  // a block read by itself can be found cut short: there its bytes end where the file does.
  TBlockBytes Locate(size_t k, int32_t entry) {
    if (entry < 0) Refuse("Damaged NCW file: bad block table entry for block " + std::to_string(k));
    const uint64_t position = uint64_t{fHeader.DataOffset} + static_cast<uint32_t>(entry);
    if (position >= fRunStart && position < fRunEnd) {
      TBlockBytes inRun{fRun.data + (position - fRunStart), fRunEnd - position};
      if (BlockLength(k, inRun, /*final=*/false) != 0) {
        CheckChecksums(k, inRun);
        return inRun;
      }
    }
    TBlockBytes alone = Fetch(position, MaxBlockBytes(fHeader.Channels, C::kBits), fMemory.block);
    BlockLength(k, alone, /*final=*/true);
    CheckChecksums(k, alone);
    return alone;
  }

  // -crc files: each channel block of a block whose extent was checked against its CRC.
  void CheckChecksums(size_t k, const TBlockBytes& bytes) const {
    if (!fChecksums) return;
    const uint8_t* p = bytes.data;
    for (size_t ch = 0; ch < fHeader.Channels; ++ch) {
      const uint32_t payload = PayloadBytes(KindOf(LoadLE<int16_t>(p + 8), C::kBits).width);
      if (ChannelBlockCrc(p, payload) != LoadLE<uint32_t>(p + kChannelBlockChecksumAt)) {
        Refuse("checksum mismatch (" + Where(k, ch) + ")");
      }
      p += kChannelBlockHeaderBytes + payload;
    }
  }

  // Checks the channel blocks of block k, notes its channel mode and returns the block's length,
  // or 0 when it reaches past the bytes at hand and those are not `final` (the end of the file).
  uint64_t BlockLength(size_t k, TBlockBytes& bytes, bool final) const {
    uint64_t position = 0;
    uint16_t channelMode = 0;
    for (size_t ch = 0; ch < fHeader.Channels; ++ch) {
      if (position + kChannelBlockHeaderBytes > bytes.available) {
        if (!final) return 0;
        Refuse("NCW file is cut short (" + Where(k, ch) + ")");
      }
      const TChannelBlockHeader header = TChannelBlockHeader::FromImage(bytes.data + position);
      CheckWidth(header.Bits, k, ch);
      position += kChannelBlockHeaderBytes + PayloadBytes(KindOf(header.Bits, C::kBits).width);
      if (position > bytes.available) {
        if (!final) return 0;
        Refuse("NCW file is cut short (" + Where(k, ch) + ")");
      }
      channelMode = header.ChannelMode;
    }
    // Only the last channel block's mode counts, and a pair needs exactly two channels.
    if (channelMode == 1 && fHeader.Channels != 2) {
      Refuse("Unsupported NCW file: sum/difference block " + std::to_string(k) + " in a file of " +
             std::to_string(fHeader.Channels) + " channels");
    }
    bytes.channelMode = channelMode;
    return position;
  }

  void CheckWidth(int16_t bits, size_t k, size_t ch) const {
    if (bits > C::kBits || bits < -C::kBits) {
      Refuse("Unsupported NCW file: field width " + std::to_string(bits) + " in " + Where(k, ch) +
             " exceeds BitsPerSample " + std::to_string(C::kBits));
    }
    if (bits < 0 && -bits != C::kBits) {
      Refuse("Unsupported NCW file: plain block of " + std::to_string(-bits) + " bits in " +
             Where(k, ch) + " of a " + std::to_string(C::kBits) + "-bit file");
    }
  }

  // Unpacks a checked block into the interleaved frames (as they are, or as a sum/difference
  // pair), in one pass where the kernels can, else through the block area.
  void DecodeBlock(TBlockBytes bytes, size_t frames, uint8_t* out) {
    const size_t channels = fHeader.Channels;
    fMemory.channels.resize(channels);
    const uint8_t* p = bytes.data;
    for (size_t ch = 0; ch < channels; ++ch) {
      const TChannelBlockHeader header = TChannelBlockHeader::FromImage(p);
      const TChannelBlockKind kind = KindOf(header.Bits, C::kBits);
      const uint8_t* payload = p + kChannelBlockHeaderBytes;
      p = payload + PayloadBytes(kind.width);
      fMemory.channels[ch] = {payload, kind.width, kind.delta, header.BaseValue};
    }
    fMemory.area.Reserve(channels * kFramesPerBlock * C::kBytes);
    BlockKernels<C>().decodeBlock(fMemory.channels.data(), channels, bytes.channelMode == 1, frames,
                                  fMemory.area.Data(), out);
  }

  const TNcwHeader& fHeader;
  const TByteSource& fSource;
  std::span<const uint8_t> fHead;  // the file's first bytes, where the caller has them
  TNcwDecodeMemory& fMemory;
  const std::string& fFileName;
  const bool fChecksums = CarriesChecksums(fHeader);  // set when the file was opened
  TBlockBytes fRun{};      // the run's blocks in one piece, when they lie so
  uint64_t fRunStart = 0;  // file position of fRun.data
  uint64_t fRunEnd = 0;    // file position after the last byte of fRun
};

}  // namespace

void TNcwReader::DecodeBlocks(size_t first, size_t count, std::span<const uint8_t> head,
                              TNcwDecodeMemory& memory, uint8_t* out) const {
  if (count == 0) return;
  ForContainerWidth(Header.BitsPerSample, [&](auto container) {
    using C = decltype(container);
    TRunDecoder<C>(Header, *fSource, head, memory, fFileName)
        .Decode(first, count, Header.NumSamples, out);
  });
}

}  // namespace tarvix
