// List files: splitting the text into lines and building the work list from them. A list that
// is accepted must name only convertible files, each with the direction of its extension and an
// output of the other extension.
#include <string>
#include <string_view>
#include <vector>

#include "FuzzSupport.h"
#include "batch/ListMode.h"
#include "frontend/Console.h"
#include "platform/FileNames.h"
#include "platform/FileSystem.h"

using namespace tarvix;

namespace {

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

std::string LowerExtension(const std::string& name) {
  return LowerCaseAscii(ExtractFileExt(name));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::vector<std::string> lines = SplitTextLines(text);
  for (const std::string& line : lines) {
    Check(line.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos);
  }

  TConsole console(fuzz::DevNullFd(), /*isTerminal=*/false, 80);
  std::vector<TWorkItem> items;
  if (!BuildListWorkItems(lines, items, console)) return 0;
  Check(!items.empty());
  for (const TWorkItem& item : items) {
    const std::string source = LowerExtension(item.source);
    const std::string output = LowerExtension(item.output);
    Check(source == ".wav" || source == ".ncw");
    Check(item.direction ==
          (source == ".wav" ? TConvertDirection::kWavToNcw : TConvertDirection::kNcwToWav));
    Check(output == (source == ".wav" ? ".ncw" : ".wav"));
    Check(item.source == TrimControlAndBlanks(item.source));
  }
  return 0;
}
