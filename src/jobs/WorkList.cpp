#include "jobs/WorkList.h"

#include "frontend/Console.h"
#include "jobs/ConvertJobs.h"
#include "platform/FileSystem.h"

namespace tarvix {

TRunOutcome ConvertWorkList(const std::vector<TWorkItem>& items, TRunContext& context) {
  TConsole& console = context.console;
  const std::string total = std::to_string(items.size());
  bool allConverted = true;
  console.SaveStatusPosition();
  for (size_t i = 0; i < items.size(); ++i) {
    const TWorkItem& item = items[i];
    console.RestoreStatusPosition();
    console.ClearStatusLine(true);
    std::string progress = "[";
    progress.append(std::to_string(i + 1)).append(" from ").append(total).append("]  ");
    progress.append(item.source).append("...");
    console.WriteProgressText(progress);
    if (!FileExists(item.source)) {
      console.EndProgressLine();
      console.WriteLine("  ERROR: '" + item.source + "' doesn't exist.  skipped");
      console.SaveStatusPosition();
      allConverted = false;
    } else if (!ConvertFile(item.direction, item.source, item.output, context)) {
      console.SaveStatusPosition();  // keeps the job's error lines above the next progress text
      allConverted = false;
    }
  }
  console.CloseStatusLine();
  return allConverted ? TRunOutcome::kAllConverted : TRunOutcome::kSomeFailed;
}

}  // namespace tarvix
