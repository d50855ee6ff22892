// The conversion of one file in either direction, in steps that the engine may spread over its
// threads: Open reads and checks the source and creates the temporary file in the output's
// folder; the runs (whole blocks of about a megabyte of samples each) are converted one by one
// or several at once; Finish completes the temporary file; Place gives it its final name.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "jobs/OutputNaming.h"
#include "jobs/RunContext.h"
#include "ncw/NcwReader.h"
#include "ncw/NcwWriter.h"
#include "platform/AlignedBuffer.h"
#include "platform/Errors.h"
#include "wav/WavReader.h"
#include "wav/WavWriter.h"

namespace tarvix {

struct TWorkItem {
  std::string source;
  std::string output;
  TConvertDirection direction;
  // Where the source's bytes are read; empty: `source` itself. Standard input ("-") is read
  // from its spool file.
  std::string readFrom = {};

  const std::string& SourcePath() const { return readFrom.empty() ? source : readFrom; }
};

// What opening an item takes of a thread's memory: its source's first bytes.
extern const size_t kOpeningMemoryBytes;

// The memory one thread converts with, reused from file to file and from run to run.
struct TWorkerMemory {
  TAlignedBuffer head;      // a source's first bytes, read when it is opened
  TAlignedBuffer input;     // one run of WAV samples
  TAlignedBuffer output;    // one run of decoded frames, behind room for the WAV header
  TNcwRunMemory encode;     // the NCW writer's own
  TNcwDecodeMemory decode;  // the NCW reader's own

  // Hands back what a run of unusually large blocks made it take, so that the memory a run
  // holds is what its runs in flight need, not what each thread ever needed.
  void ReleaseIfLarge();
  void ReleaseAll();
  // What the buffers hold now.
  size_t HeldBytes() const;
};

// A source that is not converted; the lines say why. The run goes on.
struct TSourceRefused : std::exception {
  explicit TSourceRefused(std::vector<std::string> why) : lines(std::move(why)) {}
  const char* what() const noexcept override { return "source refused"; }
  std::vector<std::string> lines;
};

// An output that did not read back as it was written (-verify); `detail` says where. It is not
// placed, and the run goes on.
struct TOutputMismatch : std::exception {
  explicit TOutputMismatch(std::string where) : detail(std::move(where)) {}
  const char* what() const noexcept override { return "output did not read back as written"; }
  std::string detail;
};

// (A run that gave up because another run of its file failed first raises TRunAbandoned.)

class TConversion {
 public:
  TConversion(const TWorkItem& item, const TRunOptions& options) : fItem(item), fOptions(options) {}
  virtual ~TConversion() = default;
  TConversion(const TConversion&) = delete;
  TConversion& operator=(const TConversion&) = delete;

  // Opens and checks the source and creates the temporary file. Raises TSourceRefused for a
  // source that is not converted and TError for an error that ends the run.
  virtual void Open(TWorkerMemory& memory) = 0;
  // The runs to convert; known after Open.
  size_t RunCount() const { return fRuns; }
  // The most memory one run takes in a thread's buffers; known after Open.
  size_t RunMemoryBytes() const { return fRunMemoryBytes; }
  // Converts run k. Run 0 may use the source's first bytes that Open read into the opening
  // thread's memory, and then comes right after Open on that thread, unless ForgetHead was
  // called: run 0 is then read from the source like any other.
  virtual void ConvertRun(size_t k, TWorkerMemory& memory) = 0;
  virtual void ForgetHead() { fHead = {}; }
  // The runs whose output is placed in the file: a run done before the runs ahead of it may
  // keep its output in memory until they are.
  virtual size_t RunsPlaced() const { return SIZE_MAX / 2; }
  // What runs done early hold while they wait to be written; any thread may ask.
  virtual size_t ParkedBytes() const { return 0; }
  // Makes later runs give up (TRunAbandoned) and drops what waits to be written; any thread
  // may call it.
  virtual void Abandon() {}
  // After the last run: the output is complete and its file closed.
  virtual void Finish() = 0;
  // With -verify, after Finish: opens the output anew to read it back, and returns the number
  // of runs it is compared with the source in.
  virtual size_t BeginVerify() = 0;
  // Reads run k of the output back and compares it with what the source gives; raises
  // TOutputMismatch. Several threads may verify different runs at once.
  virtual void VerifyRun(size_t k, TWorkerMemory& memory) = 0;
  // Gives the finished output its final name.
  TPlacement Place() {
    const TNameRule rule = fOptions.rewrite        ? TNameRule::kReplace
                           : fOptions.skipExisting ? TNameRule::kKeep
                                                   : TNameRule::kNumber;
    return PlaceOutput(*fTemp, fItem.output, rule);
  }

  const TWorkItem& Item() const { return fItem; }
  // Lines of information about the item found while it was converted (what the output does
  // not keep, say); shown at its turn right below its progress text, before its other lines.
  const std::vector<std::string>& Notes() const { return fNotes; }
  // A WAV source that declares more frames than it holds (its notes say so); known after Open.
  bool CutShort() const { return fCutShort; }
  // An NCW source read without checksums to check (-test); known after Open.
  bool WithoutChecksums() const { return fWithoutChecksums; }

 protected:
  TWorkItem fItem;
  const TRunOptions& fOptions;
  std::unique_ptr<TTempFile> fTemp;
  size_t fRuns = 0;
  size_t fRunMemoryBytes = 0;
  std::vector<std::string> fNotes;  // set by Open only
  bool fCutShort = false;           // set by Open only
  bool fWithoutChecksums = false;   // set by Open only
  std::span<const uint8_t> fHead;   // the source's first bytes, for run 0 on the opening thread
};

// The conversion jobs of the two directions, and the one of an item's direction.
std::unique_ptr<TConversion> ConvertWavToNcw(const TWorkItem& item, const TRunOptions& options);
std::unique_ptr<TConversion> ConvertNcwToWav(const TWorkItem& item, const TRunOptions& options);
std::unique_ptr<TConversion> MakeConversion(const TWorkItem& item, const TRunOptions& options);

// -test: the check of an item's source, which reads it through as its conversion would and
// writes nothing (jobs/SourceCheck.cpp).
std::unique_ptr<TConversion> CheckSource(const TWorkItem& item, const TRunOptions& options);

// Refuses `source`, a file of `format` ("WAV" or "NCW"), for `reason`: the two lines a refused
// source prints (TSourceRefused).
[[noreturn]] void RefuseSource(const std::string& source, const char* format,
                               const std::string& reason);

// Called in a handler of `error`, raised while `source`, a file of `format`, was read: the
// source is refused (TSourceRefused), unless the error is no fault of the source's, which goes
// on as it is.
[[noreturn]] void RefuseSourceFault(const std::string& source, const char* format,
                                    const TError& error);

// Runs `step`, which reads `source`, a file of `format`: what the reader raises about the file
// refuses it.
template <class Step>
void RefusingSourceFaults(const std::string& source, const char* format, Step&& step) {
  try {
    step();
  } catch (const TError& error) {
    RefuseSourceFault(source, format, error);
  }
}

// The line of a WAV source that holds fewer frames than it declares.
std::string CutShortLine(const std::string& source, const TWavReader& wav);

}  // namespace tarvix
