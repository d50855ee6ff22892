#include "support/WholeFiles.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "platform/AlignedBuffer.h"

namespace tarvix {

namespace {

// Bytes in memory that the source itself keeps, so that a reader may outlive its caller's copy.
class TOwnedBytesSource final : public TByteSource {
 public:
  explicit TOwnedBytesSource(std::span<const uint8_t> bytes)
      : fBytes(bytes.begin(), bytes.end()), fSource(fBytes) {}

  size_t ReadAt(uint64_t position, void* dest, size_t count) const override {
    return fSource.ReadAt(position, dest, count);
  }
  uint64_t Size() const override { return fSource.Size(); }

 private:
  std::vector<uint8_t> fBytes;
  TMemorySource fSource;  // over fBytes
};

}  // namespace

TNcwHeader EncodeNcw(const TNcwStream& stream, const TByteSource& pcm, uint64_t position,
                     TByteSink& sink, uint64_t maxFileBytes) {
  const size_t frameBytes = size_t{stream.channels} * stream.bitsPerSample / 8;
  TNcwWriter writer(stream, BlocksPerRun(frameBytes, kRunPcmBytes), sink, maxFileBytes);
  TAlignedBuffer input;
  input.Reserve(writer.RunFrames() * frameBytes);
  TNcwRunMemory memory;
  for (size_t k = 0; k < writer.RunCount(); ++k) {
    const size_t want = writer.FramesOfRun(k) * frameBytes;
    const uint64_t at = position + uint64_t{k} * writer.RunFrames() * frameBytes;
    const size_t got = pcm.ReadAt(at, input.Data(), want);
    std::fill(input.Data() + got, input.Data() + want, uint8_t{0});
    writer.WriteRun(k, input.Data(), memory);
  }
  writer.Finish();
  return writer.Header();
}

void OpenNcwBytes(TNcwReader& ncw, std::span<const uint8_t> bytes, const std::string& name) {
  ncw.OpenSource(std::make_unique<TOwnedBytesSource>(bytes), name);
}

void DecodeNcw(const TNcwReader& ncw, TByteSink& out, uint64_t position) {
  const size_t blocks = ncw.BlocksToDecode();
  const size_t frameBytes = ncw.FrameBytes();
  const size_t run = BlocksPerRun(frameBytes, kRunPcmBytes);
  TNcwDecodeMemory memory;
  std::vector<uint8_t> pcm(run * kFramesPerBlock * frameBytes);
  for (size_t first = 0; first < blocks; first += run) {
    const size_t count = std::min(run, blocks - first);
    ncw.DecodeBlocks(first, count, {}, memory, pcm.data());
    const uint64_t firstFrame = uint64_t{first} * kFramesPerBlock;
    const uint64_t frames =
        std::min<uint64_t>(count * kFramesPerBlock, ncw.DecodedFrames() - firstFrame);
    out.WriteAt(position + firstFrame * frameBytes, pcm.data(), frames * frameBytes);
  }
}

void ReadWavData(const TWavReader& wav, uint8_t* dest, size_t destSize) {
  wav.ReadFrames(0, dest, std::min<size_t>(wav.DataSize(), destSize));
}
}  // namespace tarvix
