#include "jobs/Conversion.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "platform/Errors.h"
#include "wav/WavNote.h"

namespace tarvix {

namespace {

// A source's first bytes are read at once: room for its header and a first run, so that a small
// file is read by one call.
constexpr size_t kHeadBytes = kRunPcmBytes + 64 * 1024;

// A thread keeps the buffers of ordinary runs from file to file; larger ones go after their run.
constexpr size_t kKeptWorkerBytes = 8 * kRunPcmBytes;

}  // namespace

const size_t kOpeningMemoryBytes = kHeadBytes;

namespace {

uint64_t RunsOf(uint64_t units, uint64_t perRun) {
  return (units + perRun - 1) / perRun;
}

// Runs `step`, which reads an output back: what the reader raises about the bytes it found is
// a mismatch; what the file layer raises (a failing disk, a lack of descriptors) keeps its way.
template <class Step>
void ReadingBack(Step&& step) {
  try {
    step();
  } catch (const TFileError&) {
    throw;
  } catch (const TError& error) {
    throw TOutputMismatch{error.Message()};
  }
}

// A fingerprint of bytes for comparing a run read back with the run as it was written: four
// independent multiply chains keep it far faster than the write it checks.
uint64_t Fingerprint(const uint8_t* bytes, size_t count) {
  constexpr uint64_t kOdd = 0x9E3779B97F4A7C15ull;
  uint64_t lanes[4] = {count, kOdd, ~count, kOdd >> 1};
  size_t i = 0;
  for (; i + 32 <= count; i += 32) {
    for (int lane = 0; lane < 4; ++lane) {
      uint64_t word;
      std::memcpy(&word, bytes + i + 8 * lane, 8);
      lanes[lane] = (lanes[lane] ^ word) * kOdd;
      lanes[lane] ^= lanes[lane] >> 29;
    }
  }
  uint64_t tail = 0;
  for (; i < count; ++i) tail = (tail << 8 | bytes[i]) * kOdd;
  uint64_t result = tail;
  for (uint64_t lane : lanes) result = (result ^ lane) * kOdd + (result >> 31);
  return result;
}

// Compares what was read back with what should be there.
void CompareRun(const uint8_t* back, const uint8_t* expected, size_t bytes, uint64_t firstFrame,
                size_t frameBytes) {
  if (std::memcmp(back, expected, bytes) == 0) return;
  size_t at = 0;
  while (back[at] == expected[at]) ++at;
  throw TOutputMismatch{"frame " + std::to_string(firstFrame + at / frameBytes) + " differs"};
}

bool UsesExtendedHeader(TWavHeaderKind kind, const TNcwHeader& header) {
  switch (kind) {
    case TWavHeaderKind::kStandard:
      return false;
    case TWavHeaderKind::kExtended:
      return true;
    case TWavHeaderKind::kAuto:
      break;
  }
  // 44100 itself still gets the standard header.
  return header.Channels > 2 || header.BitsPerSample > 16 || header.SampleRate > 44100;
}

// ---- WAV to NCW ----

// The NCW writer places the runs' blocks in order while runs are coded side by side.
class TWavToNcwConversion final : public TConversion {
 public:
  using TConversion::TConversion;

  void Open(TWorkerMemory& memory) override {
    memory.head.Reserve(kHeadBytes);
    RefusingSourceFaults(fItem.source, "WAV", [&] {
      fWav.Open(fItem.SourcePath(), {memory.head.Data(), memory.head.Capacity()});
    });
    const TStreamDescription stream = fWav.StreamDescription();
    if (!IsNcwSampleWidth(stream.wBitsPerSample)) {
      RefuseSource(fItem.source, "WAV", "Unsupported container size (8,16,24 and 32 bits allowed)");
    }
    const std::string note = WavNoteLine(fItem.source, fWav.Extras());
    if (!note.empty()) fNotes.push_back(note);
    fCutShort = fWav.CutShort();
    if (fCutShort) fNotes.push_back(CutShortLine(fItem.source, fWav));
    fHead = fWav.Head();
    fWav.ForgetHead();  // the head's memory is this thread's; other threads read the file
    fFrameBytes = fWav.FrameBytes();
    fTemp = MakeTempFileName(fItem.output);
    fNcw = std::make_unique<TNcwWriter>(
        TNcwStream{stream.nChannels, stream.wBitsPerSample, stream.nSamplesPerSec,
                   stream.fFrameCount, fOptions.checksums},
        BlocksPerRun(fFrameBytes, kRunPcmBytes), fTemp->Sink());
    fRuns = fNcw->RunCount();
    fRunMemoryBytes = fNcw->RunFrames() * fFrameBytes + fNcw->RunMemoryBytes();
    if (fOptions.verify) fSourceFingerprints.assign(fRuns, 0);
  }

