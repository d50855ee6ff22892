#include "batch/DirectoryMode.h"

#include "batch/FileSearch.h"
#include "frontend/Console.h"
#include "jobs/ConvertJobs.h"
#include "platform/FileNames.h"

namespace tarvix {

TRunOutcome RunDirectoryMode(TRunContext& context) {
  const TRunOptions& options = context.options;
  TConsole& console = context.console;
  const bool wavToNcw = options.direction == TConvertDirection::kWavToNcw;
  const char* mask = wavToNcw ? "*.wav" : "*.ncw";
  const char* outputExtension = wavToNcw ? ".ncw" : ".wav";

  TFileSearch search;
  search.fRecursive = options.recursive;
  console.SaveStatusPosition();
  search.InitSearch(options.sourceDirectory + mask);
  bool allConverted = true;
  while (search.GetNextFile()) {
    const std::string found = search.fFoundFile;
    console.RestoreStatusPosition();
    console.ClearStatusLine(true);
    console.WriteProgressText(found + "...");
    // Every found path starts with the source directory; what follows it is mirrored below
    // the destination.
    std::string relative = found.substr(options.sourceDirectory.size());
    std::string output = ChangeFileExt(options.destinationDirectory + relative, outputExtension);
    if (!ConvertFile(options.direction, found, output, context)) {
      console.SaveStatusPosition();
      allConverted = false;
    }
  }
  // The last progress text stays on its line.
  return allConverted ? TRunOutcome::kAllConverted : TRunOutcome::kSomeFailed;
}

}  // namespace tarvix
