#include "ncw/NcwWriter.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "bits/Crc32c.h"
#include "bits/LittleEndian.h"
#include "ncw/NcwChecksums.h"
#include "platform/Errors.h"

namespace tarvix {

TNcwWriter::TNcwWriter(const TNcwStream& stream, size_t runBlocks, TByteSink& sink,
                       uint64_t maxFileBytes)
    : fSink(sink), fChecksums(stream.checksums), fMaxFileBytes(maxFileBytes) {
  fHeader.Signature = kNcwSignature;
  fHeader.Channels = stream.channels;
  fHeader.BitsPerSample = stream.bitsPerSample;
  fHeader.SampleRate = stream.sampleRate;
  fHeader.NumSamples = stream.frames;
  fHeader.BlockTableOffset = kNcwHeaderBytes;
  // The table stays within the 2 GiB of a file for every 32-bit frame count.
  fHeader.DataOffset =
      static_cast<uint32_t>(kNcwHeaderBytes + 4 * BlockTableEntries(stream.frames));
  fRunFrames = std::max<size_t>(1, runBlocks) * kFramesPerBlock;
  fRuns = static_cast<size_t>((uint64_t{stream.frames} + fRunFrames - 1) / fRunFrames);
}

size_t TNcwWriter::FramesOfRun(size_t k) const {
  const uint64_t first = uint64_t{k} * fRunFrames;
  return static_cast<size_t>(std::min<uint64_t>(fRunFrames, fHeader.NumSamples - first));
}

// A file of one run is written whole in one piece, header and table in front of its blocks;
// otherwise the run's part of the block table goes in front of its blocks in memory.
size_t TNcwWriter::RunMemoryBytes() const {
  const size_t prefix = fRuns == 1 ? fHeader.DataOffset : 4 * (fRunFrames / kFramesPerBlock);
  return prefix + static_cast<size_t>(MaxEncodedBytes(fRunFrames));
}

void TNcwWriter::WriteRun(size_t k, const uint8_t* pcm, TNcwRunMemory& memory) {
  const size_t frames = FramesOfRun(k);
  const size_t blocks = (frames + kFramesPerBlock - 1) / kFramesPerBlock;
  const size_t prefix = fRuns == 1 ? fHeader.DataOffset : 4 * blocks;
  memory.encoded.Reserve(prefix + static_cast<size_t>(MaxEncodedBytes(frames)));
  memory.blockBytes.resize(blocks);
  memory.bytes =
      EncodeBlocks(pcm, frames, memory.encoded.Data() + prefix, memory.blockBytes.data());

  std::unique_lock lock(fMutex);
  if (fAbandoned) throw TRunAbandoned{};
  if (k != fNextRun) {
    // Its place is not known yet: parked, for the thread that places the run ahead of it.
    fParked[k].Swap(memory);
    if (!fSpares.empty()) {
      memory.Swap(fSpares.back());
      fSpares.pop_back();
    }
    return;
  }
  // This thread places run k, then every parked run that follows it. The places are taken in
  // order under the lock; the writes, at places no other run has, go on outside it.
  TNcwRunMemory parked;
  TNcwRunMemory* run = &memory;
  while (true) {
    const size_t number = fNextRun;
    const uint64_t offset = Place(run->bytes);
    if (fChecksums && fRuns != 1) {
      // The table's CRC goes over its entries in order: each run's, as its place is taken.
      const size_t blocks = run->blockBytes.size();
      fTableCrc = Crc32c(fTableCrc, StoreEntries(offset, *run), 4 * blocks);
    }
    lock.unlock();
    try {
      WritePlaced(number, offset, *run);
    } catch (...) {
      Abandon();
      throw;
    }
    lock.lock();
    if (run == &parked) {
      fSpares.emplace_back();
      fSpares.back().Swap(parked);
    }
    auto next = fParked.find(fNextRun);
    if (next == fParked.end() || fAbandoned) return;
    parked.Swap(next->second);
    fParked.erase(next);
    run = &parked;
  }
}

size_t TNcwWriter::RunsPlaced() const {
  std::lock_guard lock(fMutex);
  return fNextRun;
}

size_t TNcwWriter::ParkedBytes() const {
  std::lock_guard lock(fMutex);
  size_t bytes = 0;
  for (const auto& [run, memory] : fParked) bytes += memory.encoded.Capacity();
  for (const TNcwRunMemory& spare : fSpares) bytes += spare.encoded.Capacity();
  return bytes;
}

void TNcwWriter::Abandon() {
  std::lock_guard lock(fMutex);
  fAbandoned = true;
  fParked.clear();
}

void TNcwWriter::Finish() {
  uint64_t dataBytes = 0;
  {
    std::lock_guard lock(fMutex);
    dataBytes = fDataBytes;
    fSpares.clear();  // no run parks any more
  }
  fHeader.DataSize = static_cast<uint32_t>(dataBytes);
  if (fRuns == 1) return;  // written whole with its run
  // The header, which now knows the data's size, and the block table's end entry.
  std::array<uint8_t, kNcwHeaderBytes + 4> tail;
  StoreLE(tail.data() + kNcwHeaderBytes, static_cast<int32_t>(dataBytes));
  if (fChecksums) {
    std::lock_guard lock(fMutex);
    SealHeader(fHeader, Crc32c(fTableCrc, tail.data() + kNcwHeaderBytes, 4));
  }
  std::memcpy(tail.data(), fHeader.Image().data(), kNcwHeaderBytes);
  const uint64_t endEntry = fHeader.DataOffset - 4;
  if (endEntry == kNcwHeaderBytes) {
    fSink.WriteAt(0, tail.data(), tail.size());  // no frames: the table is that entry alone
  } else {
    fSink.WriteAt(0, tail.data(), kNcwHeaderBytes);
    fSink.WriteAt(endEntry, tail.data() + kNcwHeaderBytes, 4);
  }
}

// The next run's place: where its `bytes` of blocks start, counted from the first block. Called
// with fMutex held, in run order.
uint64_t TNcwWriter::Place(size_t bytes) {
  try {
    CheckEncodedSize(fDataBytes + bytes);
  } catch (...) {
    fAbandoned = true;  // the runs after this one have no place
    fParked.clear();
    throw;
  }
  const uint64_t offset = fDataBytes;
  fDataBytes += bytes;
  ++fNextRun;
  return offset;
}

// Run k's part of the block table and its blocks, at the place it took. A file of one run is
// written whole in one piece, header and table in front of its blocks.
void TNcwWriter::WritePlaced(size_t k, uint64_t offset, TNcwRunMemory& run) {
  const size_t blocks = run.blockBytes.size();
  const bool whole = fRuns == 1;
  const size_t prefix = whole ? fHeader.DataOffset : 4 * blocks;
  uint8_t* out = run.encoded.Data();
  uint8_t* entries = StoreEntries(offset, run);
  if (whole) {
    StoreLE(entries + 4 * blocks, static_cast<int32_t>(offset + run.bytes));  // the blocks' end
    TNcwHeader header = fHeader;
    header.DataSize = static_cast<uint32_t>(run.bytes);
    if (fChecksums) SealHeader(header, Crc32c(0, entries, 4 * (blocks + 1)));
    std::memcpy(out, header.Image().data(), kNcwHeaderBytes);
    fSink.WriteAt(0, out, prefix + run.bytes);
  } else {
    const uint64_t firstBlock = uint64_t{k} * fRunFrames / kFramesPerBlock;
    fSink.WriteAt(kNcwHeaderBytes + 4 * firstBlock, out, prefix);
    fSink.WriteAt(fHeader.DataOffset + offset, out + prefix, run.bytes);
  }
}

// A run's block table entries, in front of its blocks, for its place at `offset`.
uint8_t* TNcwWriter::StoreEntries(uint64_t offset, TNcwRunMemory& run) const {
  uint8_t* entries = fRuns == 1 ? run.encoded.Data() + kNcwHeaderBytes : run.encoded.Data();
  uint64_t position = offset;
  for (size_t b = 0; b < run.blockBytes.size(); ++b) {
    StoreLE(entries + 4 * b, static_cast<int32_t>(position));
    position += run.blockBytes[b];
  }
  return entries;
}

void TNcwWriter::CheckEncodedSize(uint64_t dataBytes) const {
  // Positions are signed 32-bit numbers: a larger file would be unreadable. The same however
  // often it is tried: the source is too large for the format.
  if (uint64_t{fHeader.DataOffset} + dataBytes > fMaxFileBytes) {
    throw TError("The NCW file would exceed the format's limit of 2 GiB", {}, {}, TFault::kSource);
  }
}

}  // namespace tarvix
