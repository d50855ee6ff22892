// TNCWParser: one NCW file, read or written a few blocks at a time. The reading side opens and
// validates a file's header and the extent of its block table, then decodes runs of blocks
// into interleaved PCM frames; the writing side makes the header of a stream and encodes runs
// of interleaved PCM frames into blocks. Nothing here holds a whole file: callers stream
// through buffers of their own, and several threads may decode or encode different runs of
// one file at once.
//
// Errors are raised as TError. A file that is damaged or holds what the encoder never writes
// (field widths beyond the container, sum/difference blocks outside stereo, a block table or
// blocks reaching past the end) is refused when the damaged block is reached, naming it.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "ncw/NCWFormat.h"
#include "platform/AlignedBuffer.h"
#include "platform/FileStream.h"
#include "wav/WAVParser3.h"

namespace tarvix {

// The working memory of one decoding thread, reused from run to run.
struct TNcwDecodeMemory {
  TAlignedBuffer blocks;       // a run of blocks as they lie in the file
  TAlignedBuffer block;        // one block that lies apart from the others
  TAlignedBuffer area;         // a block's channels side by side, before they are interleaved
  std::vector<uint8_t> table;  // the run's block table entries, as stored
};

class TNCWParser {
 public:
  TNCWParser() = default;
  virtual ~TNCWParser();
  TNCWParser(const TNCWParser&) = delete;
  TNCWParser& operator=(const TNCWParser&) = delete;

  // Releases the input.
  void Clear();
  void Close();

  // ---- Reading ----

  // Opens the file and checks its signature, its header and that its block table lies within
  // it. With a `head`, the file's first bytes are read into it at once (see TFileSource).
  void Open(const std::string& fileName, std::span<uint8_t> head = {});
  // The same on any byte source; `name` is used in messages.
  void OpenSource(std::unique_ptr<TByteSource> source, const std::string& name);
  // The same on a copy of bytes in memory.
  void OpenBytes(const uint8_t* bytes, size_t size, const std::string& name);

  // The file's first bytes as read into the head at opening (empty without a head), and the
  // end of their use by the source (see TFileSource::ForgetHead).
  std::span<const uint8_t> Head() const { return fHead; }
  void ForgetHead();

  // The blocks that decoding reads: it stops as soon as NumSamples frames are complete.
  size_t BlocksToDecode() const;
  // The frames those blocks give (the frames after them, up to NumSamples, are zeros).
  uint64_t DecodedFrames() const;
  // Bytes of one interleaved frame.
  size_t FrameBytes() const { return size_t{Header.Channels} * Header.BitsPerSample / 8; }

  // Checks and decodes blocks first .. first + count - 1 (at most BlocksToDecode()) into
  // interleaved frames at `out`, which holds count * 512 frames (the frames past NumSamples are
  // not written). `head` holds the file's first bytes where the caller has them in memory; the
  // rest is read from the source. Safe to call from several threads on different blocks.
  void DecodeBlocks(size_t first, size_t count, std::span<const uint8_t> head,
                    TNcwDecodeMemory& memory, uint8_t* out) const;
  // Decodes every block into `out` at `position`, one run after another.
  void Decode(TByteSink& out, uint64_t position) const;
  // Sets the format fields and the data size of a WAV writer for this file's samples, with the
  // header kind of `formatTag`.
  void DescribeWav(TWavParser& wav, uint16_t formatTag) const;
  // Write the decoded file as WAV with the standard or the extended header.
  void SaveToWav(const std::string& fileName) const;
  void SaveToWavExt(const std::string& fileName) const;

  // ---- Writing ----

  // Sets Header for a stream: signature, format, frame count and the offsets of a block table
  // sized for the frames; DataSize stays 0 until the blocks are known.
  void BeginEncode(const TStreamDescription& stream);
  // Encodes `frames` interleaved frames at `pcm` (of Header's channels and width) into blocks
  // of 512 frames at `out`, the last one padded with zero frames; stores each block's size in
  // `blockBytes` and returns their sum. `out` must hold MaxEncodedBytes(frames).
  size_t EncodeBlocks(const uint8_t* pcm, size_t frames, uint8_t* out, uint32_t* blockBytes) const;
  uint64_t MaxEncodedBytes(uint64_t frames) const;
  // Raises the size-limit error when blocks of `dataBytes` in all would make the file too large
  // for the format's 32-bit positions.
  void CheckEncodedSize(uint64_t dataBytes) const;
  // Encodes the PCM frames at `position` of `pcm` (BeginEncode first) and writes the whole NCW
  // file to `out`, one run of blocks after another.
  void Encode(const TByteSource& pcm, uint64_t position, TByteSink& out);

  TNcwHeader Header;
  // The largest NCW file encoding may make; tests lower it to reach the limit with little data.
  uint64_t fMaxFileBytes = kMaxNcwFileBytes;

 private:
  void ReadHeader();
  void CheckChannelsAndSize() const;
  void SaveWav(const std::string& fileName, uint16_t formatTag) const;
  [[noreturn]] void Refuse(const std::string& message) const;

  std::string fFileName;                 // the input's name, for messages
  std::unique_ptr<TByteSource> fSource;  // the input
  TFileSource* fFile = nullptr;          // fSource, when it is a file
  std::span<const uint8_t> fHead;        // the file's first bytes, when read at opening
  std::vector<uint8_t> fBytes;           // the input, when given as bytes
};

// How many blocks of frames of `frameBytes` make about `pcmBytes` of PCM (at least one): the
// unit the file is streamed in.
size_t BlocksPerRun(size_t frameBytes, size_t pcmBytes);

}  // namespace tarvix