  void ConvertRun(size_t k, TWorkerMemory& memory) override {
    const uint8_t* pcm = ReadSamples(k, memory);
    if (fOptions.verify)
      fSourceFingerprints[k] = Fingerprint(pcm, fNcw->FramesOfRun(k) * fFrameBytes);
    fNcw->WriteRun(k, pcm, memory.encode);
  }

  size_t RunsPlaced() const override { return fNcw->RunsPlaced(); }
  size_t ParkedBytes() const override { return fNcw ? fNcw->ParkedBytes() : 0; }

  void Abandon() override {
    if (fNcw) fNcw->Abandon();
  }

  void Finish() override {
    ForgetHead();
    fNcw->Finish();
    fTemp->Close();
    if (!fOptions.verify) fWav.Close();  // else read again to compare
  }

  size_t BeginVerify() override {
    fBack = std::make_unique<TNcwReader>();
    ReadingBack([&] { fBack->OpenSource(fTemp->OpenForReading(), fItem.output); });
    const TNcwHeader& written = fNcw->Header();
    const TNcwHeader& read = fBack->Header;
    if (read.Channels != written.Channels || read.BitsPerSample != written.BitsPerSample ||
        read.SampleRate != written.SampleRate || read.NumSamples != written.NumSamples ||
        fBack->DecodedFrames() != written.NumSamples) {
      throw TOutputMismatch{"header"};
    }
    return fRuns;
  }

  void VerifyRun(size_t k, TWorkerMemory& memory) override {
    const size_t frames = fNcw->FramesOfRun(k);
    const size_t blocks = (frames + kFramesPerBlock - 1) / kFramesPerBlock;
    memory.output.Reserve(blocks * kFramesPerBlock * fFrameBytes);
    ReadingBack([&] {
      fBack->DecodeBlocks(k * fNcw->RunFrames() / kFramesPerBlock, blocks, {}, memory.decode,
                          memory.output.Data());
    });
    // The decoded run must give the fingerprint its source samples had, so the source is not
    // read a second time; only a mismatch reads it again, to name the first frame that differs.
    const size_t bytes = frames * fFrameBytes;
    if (Fingerprint(memory.output.Data(), bytes) == fSourceFingerprints[k]) return;
    CompareRun(memory.output.Data(), ReadSamples(k, memory), bytes, uint64_t{k} * fNcw->RunFrames(),
               fFrameBytes);
    throw TOutputMismatch{"run " + std::to_string(k) + " differs"};
  }

 private:
  // The samples of run k: from the head where run 0 lies wholly in it, else read.
  const uint8_t* ReadSamples(size_t k, TWorkerMemory& memory) {
    const uint64_t firstFrame = uint64_t{k} * fNcw->RunFrames();
    const uint64_t position = fWav.DataOffset() + firstFrame * fFrameBytes;
    const size_t bytes = fNcw->FramesOfRun(k) * fFrameBytes;
    if (k == 0 && position + bytes <= fHead.size()) return fHead.data() + position;
    memory.input.Reserve(bytes);
    RefusingSourceFaults(fItem.source, "WAV",
                         [&] { fWav.ReadFrames(firstFrame, memory.input.Data(), bytes); });
    return memory.input.Data();
  }

  TWavReader fWav;
  std::unique_ptr<TNcwWriter> fNcw;   // made once the temporary file exists
  std::unique_ptr<TNcwReader> fBack;  // the output read back (-verify)
  size_t fFrameBytes = 0;
  // -verify: each run's source samples' fingerprint. Element k is written by the thread that
  // converts run k and read by the one that verifies it, after Finish: no lock needed.
  std::vector<uint64_t> fSourceFingerprints;
};

// ---- NCW to WAV ----

// Every run's place in the WAV file follows from its number, so runs are written as soon as
// they are decoded; the header goes in front of run 0.
class TNcwToWavConversion final : public TConversion {
 public:
  using TConversion::TConversion;

