// TNcwWriter: one NCW file written as a stream of runs of whole blocks. The header and the
// block table are reserved for the stream's frames at once; runs are encoded by any number of
// threads at the same time and take their places in the file in order (a run's blocks start
// where the previous run's end); the header, which knows the data's size, comes last.
//
// No thread waits for another: a run encoded before the runs ahead of it are placed is parked
// with its buffer, and the thread that places the run ahead of it writes it too (the ordered
// writer of parallel compressors).
//
// Errors: the size limit of the format is raised as TError (the source's fault), the sink's
// failures as it raises them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

#include "ncw/NcwFormat.h"
#include "platform/AlignedBuffer.h"
#include "platform/FileStream.h"

namespace tarvix {

// The samples an NCW file holds: interleaved frames of `channels` samples, each in a container
// of `bitsPerSample` bits (8, 16, 24 or 32).
struct TNcwStream {
  uint16_t channels = 0;
  uint16_t bitsPerSample = 0;
  uint32_t sampleRate = 0;
  uint32_t frames = 0;
  bool checksums = false;  // -crc: the reserved bytes carry CRCs (ncw/NcwChecksums.h)
};

// The memory one thread encodes a run in, reused from run to run. A run that must wait for its
// place keeps it, and the thread gets a buffer of a run written before in exchange.
struct TNcwRunMemory {
  TAlignedBuffer encoded;            // the run's part of the block table, then its blocks
  std::vector<uint32_t> blockBytes;  // the sizes of the run's blocks
  size_t bytes = 0;                  // the blocks' bytes, once encoded

  void Swap(TNcwRunMemory& other) noexcept {
    encoded.Swap(other.encoded);
    blockBytes.swap(other.blockBytes);
    std::swap(bytes, other.bytes);
  }
};

// Raised in a run that gave up its place because an earlier run failed.
struct TRunAbandoned : std::exception {
  const char* what() const noexcept override { return "run abandoned"; }
};

class TNcwWriter {
 public:
  // Writes to `sink` in runs of `runBlocks` blocks of 512 frames.
  TNcwWriter(const TNcwStream& stream, size_t runBlocks, TByteSink& sink,
             uint64_t maxFileBytes = kMaxNcwFileBytes);
  TNcwWriter(const TNcwWriter&) = delete;
  TNcwWriter& operator=(const TNcwWriter&) = delete;

  size_t RunCount() const { return fRuns; }
  size_t RunFrames() const { return fRunFrames; }
  // Frames of run k.
  size_t FramesOfRun(size_t k) const;
  // The most memory one run takes in a TNcwRunMemory.
  size_t RunMemoryBytes() const;
  const TNcwHeader& Header() const { return fHeader; }

  // Encodes the frames of run k at `pcm` and has it written at its place, after the runs before
  // it: now, with every parked run that follows it, when those are placed already; else it is
  // parked in `memory`'s buffers (`memory` gets others) and written by the thread that places
  // the run ahead of it. Several threads may write different runs at once. Raises
  // TRunAbandoned once an earlier run failed or Abandon was called.
  void WriteRun(size_t k, const uint8_t* pcm, TNcwRunMemory& memory);
  // The runs placed so far: runs 0 .. RunsPlaced() - 1.
  size_t RunsPlaced() const;
  // What the runs parked, and the buffers kept for parking, hold.
  size_t ParkedBytes() const;
  // Drops the parked runs and makes later ones give up; any thread may call it.
  void Abandon();
  // After the last run: the header and the block table's end entry.
  void Finish();

  // Encodes `frames` interleaved frames at `pcm` into blocks of 512 frames at `out`, the last
  // one padded with zero frames; stores each block's size in `blockBytes` and returns their
  // sum. `out` must hold MaxEncodedBytes(frames). Touches nothing shared.
  size_t EncodeBlocks(const uint8_t* pcm, size_t frames, uint8_t* out, uint32_t* blockBytes) const;
  uint64_t MaxEncodedBytes(uint64_t frames) const;

 private:
  uint64_t Place(size_t bytes);
  void WritePlaced(size_t k, uint64_t offset, TNcwRunMemory& run);
  uint8_t* StoreEntries(uint64_t offset, TNcwRunMemory& run) const;
  void CheckEncodedSize(uint64_t dataBytes) const;

  TNcwHeader fHeader;  // set at construction; DataSize by Finish, on the finishing thread
  TByteSink& fSink;
  const bool fChecksums;
  const uint64_t fMaxFileBytes;
  size_t fRunFrames = 0;
  size_t fRuns = 0;
  mutable std::mutex fMutex;  // guards the six below; taken by every run's thread
  size_t fNextRun = 0;        // the run whose blocks come next in the file
  uint64_t fDataBytes = 0;    // bytes of the blocks placed so far
  bool fAbandoned = false;
  std::map<size_t, TNcwRunMemory> fParked;  // runs encoded before their turn, by number
  std::vector<TNcwRunMemory> fSpares;       // buffers of parked runs since written
  uint32_t fTableCrc = 0;  // -crc: of the block table entries placed so far, in order
};

}  // namespace tarvix
