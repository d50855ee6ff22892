#include "batch/ListMode.h"

#include <algorithm>

#include "platform/FileNames.h"
#include "platform/FileSystem.h"

namespace tarvix {

namespace {

constexpr std::string_view kNameListMagic = "@tarvixlist1";
constexpr std::string_view kPairListMagic = "@tarvixlist2";

bool Refuse(TRunStatus& status, const std::string& message) {
  status.WriteLine(message);
  return false;
}

// Lines trimmed of blanks and control characters at both ends; empty ones dropped.
std::vector<std::string> SignificantLines(const std::vector<std::string>& lines) {
  std::vector<std::string> significant;
  for (const std::string& line : lines) {
    std::string_view trimmed = TrimControlAndBlanks(line);
    if (!trimmed.empty()) significant.emplace_back(trimmed);
  }
  return significant;
}

bool IsWav(const std::string& name) {
  return LowerCaseAscii(ExtractFileExt(name)) == ".wav";
}

bool HasConvertibleExtension(const std::string& name) {
  std::string extension = LowerCaseAscii(ExtractFileExt(name));
  return extension == ".wav" || extension == ".ncw";
}

TWorkItem ItemFor(const std::string& source, const std::string& output) {
  return {source, output,
          IsWav(source) ? TConvertDirection::kWavToNcw : TConvertDirection::kNcwToWav};
}

std::string OutputExtensionFor(const std::string& source) {
  return IsWav(source) ? ".ncw" : ".wav";
}

}  // namespace

bool BuildListWorkItems(const std::vector<std::string>& lines, std::vector<TWorkItem>& items,
                        TRunStatus& status) {
  items.clear();
  const std::vector<std::string> significant = SignificantLines(lines);
  if (significant.empty()) {
    return Refuse(status, "ERROR: List file must include at least two lines");
  }
  const std::string& magic = significant.front();
  if (magic != kNameListMagic && magic != kPairListMagic) {
    return Refuse(status,
                  "ERROR: List file must start with '@tarvixlist1' or '@tarvixlist2' "
                  "(see tarvix -h)");
  }
  if (significant.size() == 1) {
    return Refuse(status, "ERROR: List file must include at least one file name");
  }
  const std::vector<std::string> names(significant.begin() + 1, significant.end());
  auto wrong = std::find_if_not(names.begin(), names.end(), HasConvertibleExtension);
  if (wrong != names.end()) {
    return Refuse(status, "ERROR: '" + *wrong + "' - filename must have 'wav' or 'ncw' extension");
  }
  if (magic == kNameListMagic) {
    for (const std::string& name : names) {
      items.push_back(ItemFor(name, ChangeFileExt(name, OutputExtensionFor(name))));
    }
    return true;
  }
  if (names.size() % 2 != 0) {
    return Refuse(status,
                  "ERROR: file list in '@tarvixlist2' format must have even number of file names");
  }
  for (size_t i = 0; i < names.size(); i += 2) {
    const std::string& source = names[i];
    const std::string& output = names[i + 1];
    const std::string expected = OutputExtensionFor(source);
    // The output's extension counts as written: ".NCW" is not ".ncw" here.
    if (ExtractFileExt(output) != expected) {
      return Refuse(status, "ERROR: '" + output + "' entry must have '" + expected + "' extension");
    }
    items.push_back(ItemFor(source, output));
  }
  return true;
}

TRunOutcome RunListMode(TRunContext& context) {
  std::vector<TWorkItem> items;
  if (!BuildListWorkItems(ReadTextFileLines(context.options.parameters.front()), items,
                          context.status)) {
    return TRunOutcome::kRefused;
  }
  return ConvertWorkList(items, context);
}

}  // namespace tarvix