  void Open(TWorkerMemory& memory) override {
    memory.head.Reserve(kHeadBytes);
    RefusingSourceFaults(fItem.source, "NCW", [&] {
      fNcw.Open(fItem.SourcePath(), {memory.head.Data(), memory.head.Capacity()});
    });
    const TNcwHeader& header = fNcw.Header;
    // Refused before any output exists.
    if (!IsNcwSampleWidth(header.BitsPerSample))
      RefuseSource(fItem.source, "NCW", "Unsupported BitsPerSample");
    fHead = fNcw.Head();
    fNcw.ForgetHead();  // the head's memory is this thread's; other threads read the file
    fFrameBytes = fNcw.FrameBytes();
    fRunBlocks = BlocksPerRun(fFrameBytes, kRunPcmBytes);
    fBlocks = fNcw.BlocksToDecode();
    fRuns = RunsOf(fBlocks, fRunBlocks);
    if (fOptions.verify) fWrittenFingerprints.assign(fRuns, 0);
    fTemp = MakeTempFileName(fItem.output);
    fWav = std::make_unique<TWavWriter>(
        TWavFormat{header.Channels, header.SampleRate, header.BitsPerSample, header.NumSamples,
                   UsesExtendedHeader(fOptions.wavHeaderKind, header)},
        fTemp->Sink());
    // The decoded run and its header, the run's blocks as stored, and one block read apart or
    // unpacked channel by channel.
    const size_t runPcm = fRunBlocks * kFramesPerBlock * fFrameBytes;
    const size_t blockBytes =
        static_cast<size_t>(MaxBlockBytes(header.Channels, header.BitsPerSample));
    fRunMemoryBytes = fWav->HeaderBytes() + runPcm + fRunBlocks * blockBytes + 2 * blockBytes;
  }

  void ConvertRun(size_t k, TWorkerMemory& memory) override {
    const size_t first = k * fRunBlocks;
    const size_t count = std::min(fRunBlocks, fBlocks - first);
    const uint64_t firstFrame = uint64_t{first} * kFramesPerBlock;
    const size_t frames = FramesOfRun(k);
    const size_t prefix = fWav->PrefixBytes(firstFrame);
    memory.output.Reserve(prefix + count * kFramesPerBlock * fFrameBytes);
    uint8_t* out = memory.output.Data();
    RefusingSourceFaults(fItem.source, "NCW", [&] {
      fNcw.DecodeBlocks(first, count, k == 0 ? fHead : std::span<const uint8_t>(), memory.decode,
                        out + prefix);
    });
    // Taken while the frames are in the cache; each run's slot is written by its thread only.
    if (fOptions.verify) fWrittenFingerprints[k] = Fingerprint(out + prefix, frames * fFrameBytes);
    fWav->WriteRun(firstFrame, out, frames);
  }

  void Finish() override {
    ForgetHead();
    fWav->Finish(fNcw.DecodedFrames());
    fTemp->Close();
    fNcw.Close();
  }

  // The decoded runs, then the frames no block covers (zeros) as one more. The header read
  // back must be the writer's, byte for byte: a reader's checks would refuse headers the
  // writer rightly makes (more channels than a source may have, a byte rate that wraps).
  size_t BeginVerify() override {
    fBack = fTemp->OpenForReading();
    const size_t headerBytes = fWav->HeaderBytes();
    std::array<uint8_t, kMaxWavHeaderBytes> header{};
    if (fBack->ReadAt(0, header.data(), headerBytes) != headerBytes ||
        std::memcmp(header.data(), fWav->HeaderImage(), headerBytes) != 0) {
      throw TOutputMismatch{"header"};
    }
    if (fBack->Size() != fWav->FileBytes()) {
      throw TOutputMismatch{"cut short"};
    }
    return fRuns + (fNcw.DecodedFrames() < fNcw.Header.NumSamples ? 1 : 0);
  }

  // Each run read back must give the fingerprint its decoded frames had when they were
  // written: decoding the source once more would cost as much as the conversion itself.
  void VerifyRun(size_t k, TWorkerMemory& memory) override {
    if (k == fRuns) return VerifyZeroTail(memory);
    const uint64_t firstFrame = uint64_t{k} * fRunBlocks * kFramesPerBlock;
    const size_t frames = FramesOfRun(k);
    const uint8_t* back = ReadBack(firstFrame, frames * fFrameBytes, memory);
    if (Fingerprint(back, frames * fFrameBytes) != fWrittenFingerprints[k]) {
      throw TOutputMismatch{"frames " + std::to_string(firstFrame) + " to " +
                            std::to_string(firstFrame + frames - 1) + " differ"};
    }
  }

