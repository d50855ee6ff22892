// TNcwReader: one NCW file, read a few blocks at a time. It opens and validates a file's header
// and the extent of its block table, then decodes runs of blocks into interleaved PCM frames.
// Nothing here holds a whole file: callers stream through buffers of their own, and several
// threads may decode different runs of one file at once. (TNcwWriter writes them.)
//
// Errors are raised as TError, the source's fault. A file that is damaged or holds what the encoder
// never writes (field widths beyond the container, sum/difference blocks outside stereo, a block
// table or blocks reaching past the end) is refused when the damaged block is reached, naming it.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "bits/BlockKernels.h"
#include "ncw/NcwFormat.h"
#include "platform/AlignedBuffer.h"
#include "platform/FileStream.h"

namespace tarvix {

// The working memory of one decoding thread, reused from run to run.
struct TNcwDecodeMemory {
  TAlignedBuffer blocks;       // a run of blocks as they lie in the file
  TAlignedBuffer block;        // one block that lies apart from the others
  TAlignedBuffer area;         // a block's channels side by side, before they are interleaved
  std::vector<uint8_t> table;  // the run's block table entries, as stored
  std::vector<TChannelPayload> channels;  // where a block's channel blocks are, and how they read
};

class TNcwReader {
 public:
  TNcwReader() = default;
  virtual ~TNcwReader();
  TNcwReader(const TNcwReader&) = delete;
  TNcwReader& operator=(const TNcwReader&) = delete;

  // Releases the input.
  void Close();

  // Opens the file and checks its signature, its header and that its block table lies within
  // it. With a `head`, the file's first bytes are read into it at once (see TFileSource).
  void Open(const std::string& fileName, std::span<uint8_t> head = {});
  // The same on any byte source; `name` is used in messages.
  void OpenSource(std::unique_ptr<TByteSource> source, const std::string& name);

  // The file's first bytes as read into the head at opening (empty without a head), and the
  // end of their use by the source (see TFileSource::ForgetHead).
  std::span<const uint8_t> Head() const { return fHead; }
  void ForgetHead();

  // The blocks that decoding reads: it stops as soon as NumSamples frames are complete.
  size_t BlocksToDecode() const;
  // The frames those blocks give (the frames after them, up to NumSamples, are zeros).
  uint64_t DecodedFrames() const;
  // True when the file carries checksums of the layout this program checks (ncw/NcwChecksums.h):
  // its header and table were found right on opening, and each block is checked as decoded.
  bool CarriesChecksums() const { return fChecksums; }
  // Bytes of one interleaved frame.
  size_t FrameBytes() const { return size_t{Header.Channels} * Header.BitsPerSample / 8; }

  // Checks and decodes blocks first .. first + count - 1 (at most BlocksToDecode()) into
  // interleaved frames at `out`, which holds count * 512 frames (the frames past NumSamples are
  // not written). `head` holds the file's first bytes where the caller has them in memory; the
  // rest is read from the source. Safe to call from several threads on different blocks.
  void DecodeBlocks(size_t first, size_t count, std::span<const uint8_t> head,
                    TNcwDecodeMemory& memory, uint8_t* out) const;

  TNcwHeader Header;

 private:
  void ReadHeader();
  void CheckChannelsAndSize() const;
  void CheckTableAndLength(uint64_t size) const;
  [[noreturn]] void Refuse(const std::string& message) const;

  std::string fFileName;                 // the input's name, for messages
  std::unique_ptr<TByteSource> fSource;  // the input
  TFileSource* fFile = nullptr;          // fSource, when it is a file
  std::span<const uint8_t> fHead;        // the file's first bytes, when read at opening
  bool fChecksums = false;               // set by opening
};

}  // namespace tarvix
