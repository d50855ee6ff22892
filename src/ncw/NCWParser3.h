// TNCWParser: one NCW file in memory. The reading side opens and validates a file, decodes its
// blocks into one interleaved sample array and writes that as a WAV file; the writing side
// encodes an interleaved sample array into header, block table and channel blocks and saves
// them as an NCW file.
//
// Errors are raised as TError. A file that is damaged or holds what the encoder never writes
// (field widths beyond the container, sum/difference blocks outside stereo, a block table or
// blocks reaching past the end) is refused before any memory is allocated for its samples.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "bits/SampleContainers.h"
#include "ncw/NCWFormat.h"
#include "platform/FileMemory.h"
#include "platform/MemoryStream.h"
#include "wav/WAVParser3.h"

namespace tarvix {

class TNCWParser {
 public:
  TNCWParser() = default;
  virtual ~TNCWParser();
  TNCWParser(const TNCWParser&) = delete;
  TNCWParser& operator=(const TNCWParser&) = delete;

  // Releases the input file and every array.
  void Clear();
  // Releases the input file and the block table.
  void Close();

  // Reads the file, checks its signature, its header and its block table.
  void Open(const std::string& fileName);
  // The same on bytes in memory; `name` is used in messages.
  void OpenBytes(const uint8_t* bytes, size_t size, const std::string& name);
  // Decodes every block into the sample array of BitsPerSample; other widths decode nothing.
  void Decode();
  // Write the decoded samples as a WAV file with the standard or the extended header.
  void SaveToWav(const std::string& fileName) const;
  void SaveToWavExt(const std::string& fileName) const;

  // Encodes the sample array of the stream's width (filled by the caller) into Header,
  // BlockTable and EncodedData; other widths leave the object untouched.
  void Encode(const TStreamDescription& stream);
  void SaveToNcw(const std::string& fileName) const;

  // The sample array of one container width.
  template <class C>
  TSampleArray<C>& SamplesOf();
  template <class C>
  const TSampleArray<C>& SamplesOf() const {
    return const_cast<TNCWParser*>(this)->SamplesOf<C>();
  }

  TNcwHeader Header;
  std::vector<int32_t, TFileAllocator<int32_t>> BlockTable;
  TSampleArray<TSample8> Samples8;
  TSampleArray<TSample16> Samples16;
  TSampleArray<TSample24> Samples24;
  TSampleArray<TSample32> Samples32;
  std::unique_ptr<TMemoryStream> EncodedData;  // the channel blocks, after Encode
  // The largest file Encode lets grow; tests lower it to reach the limit with little data.
  uint64_t fMaxFileBytes = kMaxNcwFileBytes;

 private:
  void MapInput(const TFileSource& file);
  void ReadHeaderAndTable();
  void CheckChannelsAndSize() const;
  size_t BlocksToDecode() const;
  template <class C>
  uint64_t CheckChannelBlock(size_t k, size_t ch, uint64_t position, uint16_t& channelMode) const;
  template <class C>
  void CheckBlocks(size_t blocks) const;
  template <class C>
  void DecodeAs();
  template <class C>
  void EncodeAs(const TStreamDescription& stream);
  void SaveWav(const std::string& fileName, uint16_t formatTag) const;
  [[noreturn]] void Refuse(const std::string& message) const;

  std::string fFileName;            // the input's name, for messages
  TFileMapping fInputMapping;       // the input file, when opened from a file
  TFileMemory fInputCopy;           // the input, when given as bytes
  const uint8_t* fInput = nullptr;  // the whole input, from one of the two
  size_t fInputSize = 0;            // its length
};

}  // namespace tarvix
