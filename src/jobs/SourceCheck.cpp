// -test: each source read through as its conversion would read it, with every check that
// conversion makes, and nothing written: no temporary file, no folder. What a conversion would
// refuse is refused with the same lines; a WAV file cut short, which a conversion takes with a
// warning, counts as damaged.
#include <algorithm>

#include "jobs/Conversion.h"
#include "platform/Errors.h"

namespace tarvix {

namespace {

class TSourceCheck : public TConversion {
 public:
  using TConversion::TConversion;

  size_t BeginVerify() override { return 0; }
  void VerifyRun(size_t, TWorkerMemory&) override {}

 protected:
  [[noreturn]] void Refuse(const char* format, const std::string& reason) const {
    RefuseSource(fItem.source, format, reason);
  }
};

// An NCW source decoded whole, run by run, its checksums checked where it carries them.
class TNcwSourceCheck final : public TSourceCheck {
 public:
  using TSourceCheck::TSourceCheck;

  void Open(TWorkerMemory& memory) override {
    memory.head.Reserve(kOpeningMemoryBytes);
    RefusingSourceFaults(fItem.source, "NCW", [&] {
      fNcw.Open(fItem.source, {memory.head.Data(), memory.head.Capacity()});
    });
    const TNcwHeader& header = fNcw.Header;
    if (!IsNcwSampleWidth(header.BitsPerSample)) {
      Refuse("NCW", "Unsupported BitsPerSample");
    }
    fWithoutChecksums = !fNcw.CarriesChecksums();
    fHead = fNcw.Head();
    fNcw.ForgetHead();  // the head's memory is this thread's; other threads read the file
    fFrameBytes = fNcw.FrameBytes();
    fRunBlocks = BlocksPerRun(fFrameBytes, kRunPcmBytes);
    fBlocks = fNcw.BlocksToDecode();
    fRuns = (fBlocks + fRunBlocks - 1) / fRunBlocks;
    const size_t blockBytes =
        static_cast<size_t>(MaxBlockBytes(header.Channels, header.BitsPerSample));
    fRunMemoryBytes = fRunBlocks * (kFramesPerBlock * fFrameBytes + blockBytes) + 2 * blockBytes;
  }

  void ConvertRun(size_t k, TWorkerMemory& memory) override {
    const size_t first = k * fRunBlocks;
    const size_t count = std::min(fRunBlocks, fBlocks - first);
    memory.output.Reserve(count * kFramesPerBlock * fFrameBytes);
    RefusingSourceFaults(fItem.source, "NCW", [&] {
      fNcw.DecodeBlocks(first, count, k == 0 ? fHead : std::span<const uint8_t>(), memory.decode,
                        memory.output.Data());
    });
  }

  void Finish() override {
    ForgetHead();
    fNcw.Close();
  }

 private:
  TNcwReader fNcw;
  size_t fFrameBytes = 0;
  size_t fRunBlocks = 0;
  size_t fBlocks = 0;
};

// A WAV source: its header parsed, its samples read through.
class TWavSourceCheck final : public TSourceCheck {
 public:
  using TSourceCheck::TSourceCheck;

  void Open(TWorkerMemory& memory) override {
    memory.head.Reserve(kOpeningMemoryBytes);
    RefusingSourceFaults(fItem.source, "WAV", [&] {
      fWav.Open(fItem.source, {memory.head.Data(), memory.head.Capacity()});
    });
    const TStreamDescription stream = fWav.StreamDescription();
    if (!IsNcwSampleWidth(stream.wBitsPerSample)) {
      Refuse("WAV", "Unsupported container size (8,16,24 and 32 bits allowed)");
    }
    fCutShort = fWav.CutShort();
    if (fCutShort) fNotes.push_back(CutShortLine(fItem.source, fWav));
    fWav.ForgetHead();  // read like any file: the samples are all that is checked
    fFrameBytes = fWav.FrameBytes();
    fRunFrames = BlocksPerRun(fFrameBytes, kRunPcmBytes) * kFramesPerBlock;
    fRuns = (uint64_t{stream.fFrameCount} + fRunFrames - 1) / fRunFrames;
    fRunMemoryBytes = fRunFrames * fFrameBytes;
  }

  // The frames the header counted must all be there to read.
  void ConvertRun(size_t k, TWorkerMemory& memory) override {
    const uint64_t firstFrame = uint64_t{k} * fRunFrames;
    const size_t bytes =
        static_cast<size_t>(std::min<uint64_t>(fRunFrames, fWav.FrameCount() - firstFrame)) *
        fFrameBytes;
    memory.input.Reserve(bytes);
    RefusingSourceFaults(fItem.source, "WAV",
                         [&] { fWav.ReadFrames(firstFrame, memory.input.Data(), bytes); });
  }

  // Read through: a file cut short is damaged, its warning line having said why.
  void Finish() override {
    fWav.Close();
    if (fCutShort) throw TSourceRefused({});
  }

 private:
  TWavReader fWav;
  size_t fFrameBytes = 0;
  size_t fRunFrames = 0;
};

}  // namespace

std::unique_ptr<TConversion> CheckSource(const TWorkItem& item, const TRunOptions& options) {
  if (item.direction == TConvertDirection::kWavToNcw) {
    return std::make_unique<TWavSourceCheck>(item, options);
  }
  return std::make_unique<TNcwSourceCheck>(item, options);
}

}  // namespace tarvix
