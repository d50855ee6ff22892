#include "jobs/FileMode.h"

#include <memory>

#include "platform/Errors.h"
#include "platform/FileNames.h"
#include "platform/FileSystem.h"
#include "platform/TempFileCleanup.h"

namespace tarvix {

bool PairFileParameters(const std::vector<std::string>& parameters, TConvertDirection direction,
                        std::vector<TWorkItem>& items, TRunStatus& status) {
  const bool wavToNcw = direction == TConvertDirection::kWavToNcw;
  const std::string sourceExtension = wavToNcw ? ".wav" : ".ncw";
  const std::string outputExtension = wavToNcw ? ".ncw" : ".wav";
  auto derived = [&](const std::string& source) { return ChangeFileExt(source, outputExtension); };

  items.clear();
  bool awaitingOutput = false;
  for (const std::string& parameter : parameters) {
    const std::string extension = LowerCaseAscii(ExtractFileExt(parameter));
    if (items.empty()) {
      items.push_back({parameter, {}, direction});
      awaitingOutput = true;
    } else if (awaitingOutput && (extension == outputExtension || parameter == kPipeName)) {
      items.back().output = parameter;
      awaitingOutput = false;
    } else if (awaitingOutput) {
      items.back().output = derived(items.back().source);
      items.push_back({parameter, {}, direction});
    } else if (extension == sourceExtension) {
      items.push_back({parameter, {}, direction});
      awaitingOutput = true;
    } else {
      status.WriteLine("ERROR: file '" + parameter + "' is expected to be '" + sourceExtension +
                       "' file");
      return false;
    }
  }
  if (awaitingOutput) items.back().output = derived(items.back().source);
  return true;
}

TRunOutcome RunFileMode(TRunContext& context) {
  std::vector<TWorkItem> items;
  if (!PairFileParameters(context.options.parameters, context.options.direction, items,
                          context.status)) {
    return TRunOutcome::kRefused;
  }
  // Standard input is read once, in order, into a file of its own: the WAV reader finds the
  // sizes of a stream whose writer could not fill them in only at its end, and the NCW reader
  // needs the block table before the blocks. The spool goes with the run, whatever ends it.
  std::unique_ptr<TTempFile> spool;
  if (items.size() == 1 && items[0].source == kPipeName) {
    spool = std::make_unique<TTempFile>(TempFolder(), std::string(kPipeName));
    if (!spool->Created()) {
      const TSystemResult made = spool->Creation();
      throw TError("Can't create temporary file", TempFolder(), made.Reason(),
                   made.Fault(TFault::kResource));
    }
    spool->FillFrom(StandardInput(), std::string(kPipeName));
    items[0].readFrom = spool->ReadableName();
  }
  return ConvertWorkList(items, context);
}

}  // namespace tarvix
