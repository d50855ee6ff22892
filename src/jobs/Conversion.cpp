#include "jobs/Conversion.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "bits/LittleEndian.h"
#include "bits/SampleContainers.h"
#include "platform/Errors.h"

namespace tarvix {

namespace {

// A source's first bytes are read at once: room for its header and a first run, so that a small
// file is read by one call.
constexpr size_t kHeadBytes = kRunPcmBytes + 64 * 1024;

// A thread keeps the buffers of ordinary runs from file to file; larger ones go after their run.
constexpr size_t kKeptWorkerBytes = 8 * kRunPcmBytes;

uint64_t RunsOf(uint64_t units, uint64_t perRun) {
  return (units + perRun - 1) / perRun;
}

[[noreturn]] void RefuseNcw(const std::string& source, const std::string& reason) {
  throw TSourceRefused{
      {"  ERROR: " + source + " is not a correct NCW file", "  NCWPARSER: " + reason}};
}

// A damaged NCW file is refused like a damaged WAV file; what the file layer raises (a source
// that cannot be opened, a failing disk) keeps its own way.
template <class Step>
void RefusingDamage(const std::string& source, Step step) {
  try {
    step();
  } catch (const TFileError&) {
    throw;
  } catch (const TError& error) {
    if (error.Fault() != TFault::kSource) throw;
    RefuseNcw(source, error.Message());
  }
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

// The NCW file's blocks go out in order while runs are coded side by side: a run knows where
// its blocks land only once the runs before it have been coded, so each run takes its place
// in turn, and the header and the end of the block table are written last.
class TWavToNcwConversion final : public TConversion {
 public:
  using TConversion::TConversion;

  void Open(TWorkerMemory& memory) override {
    memory.head.Reserve(kHeadBytes);
    fWav.OpenFile(fItem.source, {memory.head.Data(), memory.head.Capacity()});
    const TFault openFault = FaultOfErrorNumber(fWav.fOpenErrorNumber, TFault::kSource);
    if (openFault == TFault::kResource) {
      throw TError("Can't open file", fItem.source, SystemReason(fWav.fOpenErrorNumber), openFault);
    }
    // A failed open makes the parse fail with "File not opened".
    if (!fWav.ParseHeader()) Refuse(fWav.fErrorText);
    const TStreamDescription stream = fWav.StreamDescription();
    if (!IsContainerWidth(stream.wBitsPerSample)) {
      Refuse("Unsupported container size (8,16,24 and 32 bits allowed)");
    }
    fHead = fWav.fFile->Head();
    fWav.fFile->ForgetHead();  // the head's memory is this thread's; other threads read the file
    fNcw.BeginEncode(stream);
    fFrameBytes = fWav.fHeader.nBlockAlign;
    fFrames = stream.fFrameCount;
    fRunFrames = BlocksPerRun(fFrameBytes, kRunPcmBytes) * kFramesPerBlock;
    fRuns = RunsOf(fFrames, fRunFrames);
    // The run's samples, and its blocks behind the header and table (one run) or behind the
    // run's share of the table.
    const size_t prefix = fRuns == 1 ? fNcw.Header.DataOffset : 4 * fRunFrames / kFramesPerBlock;
    fRunMemoryBytes = fRunFrames * fFrameBytes + prefix +
                      static_cast<size_t>(fNcw.MaxEncodedBytes(fRunFrames));
    fTemp = MakeTempFileName(fItem.output);
  }

  void ConvertRun(size_t k, TWorkerMemory& memory) override {
    const uint64_t firstFrame = uint64_t{k} * fRunFrames;
    const size_t frames = static_cast<size_t>(std::min<uint64_t>(fRunFrames, fFrames - firstFrame));
    const size_t blocks = (frames + kFramesPerBlock - 1) / kFramesPerBlock;
    const uint8_t* pcm = ReadSamples(k, firstFrame, frames, memory);
    // A file of one run is written whole in one piece; otherwise the run's part of the block
    // table goes in front of its blocks in memory.
    const bool whole = fRuns == 1;
    const size_t prefix = whole ? fNcw.Header.DataOffset : 4 * blocks;
    memory.output.Reserve(prefix + static_cast<size_t>(fNcw.MaxEncodedBytes(frames)));
    memory.blockBytes.resize(blocks);
    uint8_t* out = memory.output.Data();
    const size_t bytes = fNcw.EncodeBlocks(pcm, frames, out + prefix, memory.blockBytes.data());
    const uint64_t offset = TakePlace(k, bytes);

    uint8_t* entries = whole ? out + kNcwHeaderBytes : out;
    uint64_t position = offset;
    for (size_t b = 0; b < blocks; ++b) {
      StoreLE(entries + 4 * b, static_cast<int32_t>(position));
      position += memory.blockBytes[b];
    }
    TFileSink& sink = fTemp->Sink();
    if (whole) {
      StoreLE(entries + 4 * blocks, static_cast<int32_t>(position));  // where the blocks end
      fNcw.Header.DataSize = static_cast<uint32_t>(bytes);
      std::memcpy(out, fNcw.Header.Image().data(), kNcwHeaderBytes);
      sink.WriteAt(0, out, prefix + bytes);
    } else {
      const uint64_t firstBlock = firstFrame / kFramesPerBlock;
      sink.WriteAt(kNcwHeaderBytes + 4 * firstBlock, out, prefix);
      sink.WriteAt(fNcw.Header.DataOffset + offset, out + prefix, bytes);
    }
  }

  void Abandon() override {
    std::lock_guard lock(fMutex);
    fAbandoned = true;
    fTurn.notify_all();
  }

  void Finish() override {
    if (fRuns != 1) {
      // The header, which now knows the data's size, and the block table's end entry.
      fNcw.Header.DataSize = static_cast<uint32_t>(fDataBytes);
      std::array<uint8_t, kNcwHeaderBytes + 4> tail;
      std::memcpy(tail.data(), fNcw.Header.Image().data(), kNcwHeaderBytes);
      StoreLE(tail.data() + kNcwHeaderBytes, static_cast<int32_t>(fDataBytes));
      const uint64_t endEntry = fNcw.Header.DataOffset - 4;
      TFileSink& sink = fTemp->Sink();
      if (endEntry == kNcwHeaderBytes) {
        sink.WriteAt(0, tail.data(), tail.size());  // no frames: the table is that entry alone
      } else {
        sink.WriteAt(0, tail.data(), kNcwHeaderBytes);
        sink.WriteAt(endEntry, tail.data() + kNcwHeaderBytes, 4);
      }
    }
    fTemp->Close();
    fWav.CloseFile();
  }

 private:
  [[noreturn]] void Refuse(const std::string& reason) {
    throw TSourceRefused{
        {"  ERROR: " + fItem.source + " is not a correct WAV file", "  WAVPARSER: " + reason}};
  }

  // The samples of one run: from the head where run 0 lies wholly in it, else read.
  const uint8_t* ReadSamples(size_t k, uint64_t firstFrame, size_t frames, TWorkerMemory& memory) {
    const uint64_t position = fWav.fDataOffset + firstFrame * fFrameBytes;
    const size_t bytes = frames * fFrameBytes;
    if (k == 0 && position + bytes <= fHead.size()) return fHead.data() + position;
    memory.input.Reserve(bytes);
    // Several runs of the file are read at once: their errors are worded here, not in the
    // reader, whose error fields one thread at a time may set.
    size_t got = 0;
    try {
      got = fWav.fStream->ReadAt(position, memory.input.Data(), bytes);
    } catch (const TFileError& error) {
      if (error.Fault() == TFault::kResource) throw;
      Refuse(TWavParser::ErrorText("Error while reading the file", error.Reason()));
    }
    // The reader counted only frames the file held; fewer now means it was cut meanwhile.
    if (got != bytes) {
      Refuse(TWavParser::ErrorText("Error while reading the file", "cut short while it was read"));
    }
    return memory.input.Data();
  }

  // Waits until the runs before run k have taken their places and returns where its `bytes`
  // of blocks start, counted from the first block.
  uint64_t TakePlace(size_t k, size_t bytes) {
    std::unique_lock lock(fMutex);
    fTurn.wait(lock, [&] { return fNextRun == k || fAbandoned; });
    if (fAbandoned) throw TRunAbandoned{};
    try {
      fNcw.CheckEncodedSize(fDataBytes + bytes);
    } catch (...) {
      fAbandoned = true;  // the runs after this one wait for a place that never comes
      fTurn.notify_all();
      throw;
    }
    const uint64_t offset = fDataBytes;
    fDataBytes += bytes;
    ++fNextRun;
    fTurn.notify_all();
    return offset;
  }

  TWavParser fWav;
  TNCWParser fNcw;
  size_t fFrameBytes = 0;
  uint64_t fFrames = 0;
  size_t fRunFrames = 0;
  std::mutex fMutex;  // guards the three below
  std::condition_variable fTurn;
  size_t fNextRun = 0;      // the run whose blocks come next in the file
  uint64_t fDataBytes = 0;  // bytes of the blocks placed so far
  bool fAbandoned = false;
};

// ---- NCW to WAV ----

// Every run's place in the WAV file follows from its number, so runs are written as soon as
// they are decoded; the header goes in front of run 0.
class TNcwToWavConversion final : public TConversion {
 public:
  using TConversion::TConversion;

  void Open(TWorkerMemory& memory) override {
    memory.head.Reserve(kHeadBytes);
    RefusingDamage(fItem.source, [&] {
      fNcw.Open(fItem.source, {memory.head.Data(), memory.head.Capacity()});
    });
    const TNcwHeader& header = fNcw.Header;
    // Refused before any output exists.
    if (!IsContainerWidth(header.BitsPerSample)) RefuseNcw(fItem.source, "Unsupported BitsPerSample");
    TWavParser wav;
    fNcw.DescribeWav(wav, UsesExtendedHeader(fOptions.wavHeaderKind, header) ? kWaveFormatExtensible
                                                                             : kWaveFormatPcm);
    fHeaderBytes = wav.BuildHeader(fWavHeader.data());
    fDataBytes = wav.fDataSize;
    fHead = fNcw.Head();
    fNcw.ForgetHead();  // the head's memory is this thread's; other threads read the file
    fFrameBytes = fNcw.FrameBytes();
    fRunBlocks = BlocksPerRun(fFrameBytes, kRunPcmBytes);
    fBlocks = fNcw.BlocksToDecode();
    fRuns = RunsOf(fBlocks, fRunBlocks);
    // The decoded run and its header, the run's blocks as stored, and one block read apart or
    // unpacked channel by channel.
    const size_t runPcm = fRunBlocks * kFramesPerBlock * fFrameBytes;
    const size_t blockBytes =
        static_cast<size_t>(MaxBlockBytes(header.Channels, header.BitsPerSample));
    fRunMemoryBytes = fHeaderBytes + runPcm + fRunBlocks * blockBytes + 2 * blockBytes;
    fTemp = MakeTempFileName(fItem.output);
  }

  void ConvertRun(size_t k, TWorkerMemory& memory) override {
    const size_t first = k * fRunBlocks;
    const size_t count = std::min(fRunBlocks, fBlocks - first);
    const uint64_t firstFrame = uint64_t{first} * kFramesPerBlock;
    const uint64_t frames =
        std::min<uint64_t>(count * kFramesPerBlock, fNcw.DecodedFrames() - firstFrame);
    const size_t prefix = k == 0 ? fHeaderBytes : 0;
    memory.output.Reserve(prefix + count * kFramesPerBlock * fFrameBytes);
    uint8_t* out = memory.output.Data();
    std::memcpy(out, fWavHeader.data(), prefix);
    RefusingDamage(fItem.source, [&] {
      fNcw.DecodeBlocks(first, count, k == 0 ? fHead : std::span<const uint8_t>(), memory.decode,
                        out + prefix);
    });
    const uint64_t position = k == 0 ? 0 : fHeaderBytes + firstFrame * fFrameBytes;
    fTemp->Sink().WriteAt(position, out, prefix + frames * fFrameBytes);
  }

  void Finish() override {
    TFileSink& sink = fTemp->Sink();
    if (fRuns == 0) sink.WriteAt(0, fWavHeader.data(), fHeaderBytes);
    // Frames that no block covers are zeros.
    if (fNcw.DecodedFrames() < fNcw.Header.NumSamples) sink.Resize(fHeaderBytes + fDataBytes);
    fTemp->Close();
    fNcw.Close();
  }

 private:
  TNCWParser fNcw;
  std::array<uint8_t, kMaxWavHeaderBytes> fWavHeader{};
  size_t fHeaderBytes = 0;
  uint64_t fDataBytes = 0;
  size_t fFrameBytes = 0;
  size_t fRunBlocks = 0;
  size_t fBlocks = 0;
};

}  // namespace

void TWorkerMemory::ReleaseIfLarge() {
  const size_t held = head.Capacity() + input.Capacity() + output.Capacity() +
                      decode.blocks.Capacity() + decode.block.Capacity() + decode.area.Capacity();
  if (held <= kKeptWorkerBytes) return;
  head.Release();
  input.Release();
  output.Release();
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

std::unique_ptr<TConversion> MakeConversion(const TWorkItem& item, const TRunOptions& options) {
  return item.direction == TConvertDirection::kWavToNcw ? ConvertWavToNcw(item, options)
                                                        : ConvertNcwToWav(item, options);
}

}  // namespace tarvix
