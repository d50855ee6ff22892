#include "jobs/FileMode.h"

#include "platform/FileNames.h"

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
    } else if (awaitingOutput && extension == outputExtension) {
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
  return ConvertWorkList(items, context);
}

}  // namespace tarvix