 private:
  size_t FramesOfRun(size_t k) const {
    const uint64_t firstFrame = uint64_t{k} * fRunBlocks * kFramesPerBlock;
    const size_t count = std::min(fRunBlocks, fBlocks - k * fRunBlocks);
    return static_cast<size_t>(
        std::min<uint64_t>(count * kFramesPerBlock, fNcw.DecodedFrames() - firstFrame));
  }

  const uint8_t* ReadBack(uint64_t firstFrame, size_t bytes, TWorkerMemory& memory) {
    memory.input.Reserve(bytes);
    const uint64_t position = fWav->HeaderBytes() + firstFrame * fFrameBytes;
    if (fBack->ReadAt(position, memory.input.Data(), bytes) != bytes) {
      throw TOutputMismatch{"cut short"};
    }
    return memory.input.Data();
  }

  void VerifyZeroTail(TWorkerMemory& memory) {
    const uint64_t end = fNcw.Header.NumSamples;
    const size_t runFrames = fRunBlocks * kFramesPerBlock;
    memory.output.Reserve(runFrames * fFrameBytes);
    std::memset(memory.output.Data(), 0, runFrames * fFrameBytes);
    for (uint64_t frame = fNcw.DecodedFrames(); frame < end; frame += runFrames) {
      const size_t bytes =
          static_cast<size_t>(std::min<uint64_t>(runFrames, end - frame)) * fFrameBytes;
      CompareRun(ReadBack(frame, bytes, memory), memory.output.Data(), bytes, frame, fFrameBytes);
    }
  }

  TNcwReader fNcw;
  std::unique_ptr<TWavWriter> fWav;            // made once the temporary file exists
  std::unique_ptr<TFileSource> fBack;          // the output read back (-verify)
  std::vector<uint64_t> fWrittenFingerprints;  // -verify: each run's, as it was written
  size_t fFrameBytes = 0;
  size_t fRunBlocks = 0;
  size_t fBlocks = 0;
};

}  // namespace

size_t TWorkerMemory::HeldBytes() const {
  return head.Capacity() + input.Capacity() + output.Capacity() + encode.encoded.Capacity() +
         decode.blocks.Capacity() + decode.block.Capacity() + decode.area.Capacity();
}

void TWorkerMemory::ReleaseIfLarge() {
  if (HeldBytes() > kKeptWorkerBytes) ReleaseAll();
}

void TWorkerMemory::ReleaseAll() {
  head.Release();
  input.Release();
  output.Release();
  encode.encoded.Release();
  decode.blocks.Release();
  decode.block.Release();
  decode.area.Release();
}

std::unique_ptr<TConversion> ConvertWavToNcw(const TWorkItem& item, const TRunOptions& options) {
  return std::make_unique<TWavToNcwConversion>(item, options);
}

std::unique_ptr<TConversion> ConvertNcwToWav(const TWorkItem& item, const TRunOptions& options) {
  return std::make_unique<TNcwToWavConversion>(item, options);
}

// A damaged NCW file is refused like a damaged WAV file, and so is one that cannot be opened or
// read (no permission, a failing disk, a folder by that name): the reason is named. Only a
// resource that ran short keeps its own way, to be retried.
void RefuseSource(const std::string& source, const char* format, const std::string& reason) {
  const std::string parser = std::string(format) + "PARSER";
  throw TSourceRefused{{"  ERROR: " + source + " is not a correct " + format + " file",
                        "  " + parser + ": " + reason}};
}

void RefuseSourceFault(const std::string& source, const char* format, const TError& error) {
  if (error.Fault() != TFault::kSource) throw;
  RefuseSource(
      source, format,
      error.Reason().empty() ? error.Message() : error.Message() + " (" + error.Reason() + ")");
}

std::string CutShortLine(const std::string& source, const TWavReader& wav) {
  return "  WARNING: '" + source + "' is cut short: " + std::to_string(wav.FrameCount()) + " of " +
         std::to_string(wav.DeclaredFrames()) + " frames are there";
}

std::unique_ptr<TConversion> MakeConversion(const TWorkItem& item, const TRunOptions& options) {
  if (options.test) return CheckSource(item, options);
  return item.direction == TConvertDirection::kWavToNcw ? ConvertWavToNcw(item, options)
                                                        : ConvertNcwToWav(item, options);
}

}  // namespace tarvix
